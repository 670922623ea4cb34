// The pipeline's parts and the report job sequence.
#include "spool/pipeline.h"

#include "compose/dynamictarget.h"
#include "print/scanprint.h"
#include "printers/printerselect.h"
#include "request/tagfile.h"
#include "spool/composerequest.h"
#include "spool/outputguard.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"
#include "util/serverhome.h"

#include <nlohmann/json.hpp>

#include <sys/statvfs.h>

namespace {

// What a request that prints needs: one key for the scheduler, one for each printer.
constexpr const char* kPrintSystem = "cups";

std::string PrinterKey(const std::string& printer)
{
    return std::string(kPrintSystem) + ":" + printer;
}

std::string Utf8Of(std::string_view systemText)
{
    return ToUnicode(systemText).toStdString();
}

// A full folder counts as one again once it has this much room.
constexpr unsigned long long kRoomBytes = 1024 * 1024;

}  // namespace

TJobPipeline::TJobPipeline(const TServerConfig& config, TLogger& log, TIndicators& indicators)
    : FConfig(config),
      FOuterLog(log),
      FIndicators(indicators),
      FOverlays(config.ProgramDir + kDriverDataFileName),
      FLprQueue(config, log, indicators)
{
    FSpoolTimer.setInterval(kSpoolInterval);
    FPrintingTimer.setInterval(kPrintingInterval);
    QObject::connect(&FSpoolTimer, &QTimer::timeout, &FSpoolTimer, [this] { SpoolTimerTimer(); });
    QObject::connect(&FPrintingTimer, &QTimer::timeout, &FPrintingTimer, [this] { printingtimerTimer(); });
    PrintWholeDocuments(FEngine, FPrinting, FLog);
    FLprQueue.Beep = [this] {
        if (FWindow)
            FWindow->Beep();
    };
    FLprQueue.Journal = &FRecorder;
    FLprQueue.OnAttempt = [this] { Alive(); };
    FLprQueue.Outages = &FOutages;
    Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    FRecorder.Journal().Now = [this] { return Now(); };
    FOutages.Now = [this] { return Now(); };
    FOutages.OnChanged = [this] { PublishState(); };
}

void TJobPipeline::PublishState()
{
    TJournal& journal = FRecorder.Journal();
    if (!journal.IsOpen())
        return;
    nlohmann::json state = {{"outages", nlohmann::json::array()},
                            {"unreadable_names", nlohmann::json::array()},
                            {"not_readable", nlohmann::json::array()}};
    for (const TOutage& outage : FOutages.All())
        state["outages"].push_back({{"key", Utf8Of(outage.Key)},
                                    {"subject", Utf8Of(outage.Subject)},
                                    {"reason", Utf8Of(outage.Reason)},
                                    {"since", outage.Since},
                                    {"failures", outage.Failures}});
    for (const std::string& name : FUnreadableNames)
        state["unreadable_names"].push_back(Utf8Of(name));
    for (const auto& [name, why] : FNotReadable)
        state["not_readable"].push_back({{"name", Utf8Of(name)}, {"why", Utf8Of(why)}});
    // A journal that cannot record says so to the status by its own silence.
    static_cast<void>(journal.SetMeta("state", state.dump()));
}

void TJobPipeline::PrintSystemDown(const std::string& reason)
{
    FOutages.Down(kPrintSystem, "the print system at " + FPrinting.SchedulerName(), reason,
                  "requests to be printed wait in the spool folder", [this]() -> TOutcome {
                      if (FPrinting.Destinations(0).Answered)
                          return TOutcome::Done();
                      return Fail("it does not answer");
                  });
}

namespace {

// Why a printer takes no jobs, in the same words at every look.
std::string NotTakingJobs(const TDestinationState& state)
{
    return std::string(!state.Accepting ? "it is not accepting jobs" : "it is stopped") +
           (state.Message.empty() ? "" : " (" + state.Message + ")");
}

}  // namespace

std::string TJobPipeline::PrintSystemOutage(const std::string& printer)
{
    if (printer.empty())
        return {};
    const TResult<TDestinationState> state = FPrinting.DestinationState(printer);
    FPrinterAsked[printer] = Now();
    if (!state) {
        if (state.Kind() != TFailureKind::Outage)
            return {};  // a printer it does not know is the job's own fault
        PrintSystemDown("it does not answer");
        return kPrintSystem;
    }
    if (state->TakesJobs())
        return {};
    const std::string key = PrinterKey(printer);
    FOutages.Down(key, "printer " + printer, NotTakingJobs(*state), "its requests wait in the spool folder",
                  [this, printer]() -> TOutcome {
                      const TResult<TDestinationState> now = FPrinting.DestinationState(printer);
                      if (!now)
                          return now.Failure();
                      if (now->TakesJobs())
                          return TOutcome::Done();
                      return Fail(NotTakingJobs(*now));
                  });
    return key;
}

std::string TJobPipeline::FolderFull(const std::string& path, const std::string& reason)
{
    std::string folder = path.empty() || path.back() == '/' ? path : ExtractFileDir(path);
    if (folder.empty() || folder[0] != '/')
        folder = FConfig.ProgramDir + folder;  // the server works in its home
    const std::string key = "folder:" + folder;
    FOutages.Down(key, "the folder " + folder, reason, "requests whose output goes there wait in the spool folder",
                  [folder]() -> TOutcome {
                      struct statvfs fs {};
                      if (::statvfs(NativePath(folder).c_str(), &fs) != 0)
                          return Fail("it cannot be examined");
                      if (static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < kRoomBytes)
                          return Fail("no space left");
                      return TOutcome::Done();
                  });
    return key;
}

void TJobPipeline::PrepareJobs()
{
    FRecord = TReportRecord();
    // The graph's file is named by the request: never one of the server's own.
    // Checked and written in the one folder opened, with the folders of the moment.
    FRecord.DrawDynamicRange = [this](std::string_view value) {
        if (const TOutcome drawn = WriteDynamicRangeGraph(value, TOutputGuard(FConfig).Places()); !drawn)
            FLog.logerror("Dynamic range graph \"" + NthField(value, ',', 2) + "\" not drawn for spooler file " +
                          FParsing + ": " + drawn.Reason());
    };
    StartReport(FEngine, FConfig.PageMarginOrDefault());
    LoadTagFile();
    FRecorder.Open();
}

void TJobPipeline::LoadTagFile()
{
    FTagsMissing = !::LoadTagFile(TServerHome(FConfig.ProgramDir).Tags(), FTagList, FRecord, FLog);
}

void TJobPipeline::ResetRecord()
{
    FTagsMissing = !::ResetRecord(TServerHome(FConfig.ProgramDir).Tags(), FTagList, FRecord, FLog);
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
        FLog.logerror(failure.what());
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
        FLog.logerror(moved.Reason());
    FSpoolBusy = false;
    return {exit, std::move(reason)};
}

TFailure TJobPipeline::Waiting(const std::string& key)
{
    const TOutage* outage = FOutages.Find(key);
    return FailOutage(outage ? outage->Reason : std::string("it is down"), key);
}

std::optional<TFailure> TJobPipeline::KnownDown()
{
    if (FOutages.IsDown(kPrintSystem))
        return Waiting(kPrintSystem);
    return std::nullopt;
}

TFailure TJobPipeline::Down(const std::string& reason)
{
    PrintSystemDown(reason);
    return Waiting(kPrintSystem);
}

std::optional<TFailure> TJobPipeline::PrinterDown(const std::string& printer)
{
    // Asked about once before its jobs: a printer that is stopped or not
    // accepting keeps its requests here, where they can still go to another
    // printer, instead of in its queue.
    const auto asked = FPrinterAsked.find(printer);
    if (!FOutages.IsDown(PrinterKey(printer)) &&
        (asked == FPrinterAsked.end() || Now() - asked->second >= TPrintingLayer::kDestinationsReuseMs))
        PrintSystemOutage(printer);
    if (FOutages.IsDown(kPrintSystem))
        return Waiting(kPrintSystem);
    if (FOutages.IsDown(PrinterKey(printer)))
        return Waiting(PrinterKey(printer));
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
    FPrintPending = false;
    FPrintingTimer.stop();
    FSpoolBusy = false;
    if (!printed)
        return {TJobExit::ScanNotPrinted, printed.Reason(), printed.Failure()};
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
    const std::string_view out = FOutputFileName;
    job->OutputKind = !r.ScanId.empty()            ? "scanned images"
                      : out.starts_with("pdf_")    ? "pdf"
                      : out.starts_with("msword_") ? "word"
                      : out.starts_with("rtf_")    ? "rtf"
                      : r.IsFax                    ? "fax"
                                                   : "printed";
    FRecorder.Save("composed: to be " + PlannedOutput(job->OutputKind, job->Printer) +
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
    TJobContext job {FEngine,
                     r,
                     FTagList,
                     FLog,
                     FDevice.PageSetup,
                     FConfig.TemplatesDir,
                     FConfig.ResultsDir,
                     FConfig.PageMarginOrDefault(),
                     FImageProbe};
    job.ProtectedPlaces = TOutputGuard(FConfig).Places();
    TRequestContext request {job, FConfig, FPrinting, FOverlays, this};
    request.DocumentViewShown = [this] { return FWindow && FWindow->DocumentViewShown(); };
    request.TagsMissing = FTagsMissing;
    request.KeepWarning = [this](std::string_view warning) { FRecorder.Warning(warning); };
    const TComposedRequest composed = ComposeRequest(request, name);
    switch (composed.Exit) {
    case TRequestExit::Unprintable:
        return Reject(name, TJobExit::Unprintable, "neither a request and procedure code nor a scan id");
    case TRequestExit::NoPrinter: return Reject(name, TJobExit::NoPrinter, composed.Failure.Reason);
    case TRequestExit::PrintSystemDown:
        FSpoolBusy = false;
        return {TJobExit::SchedulerDown, composed.Failure.Reason, composed.Failure};
    case TRequestExit::ScanImages:
        RecordDecisions();
        return PrintScannedImages();
    case TRequestExit::NotComposed:
    case TRequestExit::Composed: break;
    }
    FRecorder.Tally().Compose.Observe(composed.ComposeSeconds);
    FCurrentDocPath = composed.Compose.CurrentDocPath;
    const TFailure& failure = composed.Failure;
    switch (composed.Compose.Exit) {
    case TComposeExit::EmbeddedNotWritten: return {TJobExit::EmbeddedNotWritten, failure.Reason, failure};
    case TComposeExit::DocumentNotLoaded: return {TJobExit::DocumentNotLoaded, failure.Reason, failure};
    case TComposeExit::EngineFailed:
        FLog.logerror(failure.Reason);
        return {TJobExit::EngineFailed, failure.Reason, failure};
    case TComposeExit::Completed: break;
    }
    Light(TLight::Convert, TLightColor::Off);
    FPlan = composed.Plan;
    FOutputFileName = FPlan.OutputFileName;
    RecordDecisions();
    FPrintPending = true;
    Light(TLight::Printing, TLightColor::Green);
    FPrintingTimer.setInterval(kPrintingInterval);
    FPrintingTimer.start();
    return {TJobExit::Completed, {}};
}
