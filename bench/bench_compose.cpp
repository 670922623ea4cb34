// Composing a typical template request (the demo's validated histology
// report: letterhead with logo, template with numbered, named and address
// tags) to PDF through the same path as printorb-tool render; and
// LibreOffice converting the same merged RTF in a fresh soffice process.
#include "request/tagfile.h"
#include "spool/reportjob.h"

#include "benchmain.h"
#include "libreoffice.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <iostream>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif

namespace {

const std::string kDemo = PRINTORB_SOURCE_DIR "/demo/";
QTemporaryDir* gDir = nullptr;

struct TSilentLog : TLogger {
    void logline(TSeverity, std::string_view) override {}
};

// One request as the server composes it, saved as the given format.
void ComposeDemo(const QString& out, int format)
{
    TSilentLog log;
    TReportRecord record;
    std::vector<std::string> tagList;
    ResetRecord(kDemo + "tags.txt", tagList, record, log);
    std::string text;
    ReadRequestText(kDemo + "requests/histo_validated.tvq", text, 1 << 20);
    ParseIntoRecord(record, text);
    DocumentEngine engine;
    TJobPageSetup setup;
    TImageComponent probe;
    TJobContext job {engine, record, tagList, log, setup, kDemo + "templates/", gDir->path().toStdString() + "/",
                     "10,10,8,10", probe};
    StartReport(engine, job.PageMargin);
    static_cast<void>(ComposeReport(job, "histo_validated.tvq"));
    static_cast<void>(engine.SaveDocument(out, format));
}

void BM_ComposeTemplateRequestToPdf(benchmark::State& state)
{
    const QString pdf = gDir->filePath("report.pdf");
    for (auto _ : state)
        ComposeDemo(pdf, DocumentEngine::PdfFormat);
}
BENCHMARK(BM_ComposeTemplateRequestToPdf)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_LibreOfficeConvertsTheMergedRtf(benchmark::State& state)
{
    const QString rtf = gDir->filePath("merged.rtf");
    ComposeDemo(rtf, DocumentEngine::WordFormat);
    ConvertWithLibreOffice(state, rtf, gDir->path());
}
BENCHMARK(BM_LibreOfficeConvertsTheMergedRtf)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv)
{
    return RunDocumentBenchmarks(argc, argv, gDir);
}
