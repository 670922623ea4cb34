// Composing reports in the document engine, saved as PDF: a letterhead
// (header with a logo, footer) + a one-page template with 40 tags, each made
// a field with text; and a three-page results report with a 50-row table of
// tags. Also checks that memory stays flat over 1,000 reports, and times
// whole printorb-tool convert processes: a 4,000-paragraph document and
// long tables of 1 to 100 pages.
//
// BM_VsLibreOffice sets each report beside LibreOffice converting the same
// merged report, saved as RTF, to PDF (when soffice is installed): cold, one
// copy in a fresh soffice process; and warm, the marginal cost per document
// when one soffice process converts 100 copies, (T100 - T1) / 99, as a word
// processor that is already running would. Both use one private profile,
// made before anything is timed. The ratios are LibreOffice's time over ours:
// ours saved as the server saves (written whole and synced to disk), and
// ours written without the sync, as LibreOffice writes its PDFs.
#include "platform/docengine/documentengine.h"

#include "benchmain.h"
#include "libreoffice.h"
#include "measure.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif
#ifndef PRINTORB_TOOL
#error "PRINTORB_TOOL must be defined by the build"
#endif

namespace {

QTemporaryDir* gDir = nullptr;

QString Letterhead()
{
    return QStringLiteral(PRINTORB_SOURCE_DIR "/tests/platform/data/lo/lo_letterhead_a4.rtf");
}

QString ResultsReport()
{
    return QStringLiteral(PRINTORB_SOURCE_DIR "/tests/platform/data/lo/lo_results_report.rtf");
}

QString TemplatePath()
{
    return gDir->filePath("P1.tpl");
}

void MakeTemplate()
{
    DocumentEngine e;
    static_cast<void>(e.SetFontSize(11));
    for (int i = 1; i <= 40; ++i)
        e.SetSelText(QStringLiteral("Result item %1: <<TAG%1>> mmol/L, reference <<REF%1>>\n").arg(i).left(60));
    static_cast<void>(e.SaveDocument(TemplatePath(), DocumentEngine::OwnFormat));
}

// Values of the next reports: with gNewNames each report's first tag gets
// a patient name of its own, so its letters (and the font subsets the PDF
// embeds) differ from the report before.
bool gNewNames = false;
unsigned gNameSeed = 12345;

QString NextName()
{
    QString name;
    for (int i = 0; i < 14; ++i) {
        gNameSeed = gNameSeed * 1103515245u + 12345u;
        const unsigned r = (gNameSeed >> 16) % 52;
        name += QChar(r < 26 ? 'A' + r : 'a' + (r - 26));
    }
    return name;
}

// Every tag of a part made a field with a value, through the engine's pass
// the merge uses.
void FillTags(DocumentEngine& e, int part)
{
    int n = 0;
    e.FillMarkedFields(part, QStringLiteral("<<"), QStringLiteral(">>"), [&](const QString&) {
        const QString value = gNewNames && n == 0 ? NextName() : QStringLiteral("%1.%2").arg(n).arg(n % 7);
        ++n;
        return std::optional<TFieldFill>(TFieldFill {value, false});
    });
}

// The letterhead, with the template in place of its main text.
void LoadLetterheadAndTemplate(DocumentEngine& e)
{
    static_cast<void>(e.LoadDocument(Letterhead()));
    static_cast<void>(e.SetPageWidth(e.LoadSaveAttribute(0)));
    static_cast<void>(e.SetPageHeight(e.LoadSaveAttribute(1)));
    const int letterheadText = static_cast<int>(e.PartText(DocumentEngine::MainPart).size());
    static_cast<void>(e.InsertDocument(TemplatePath(), 0, letterheadText));
}

// One report, as the job composes it.
void Compose(DocumentEngine& e, const QString& pdf)
{
    e.ClearDocument();
    LoadLetterheadAndTemplate(e);
    FillTags(e, DocumentEngine::MainPart);
    if (!pdf.isEmpty())
        static_cast<void>(e.SaveDocument(pdf, DocumentEngine::PdfFormat));
}

// A results report as word processors make them: three pages, a first-page
// header with a logo, a table of 50 rows with tags in its cells, a
// footnote; its tags filled in, saved as PDF.
void FillResultsReport(DocumentEngine& e, const QString& pdf)
{
    e.ClearDocument();
    static_cast<void>(e.LoadDocument(ResultsReport()));
    for (const int part : {DocumentEngine::HeaderFirstPart, DocumentEngine::HeaderPart, DocumentEngine::MainPart})
        FillTags(e, part);
    if (!pdf.isEmpty())
        static_cast<void>(e.SaveDocument(pdf, DocumentEngine::PdfFormat));
}

using TCompose = void (*)(DocumentEngine&, const QString&);

void BM_ToPdf(benchmark::State& state, TCompose compose)
{
    DocumentEngine e;
    const QString pdf = gDir->filePath("report.pdf");
    for (auto _ : state)
        compose(e, pdf);
}

BENCHMARK_CAPTURE(BM_ToPdf, ComposeReport, Compose)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);
// Worst case for the font subsets kept between documents: every report
// needs subsets of its own.
void ComposeWithANewName(DocumentEngine& e, const QString& pdf)
{
    gNewNames = true;
    Compose(e, pdf);
    gNewNames = false;
}
BENCHMARK_CAPTURE(BM_ToPdf, ComposeReportEachWithANewName, ComposeWithANewName)->Unit(benchmark::kMillisecond)
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_ToPdf, ResultsTableReport, FillResultsReport)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);

struct Versus {
    double oursMs = 0;
    double oursUnsyncedMs = 0;  // the PDF written as LibreOffice writes its own, without syncing it to disk
    double t1Ms = 0;    // one copy, a fresh soffice process (median)
    double t100Ms = 0;  // 100 copies, one soffice process
    QString error;
};

constexpr int kCopies = 100;

// Our median over 50 reports after a few warm-ups, then LibreOffice on the
// same report's RTF copies, each run checked for the PDFs it should make.
Versus MeasureVsLibreOffice(DocumentEngine& e, TCompose compose, const QString& soffice, const QString& profile,
                            const QStringList& copies, const QString& dir)
{
    constexpr int kWarmUps = 5, kRuns = 50, kColdRuns = 3;
    constexpr int kTimeoutMs = 600000;
    Versus v;
    auto failed = [](const QString& what, const SofficeRun& run) {
        return run.error.isEmpty() ? what : what + ": " + run.error;
    };
    const QString ourPdf = dir + "/ours.pdf";
    // The previous report's soffice may still be winding down; our figure is
    // taken on a quiet machine, as LibreOffice's is.
    for (int i = 0; i < 100; ++i) {
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), QStringLiteral("soffice")});
        pgrep.waitForFinished(5000);
        if (pgrep.exitCode() != 0)
            break;
        QThread::msleep(100);
    }
    QThread::msleep(500);
    for (int i = 0; i < kWarmUps; ++i)
        compose(e, ourPdf);
    std::vector<double> ours;
    QElapsedTimer t;
    for (int i = 0; i < kRuns; ++i) {
        t.start();
        compose(e, ourPdf);
        ours.push_back(t.nsecsElapsed() / 1e6);
    }
    v.oursMs = Median(ours);
    ours.clear();
    for (int i = 0; i < kRuns; ++i) {
        t.start();
        compose(e, QString());
        QFile file(ourPdf);
        if (!file.open(QIODevice::WriteOnly) || file.write(e.PdfBytes(QStringLiteral("ours"))) <= 0) {
            v.error = QStringLiteral("could not write ") + ourPdf;
            return v;
        }
        file.close();
        ours.push_back(t.nsecsElapsed() / 1e6);
    }
    v.oursUnsyncedMs = Median(ours);

    const QStringList one{copies.front()};
    const QString out = dir + "/out";
    // The first run makes the profile; it is not timed.
    const SofficeRun warmUp = ConvertBatchWithLibreOffice(soffice, profile, one, out, kTimeoutMs);
    if (!warmUp.error.isEmpty() || warmUp.pdfs != 1) {
        v.error = failed("LibreOffice's warm-up run made no PDF", warmUp);
        return v;
    }
    std::vector<double> cold;
    for (int i = 0; i < kColdRuns; ++i) {
        const SofficeRun run = ConvertBatchWithLibreOffice(soffice, profile, one, out, kTimeoutMs);
        if (!run.error.isEmpty() || run.pdfs != 1) {
            v.error = failed("LibreOffice made no PDF of one copy", run);
            return v;
        }
        cold.push_back(run.ms);
    }
    v.t1Ms = Median(cold);
    const SofficeRun batch = ConvertBatchWithLibreOffice(soffice, profile, copies, out, kTimeoutMs);
    if (!batch.error.isEmpty() || batch.pdfs != copies.size()) {
        v.error = failed(QStringLiteral("LibreOffice made %1 of %2 PDFs in one soffice process")
                             .arg(batch.pdfs)
                             .arg(copies.size()),
                         batch);
        return v;
    }
    v.t100Ms = batch.ms;
    return v;
}

// Both sides in one run, so the ratios compare figures taken on the same
// machine at the same time. The time column is our median.
void BM_VsLibreOffice(benchmark::State& state, TCompose compose, const char* name)
{
    const QString soffice = SofficePath();
    if (soffice.isEmpty()) {
        state.SkipWithError(kNoSoffice);
        return;
    }
    const QString dir = gDir->filePath(QStringLiteral("vs-lo-") + QLatin1String(name));
    QDir().mkpath(dir + "/in");
    DocumentEngine e;
    compose(e, QString());
    const QString merged = dir + "/merged.rtf";
    static_cast<void>(e.SaveDocument(merged, DocumentEngine::WordFormat));
    QStringList copies;
    for (int i = 1; i <= kCopies; ++i) {
        copies << QStringLiteral("%1/in/copy%2.rtf").arg(dir).arg(i, 3, 10, QLatin1Char('0'));
        QFile::remove(copies.back());
        if (!QFile::copy(merged, copies.back())) {
            state.SkipWithError("could not copy the merged RTF");
            return;
        }
    }

    for (auto _ : state) {
        const Versus v = MeasureVsLibreOffice(e, compose, soffice, SofficeProfileArgument(gDir->path()), copies, dir);
        if (!v.error.isEmpty()) {
            state.SkipWithError(v.error.toStdString().c_str());  // the library copies it
            break;
        }
        const double warmMs = (v.t100Ms - v.t1Ms) / (kCopies - 1);
        state.SetIterationTime(v.oursMs / 1000);
        state.SetLabel("time = ours_ms");
        state.counters["ours_ms"] = v.oursMs;
        state.counters["lo_cold_ms"] = v.t1Ms;
        state.counters["lo_warm_ms"] = warmMs;
        state.counters["lo_100_copies_ms"] = v.t100Ms;
        state.counters["warm_ratio"] = warmMs / v.oursMs;
        state.counters["cold_ratio"] = v.t1Ms / v.oursMs;
        state.counters["ours_unsynced_ms"] = v.oursUnsyncedMs;
        state.counters["warm_ratio_unsynced"] = warmMs / v.oursUnsyncedMs;
    }
}
BENCHMARK_CAPTURE(BM_VsLibreOffice, ComposeReport, Compose, "compose")->Unit(benchmark::kMillisecond)
    ->UseManualTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_VsLibreOffice, ResultsTableReport, FillResultsReport, "results")
    ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// Where a report's time goes, step by step (ms per report): loading the
// letterhead and template (or the report), filling the tags, laying out the
// pages, drawing the PDF, and writing the file whole.
void BM_ComposeSteps(benchmark::State& state, bool results)
{
    DocumentEngine e;
    const QString pdf = gDir->filePath("steps.pdf");
    double load = 0, fill = 0, layout = 0, draw = 0, write = 0;
    QElapsedTimer t;
    auto lap = [&](double& sum) {
        sum += t.nsecsElapsed() / 1e6;
        t.restart();
    };
    for (auto _ : state) {
        t.start();
        e.ClearDocument();
        if (results) {
            static_cast<void>(e.LoadDocument(ResultsReport()));
            lap(load);
            for (const int part : {DocumentEngine::HeaderFirstPart, DocumentEngine::HeaderPart,
                                   DocumentEngine::MainPart})
                FillTags(e, part);
        } else {
            LoadLetterheadAndTemplate(e);
            lap(load);
            FillTags(e, DocumentEngine::MainPart);
        }
        lap(fill);
        benchmark::DoNotOptimize(e.CurrentPages());
        lap(layout);
        const QByteArray bytes = e.PdfBytes(QStringLiteral("steps"));
        lap(draw);
        QSaveFile out(pdf);
        out.open(QIODevice::WriteOnly);
        out.write(bytes);
        out.commit();
        lap(write);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["load_ms"] = load / n;
    state.counters["fill_ms"] = fill / n;
    state.counters["layout_ms"] = layout / n;
    state.counters["pdf_ms"] = draw / n;
    state.counters["write_ms"] = write / n;
}
BENCHMARK_CAPTURE(BM_ComposeSteps, ComposeReport, false)->Unit(benchmark::kMillisecond)->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_ComposeSteps, ResultsTableReport, true)->Unit(benchmark::kMillisecond)->Repetitions(3)
    ->ReportAggregatesOnly(true);

// 4,000 one-line paragraphs of 10-point Arial on a 6-inch line (72 pages in
// LibreOffice), the last 3,000 a hair wider than the line unless their
// advances are rounded as LibreOffice rounds them; converted by the tool in
// a process of its own, from its start to its end.
void BM_ConvertLongDocumentProcess(benchmark::State& state)
{
    const std::string line =
        "Aa tg ubpp duhetn nt dhbetdtbta pno ptophegptaut hu bg napt epto nhp dtp bub ub egtnbgttphnnb";
    std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\n"
                      "\\paperw12240\\paperh15840\\margl1800\\margr1800\\margt1440\\margb1440\n";
    for (int i = 0; i < 4000; ++i)
        rtf += "{\\pard\\plain\\f0\\fs20 " + (i < 1000 ? line.substr(0, line.size() - 1) : line) + "\\par}\n";
    rtf += "}";
    const QString in = gDir->filePath("long.rtf"), out = gDir->filePath("long.pdf");
    std::ofstream(in.toStdString(), std::ios::binary) << rtf;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (auto _ : state) {
        QProcess tool;
        tool.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        tool.start(QStringLiteral(PRINTORB_TOOL), {"convert", in, out});
        const bool done = tool.waitForFinished(60000);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
        if (!done || tool.exitCode() != 0) {
            state.SkipWithError("printorb-tool convert failed");
            break;
        }
    }
}
BENCHMARK(BM_ConvertLongDocumentProcess)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5)
    ->Repetitions(3)->ReportAggregatesOnly(true);

// A long results table: a line of text, then rows of four bordered cells.
QString LongTable(int rows)
{
    const QString path = gDir->filePath(QStringLiteral("long%1.rtf").arg(rows));
    if (QFile::exists(path))
        return path;
    std::string def = "\\trowd\\trgaph108\\trleft0";
    for (int x : {2400, 4800, 7200, 9600})
        def += "\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10\\clbrdrr\\brdrs\\brdrw10"
               "\\cellx" + std::to_string(x);
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}"
                      "\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134"
                      "\\pard\\plain\\f0\\fs20 Long results table\\par\n";
    for (int i = 0; i < rows; ++i)
        rtf += def + "\\pard\\intbl\\plain\\f0\\fs20 Analyte " + std::to_string(i + 1) + "\\cell " +
               std::to_string(i % 17) + "." + std::to_string(i % 10) + "\\cell mmol/L\\cell " + std::to_string(i % 5) +
               "-" + std::to_string(i % 5 + 7) + "\\cell\\row\n";
    rtf += "\\pard\\plain\\f0\\fs20 End of report\\par}";
    std::ofstream(path.toStdString(), std::ios::binary) << rtf;
    return path;
}

// The whole `printorb-tool convert` process of a long table, from its start
// to its exit: 50 rows make one page, 4,000 rows 67 (as LibreOffice makes
// them). ms_per_page should stay flat as the table grows.
void BM_LongTableConvert(benchmark::State& state)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/printorb-tool");
    const QString in = LongTable(static_cast<int>(state.range(0)));
    const QString out = gDir->filePath(QStringLiteral("long.pdf"));
    double total = 0;
    int pages = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        QProcess p;
        p.start(tool, {QStringLiteral("convert"), in, out});
        if (!p.waitForFinished(300000) || p.exitCode() != 0) {
            state.SkipWithError("printorb-tool convert failed");
            break;
        }
        const double s = t.nsecsElapsed() / 1e9;
        state.SetIterationTime(s);
        total += s;
        // "FILE: N page(s), ..."
        const QByteArray said = p.readAllStandardOutput();
        const qsizetype at = said.indexOf(" page(s)");
        if (at > 0)
            pages = said.left(at).mid(said.lastIndexOf(' ', at - 1) + 1).toInt();
    }
    state.counters["pages"] = pages;
    if (pages > 0 && state.iterations() > 0)
        state.counters["ms_per_page"] = total * 1000 / static_cast<double>(state.iterations()) / pages;
}
BENCHMARK(BM_LongTableConvert)->Arg(50)->Arg(590)->Arg(2980)->Arg(4000)->Arg(5980)->UseManualTime()
    ->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MemoryOver1000Reports(benchmark::State& state)
{
    DocumentEngine e;
    const QString pdf = gDir->filePath("memory.pdf");
    for (auto _ : state) {
        for (int i = 0; i < 50; ++i)
            Compose(e, pdf);  // warm-up: caches and font files
        const long before = RssKb();
        for (int i = 0; i < 1000; ++i)
            Compose(e, pdf);
        const long after = RssKb();
        state.counters["rss_before_MB"] = before / 1024.0;
        state.counters["rss_after_MB"] = after / 1024.0;
        state.counters["growth_MB"] = (after - before) / 1024.0;
    }
}
BENCHMARK(BM_MemoryOver1000Reports)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv)
{
    return RunDocumentBenchmarks(argc, argv, gDir, MakeTemplate);
}
