// Parsing a large request and decoding its embedded document. Run with
// "make bench"; the Big-O line shows whether the time grows linearly.
#include "request/base64.h"
#include "request/reportrecord.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <random>

namespace {

// A request of about scale x 5 MB: scale x 4 MB of Base64 in 76-character
// lines, and scale x 2,000 ordinary fields of about 500 bytes.
std::string MakeRequest(int scale)
{
    std::mt19937 random(42);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text = "HV_TEMPLATE~LH1^HV_REQCODE~R1^HV_PROCCODE~P1";
    for (int i = 0; i < 2000 * scale; ++i) {
        text += "^HV_FIELD" + std::to_string(i) + "~";
        for (int j = 0; j < 490; ++j)
            text += static_cast<char>('a' + random() % 26);
    }
    text += "^HV_B64DATA~";
    const std::size_t b64 = 4u * 1024 * 1024 * static_cast<std::size_t>(scale);
    for (std::size_t i = 0; i < b64; ++i) {
        text += alphabet[random() % 64];
        if (i % 76 == 75)
            text += "\r\n";
    }
    text += "^HV_PRINTER~3";
    return text;
}

void BM_ParseAndDecode(benchmark::State& state)
{
    const std::string text = MakeRequest(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TReportRecord record;
        record.DrawDynamicRange = nullptr;
        record.ResetFields();
        record.ParseRequest(text);
        const std::string document = DecodeBase64(record.EmbeddedDocument);
        benchmark::DoNotOptimize(document.data());
    }
    state.SetComplexityN(static_cast<benchmark::IterationCount>(text.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["request_MB"] = static_cast<double>(text.size()) / (1024 * 1024);
}

}  // namespace

BENCHMARK(BM_ParseAndDecode)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true)->Complexity(benchmark::oN);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
