// The pipeline's parts and the report job sequence.
#include "spool/pipeline.h"

#include "compose/dynamictarget.h"
#include "print/scanprint.h"
#include "printers/printerselect.h"
#include "request/tagfile.h"
#include "spool/outputguard.h"
#include "spool/reportjob.h"
#include "util/fileutil.h"
#include "util/textutil.h"

TJobPipeline::TJobPipeline(const TServerConfig& config, TLogger& log, TIndicators& indicators)
    : FConfig(config),
      FLog(log),
      FIndicators(indicators),
      FOverlays(config.ProgramDir + kDriverDataFileName),
      FLprQueue(config, log, indicators)
{
    SpoolTimer.setInterval(kSpoolInterval);
    printingtimer.setInterval(kPrintingInterval);
    QObject::connect(&SpoolTimer, &QTimer::timeout, &SpoolTimer, [this] { SpoolTimerTimer(); });
    QObject::connect(&printingtimer, &QTimer::timeout, &printingtimer, [this] { printingtimerTimer(); });
    PrintWholeDocuments(FEngine, FPrinting, FLog);
    FLprQueue.Beep = [this] {
        if (FWindow)
            FWindow->Beep();
    };
    FLprQueue.Journal = &FRecorder;
    Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    FRecorder.Journal().Now = [this] { return Now(); };
}

void TJobPipeline::PrepareJobs()
{
    FRecord = TReportRecord();
    // The graph's file is named by the request: never one of the server's own.
    // Checked and written in the one folder opened, with the folders of the moment.
    FRecord.DrawDynamicRange = [this](std::string_view value) {
        if (const TOutcome drawn = WriteDynamicRangeGraph(value, TOutputGuard(FConfig).Places()); !drawn)
            FLog.loginfo("Dynamic range graph \"" + NthField(value, ',', 2) + "\" not drawn for spooler file " +
                         FParsing + ": " + drawn.Reason());
    };
    StartReport(FEngine, FConfig.PageMarginOrDefault());
    LoadTagFile();
    FRecorder.Open();
}

void TJobPipeline::LoadTagFile()
{
    ::LoadTagFile(FConfig.ProgramDir + "tags.txt", FTagList, FRecord, FLog);
}

void TJobPipeline::Repaint()
{
    if (FWindow)
        FWindow->Repaint();
}

void TJobPipeline::DispatchLprQueue()
{
    try {
        FLprQueue.SendAll = FConfig.DrainBacklog;
        FLprQueue.DispatchLprQueue();
    } catch (const std::exception& failure) {
        // A socket error or an unreadable prepared copy ends this round; the
        // file stays queued for the next tick.
        FLog.loginfo(failure.what());
    }
}

TOutcome TJobPipeline::MoveToUnprintable(std::string_view name)
{
    const std::string dir = FConfig.SpoolDir + "unprintable/";
    if (!DirExists(dir) && !ForceDir(dir))
        return Fail("Could not create the unprintable directory \"" + dir + "\"");
    if (const TOutcome moved = MoveFileTo(FConfig.SpoolDir, name, dir, name); !moved)
        return Fail("ERROR - " + moved.Reason(), moved.Detail());
    return TOutcome::Done();
}

TOutcome TJobPipeline::MoveToFailed(std::string_view name)
{
    const std::string dir = FConfig.SpoolDir + "failed/";
    if (!DirExists(dir) && !ForceDir(dir))
        return Fail("Could not create the failed directory \"" + dir + "\"");
    // An earlier request of that name may be there: this one goes beside it.
    std::string target(name);
    for (int n = 2; FileExists(dir + target); ++n)
        target = std::to_string(n) + "-" + std::string(name);
    if (const TOutcome moved = MoveFileTo(FConfig.SpoolDir, name, dir, target); !moved)
        return Fail("ERROR - " + moved.Reason(), moved.Detail());
    return TOutcome::Done();
}

std::string TJobPipeline::SelectPrinterByNumber(std::string_view number)
{
    return ::SelectPrinterByNumber(number, FConfig, FPrinting);
}

void TJobPipeline::GetMacros(std::string& first, std::string& other)
{
    const TReportRecord& r = FRecord;
    FOverlays.GetMacros({r.PrintMask, r.PrintMask2, r.PrnFileName, r.PrnOtherFileName}, FConfig.OverlayDir,
                        FPrinting.CurrentPrinter, FLog, first, other);
}

TJobEnd TJobPipeline::Reject(std::string_view name, TJobExit exit, std::string reason)
{
    if (const TOutcome moved = MoveToUnprintable(name); !moved)
        FLog.loginfo(moved.Reason());
    SpoolBusy = false;
    return {exit, std::move(reason)};
}

std::optional<TJobEnd> TJobPipeline::ChoosePrinter(std::string_view name)
{
    TReportRecord& r = FRecord;
    if (!SelectPrinterByNumber(r.PrinterNumber).empty())
        return std::nullopt;
    FLog.loginfo("Printer " + r.PrinterNumber + " does not exist, using default (printer " +
                 FConfig.DefaultPrinterNumber + ").");
    r.PrinterNumber = FConfig.DefaultPrinterNumber;
    if (!SelectPrinterByNumber(r.PrinterNumber).empty())
        return std::nullopt;
    const bool savedOnly = !r.OutputDocument.empty() && r.ScanId.empty();  // needs no printer
    if (!savedOnly && !FPrinting.ListPrinters()) {
        // A print system that is down for a while must not send the
        // laboratory's requests to "unprintable".
        FLog.loginfo("The print system does not answer; spooler file " + std::string(name) +
                     " waits in the spool folder.");
        SpoolBusy = false;
        return TJobEnd {TJobExit::SchedulerDown, "the print system does not answer"};
    }
    FLog.loginfo("No default printer!");
    if (!savedOnly)
        return Reject(name, TJobExit::NoPrinter, "no printer could be selected");
    return std::nullopt;
}

TJobEnd TJobPipeline::PrintScannedImages()
{
    const TReportRecord& r = FRecord;
    TScanContext scan {r.ScanId,     r.PaperTray, FConfig.ImageDirs, FConfig.AutoScanSubDir,
                       FMultiImage,  FDevice,     FEngine,           FLog,
                       [this](std::string& first, std::string& other) { GetMacros(first, other); }, &FRecorder};
    const TOutcome printed = PrintScanJob(scan);
    FMultiImage.SetImageName("");
    PrintPending = false;
    printingtimer.stop();
    SpoolBusy = false;
    if (!printed)
        return {TJobExit::ScanNotPrinted, printed.Reason()};
    return {TJobExit::ScanPrinted, {}};
}

void TJobPipeline::RecordDecisions()
{
    std::optional<TJobRow>& job = FRecorder.Current();
    if (!job)
        return;
    const TReportRecord& r = FRecord;
    job->Printer = FPrinting.CurrentPrinter;
    std::string overlay;
    for (const auto& [field, value] : {std::pair {"PMASK ", r.PrintMask}, std::pair {"PMASK2 ", r.PrintMask2},
                                       std::pair {"PRNFILENAME ", r.PrnFileName},
                                       std::pair {"PRNOTHERFILENAME ", r.PrnOtherFileName}})
        if (!value.empty())
            overlay += (overlay.empty() ? "" : ", ") + std::string(field) + value;
    job->Overlay = overlay;
    const std::string_view out = OutputFileName;
    job->OutputKind = !r.ScanId.empty()            ? "scanned images"
                      : out.starts_with("pdf_")    ? "pdf"
                      : out.starts_with("msword_") ? "word"
                      : out.starts_with("rtf_")    ? "rtf"
                      : r.IsFax                    ? "fax"
                                                   : "printed";
    FRecorder.Save("composed: " + job->OutputKind + (job->Printer.empty() ? "" : " on " + job->Printer) +
                   (overlay.empty() ? "" : ", overlay " + overlay));
}

TJobEnd TJobPipeline::RunReportJob(std::string_view text, std::string_view name)
{
    TReportRecord& r = FRecord;
    FParsing = std::string(name);
    ParseIntoRecord(r, text);
    if (std::optional<TJobRow>& job = FRecorder.Current()) {
        job->ReqCode = r.GetReqCode();
        job->ProcCode = r.GetProcCode();
    }
    if (IsUnprintable(r)) {
        FLog.loginfo(UnprintableMessage(name));
        return Reject(name, TJobExit::Unprintable, "neither a request and procedure code nor a scan id");
    }
    if (std::optional<TJobEnd> exit = ChoosePrinter(name))
        return *exit;

    StartReport(FEngine, FConfig.PageMarginOrDefault());
    if (!r.ScanId.empty()) {
        RecordDecisions();
        return PrintScannedImages();
    }

    TJobContext job {FEngine,
                     r,
                     FTagList,
                     FLog,
                     FDevice.PageSetup,
                     FConfig.TemplatesDir,
                     FConfig.ResultsDir,
                     FConfig.LprQueueDir,
                     FConfig.PageMarginOrDefault(),
                     FImageProbe};
    const TComposeResult composed = ComposeReport(job, name);
    CurrentDocPath = composed.CurrentDocPath;
    switch (composed.Exit) {
    case TComposeExit::EmbeddedNotWritten: return {TJobExit::EmbeddedNotWritten, composed.Failure};
    case TComposeExit::DocumentNotLoaded: return {TJobExit::DocumentNotLoaded, composed.Failure};
    case TComposeExit::EngineFailed:
        FLog.loginfo(composed.Failure);
        return {TJobExit::EngineFailed, composed.Failure};
    case TComposeExit::Completed: break;
    }
    Light(TLight::Convert, TLightColor::Off);
    OutputFileName = composed.OutputFileName;
    RecordDecisions();
    PrintPending = true;
    Light(TLight::Printing, TLightColor::Green);
    printingtimer.setInterval(kPrintingInterval);
    printingtimer.start();
    return {TJobExit::Completed, {}};
}
