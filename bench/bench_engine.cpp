// Composing reports in the document engine, saved as PDF: a letterhead
// (header with a logo, footer) + a one-page template with 40 tags, each made
// a field with text; and a three-page results report with a 50-row table of
// tags. Each beside LibreOffice converting the same merged RTF in a fresh
// soffice process, when soffice is installed. Also checks that memory stays
// flat over 1,000 reports.
#include "platform/docengine/documentengine.h"

#include "benchmain.h"
#include "libreoffice.h"
#include "measure.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <string>

#ifndef PRINTORB_SOURCE_DIR
#error "PRINTORB_SOURCE_DIR must be defined by the build"
#endif

namespace {

QTemporaryDir* gDir = nullptr;

QString Letterhead()
{
    return QStringLiteral(PRINTORB_SOURCE_DIR "/tests/platform/data/lo/lo_letterhead_a4.rtf");
}

QString TemplatePath()
{
    return gDir->filePath("P1.tpl");
}

void MakeTemplate()
{
    DocumentEngine e;
    e.SetFontSize(11);
    for (int i = 1; i <= 40; ++i)
        e.SetSelText(QStringLiteral("Result item %1: <<TAG%1>> mmol/L, reference <<REF%1>>\n").arg(i).left(60));
    e.SaveDocument(TemplatePath(), -1, DocumentEngine::OwnFormat, false);
}

// Every tag of the active part made a field with a value, as the merge does.
void FillTags(DocumentEngine& e)
{
    for (int pos = 0, n = 0;; ++n) {
        const int open = e.Find(QStringLiteral("<<"), pos, 24);
        const int close = open < 0 ? -1 : e.Find(QStringLiteral(">>"), open, 24);
        if (close < 0)
            break;
        e.SetSelStart(open);
        e.SetSelLength(close + 2 - open);
        e.InsertField(QString());
        e.SetFieldText(QStringLiteral("%1.%2").arg(n).arg(n % 7));
        e.SetFieldChangeable(false);
        pos = open;
    }
}

// One report, as the job composes it.
void Compose(DocumentEngine& e, const QString& pdf)
{
    e.ClearDocument();
    e.LoadDocument(Letterhead(), 0, DocumentEngine::WordFormat, false);
    e.SetPageWidth(e.LoadSaveAttribute(0));
    e.SetPageHeight(e.LoadSaveAttribute(1));
    e.ActivatePart(DocumentEngine::MainPart);
    e.SetSelStart(0);
    e.SetSelLength(static_cast<int>(e.Text().size()));
    e.LoadDocument(TemplatePath(), 0, DocumentEngine::OwnFormat, true);
    FillTags(e);
    if (!pdf.isEmpty())
        e.SaveDocument(pdf, -1, DocumentEngine::PdfFormat, false);
}

// A results report as word processors make them: three pages, a first-page
// header with a logo, a table of 50 rows with tags in its cells, a
// footnote; its tags filled in, saved as PDF.
void FillResultsReport(DocumentEngine& e, const QString& pdf)
{
    e.ClearDocument();
    e.LoadDocument(QStringLiteral(PRINTORB_SOURCE_DIR "/tests/platform/data/lo/lo_results_report.rtf"), 0,
                   DocumentEngine::WordFormat, false);
    for (const int part : {DocumentEngine::HeaderFirstPart, DocumentEngine::HeaderPart, DocumentEngine::MainPart}) {
        e.ActivatePart(part);
        FillTags(e);
    }
    e.ActivatePart(DocumentEngine::MainPart);
    if (!pdf.isEmpty())
        e.SaveDocument(pdf, -1, DocumentEngine::PdfFormat, false);
}

using TCompose = void (*)(DocumentEngine&, const QString&);

void BM_ToPdf(benchmark::State& state, TCompose compose)
{
    DocumentEngine e;
    const QString pdf = gDir->filePath("report.pdf");
    for (auto _ : state)
        compose(e, pdf);
}

// LibreOffice converting the same report, saved as RTF once.
void BM_LibreOffice(benchmark::State& state, TCompose compose)
{
    DocumentEngine e;
    compose(e, QString());
    const QString rtf = gDir->filePath("merged.rtf");
    e.SaveDocument(rtf, -1, DocumentEngine::WordFormat, false);
    ConvertWithLibreOffice(state, rtf, gDir->path());
}

BENCHMARK_CAPTURE(BM_ToPdf, ComposeReport, Compose)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_LibreOffice, ComposeReport, Compose)->Unit(benchmark::kMillisecond)->Iterations(3)
    ->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_ToPdf, ResultsTableReport, FillResultsReport)->Unit(benchmark::kMillisecond)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_LibreOffice, ResultsTableReport, FillResultsReport)->Unit(benchmark::kMillisecond)
    ->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

// Where the typical report's time goes, step by step (ms per report):
// loading the letterhead, loading the template, filling its tags, laying
// out and drawing the PDF, and writing the file whole.
void BM_ComposeSteps(benchmark::State& state)
{
    DocumentEngine e;
    const QString pdf = gDir->filePath("steps.pdf");
    double load = 0, tmpl = 0, fill = 0, draw = 0, write = 0;
    QElapsedTimer t;
    auto lap = [&](double& sum) {
        sum += t.nsecsElapsed() / 1e6;
        t.restart();
    };
    for (auto _ : state) {
        t.start();
        e.ClearDocument();
        e.LoadDocument(Letterhead(), 0, DocumentEngine::WordFormat, false);
        e.SetPageWidth(e.LoadSaveAttribute(0));
        e.SetPageHeight(e.LoadSaveAttribute(1));
        lap(load);
        e.ActivatePart(DocumentEngine::MainPart);
        e.SetSelStart(0);
        e.SetSelLength(static_cast<int>(e.Text().size()));
        e.LoadDocument(TemplatePath(), 0, DocumentEngine::OwnFormat, true);
        lap(tmpl);
        FillTags(e);
        lap(fill);
        const QByteArray bytes = e.PdfBytes(QStringLiteral("steps"));
        lap(draw);
        QSaveFile out(pdf);
        out.open(QIODevice::WriteOnly);
        out.write(bytes);
        out.commit();
        lap(write);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["letterhead_ms"] = load / n;
    state.counters["template_ms"] = tmpl / n;
    state.counters["fill_ms"] = fill / n;
    state.counters["layout_pdf_ms"] = draw / n;
    state.counters["write_ms"] = write / n;
}
BENCHMARK(BM_ComposeSteps)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

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
