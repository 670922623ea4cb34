// The spool tick (one spool file taken per tick) and the hand-over to the
// print run on the printing timer.
#include "spool/pipeline.h"

#include "print/printrun.h"
#include "request/tagfile.h"
#include "spool/outputguard.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/spoolfiles.h"
#include "util/textutil.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::int64_t ListedSize(std::string_view text)
{
    std::int64_t size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    return error == std::errc() && end == text.data() + text.size() && size >= 0 ? size : 0;
}

QDateTime CurrentTime()
{
    return QDateTime::currentDateTime();
}

}  // namespace

std::int64_t CountReadableBytes(const std::string& path, std::int64_t expected)
{
    // Opened for reading and writing: a file that its writer still holds
    // read-only, or that is read-only, counts as not complete.
    const int fd = ::open(NativePath(path).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 0;
    std::int64_t total = 0;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char block[1000];
        for (;;) {
            const ssize_t got = ::read(fd, block, sizeof block);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            total += got;
            if (total > expected + 1000)
                break;
        }
    }
    ::close(fd);
    return total;
}

void TJobPipeline::Idle()
{
    BusySince = CurrentTime();
    SpoolBusy = false;
}

void TJobPipeline::SpoolTimerTimer()
{
    if (OnTick)
        OnTick();
    FRecorder.Tick();
    FIndicators.SetPrintQueue(static_cast<unsigned>(WaitingFiles.size()));
    Light(TLight::Printing, PrintPending ? TLightColor::Red : TLightColor::Off);
    if (SpoolBusy) {
        Light(TLight::Spool, TLightColor::Red);
        if (BusySince.msecsTo(CurrentTime()) > kWatchdogSeconds * 1000LL) {
            FLog.loginfo("The Print Spooler has been busy for too long:\r\n             Forcing Reset..");
            SpoolBusy = false;
            PrintPending = false;
            Light(TLight::Printing, TLightColor::Off);
            Light(TLight::Spool, TLightColor::Off);
            printingtimer.stop();
            BusySince = CurrentTime();
            try {
                FLprQueue.Ftp.Abort();
            } catch (...) {
                // The connection is being dropped anyway.
            }
        }
        return;
    }
    SpoolBusy = true;
    BusySince = CurrentTime();
    const TLightColor spool = FIndicators.Light(TLight::Spool);
    if (spool == TLightColor::Off)
        Light(TLight::Spool, TLightColor::Green);
    else if (spool == TLightColor::Green)
        Light(TLight::Spool, TLightColor::Off);
    const std::int64_t started = QDateTime::currentMSecsSinceEpoch();
    try {
        Tick();
        DrainBacklog(started);
    } catch (const std::exception& failure) {
        // The job stays busy; the watchdog frees the server.
        FLog.loginfo(failure.what());
    }
    Light(TLight::Convert, TLightColor::Off);
}

bool TJobPipeline::ListWaitingFiles()
{
    // The listing is taken anew only once the last one is used up.
    if (WaitingFiles.empty()) {
        ListSpoolFiles(FConfig.SpoolDir + "*.tvq", WaitingFiles);
        AppendSpoolFiles(FConfig.SpoolDir + "*.prn", WaitingFiles);
    }
    return !WaitingFiles.empty();
}

void TJobPipeline::DrainBacklog(std::int64_t tickStartedMs)
{
    if (!FConfig.DrainBacklog) {
        if (SpoolTimer.interval() != kSpoolInterval)
            SpoolTimer.setInterval(kSpoolInterval);  // the mode was turned off
        return;
    }
    for (;;) {
        // The composed report is output now, not after the printing timer's
        // pause; a burst never ends between composing and output.
        if (PrintPending && SpoolBusy) {
            printingtimer.stop();
            printingtimerTimer();
        }
        if (SpoolBusy || PrintPending)
            break;  // its output is not there yet
        if (QDateTime::currentMSecsSinceEpoch() - tickStartedMs >= kBurstMs)
            break;
        if (!ListWaitingFiles())
            break;
        SpoolBusy = true;
        BusySince = CurrentTime();
        FIndicators.SetPrintQueue(static_cast<unsigned>(WaitingFiles.size()));
        ResetRecord(FConfig.ProgramDir + "tags.txt", FTagList, FRecord, FLog);
        TakeSpoolFile();
    }
    // While files wait the next tick comes soon; the window and the links
    // are served in between.
    const bool more = !WaitingFiles.empty() || SpoolBusy;
    SpoolTimer.setInterval(more ? kBacklogInterval : kSpoolInterval);
}

void TJobPipeline::Tick()
{
    DispatchLprQueue();
    if (FConfig.SettingsScore <= 6) {
        FLog.loginfo("At least 1 critical value is not set, Check printers and Settings");
        return;
    }
    ListWaitingFiles();
    FIndicators.SetPrintQueue(static_cast<unsigned>(WaitingFiles.size()));
    if (WaitingFiles.empty()) {
        Idle();
        Light(TLight::Spool, TLightColor::Off);
        return;
    }
    ResetRecord(FConfig.ProgramDir + "tags.txt", FTagList, FRecord, FLog);
    Repaint();
    TakeSpoolFile();
}

bool TJobPipeline::FirstCompleteFile(std::string& name)
{
    for (;;) {
        const std::string& entry = WaitingFiles.front();
        name = Trim(TextBefore(entry, ";"));
        const std::int64_t size = ListedSize(Trim(TextAfter(entry, ";")));
        if (CountReadableBytes(FConfig.SpoolDir + name, size) == size)
            return true;
        FLog.loginfo("Spooler file " + name + " is locked by another process, is faulty or is incompletely written.");
        WaitingFiles.erase(WaitingFiles.begin());
        if (WaitingFiles.empty())
            return false;
    }
}

void TJobPipeline::TakeSpoolFile()
{
    std::string name;
    for (;;) {
        if (!FirstCompleteFile(name)) {
            Idle();
            return;
        }
        WaitingFiles.erase(WaitingFiles.begin());
        if (Admit(name) == TAdmission::Take)
            break;
        // Not taken: the next listed file, in this tick.
        if (WaitingFiles.empty()) {
            Idle();
            return;
        }
    }
    FLog.loginfo("Found file " + name);
    // The backup copy is kept only where a "temp" folder exists.
    static_cast<void>(CopyFileAtomic(FConfig.SpoolDir + name, FConfig.SpoolDir + "temp/" + name));
    Light(TLight::Convert, TLightColor::Green);
    if (FTaken.Request)
        TakeRequest(name);
    else
        TakePrinterFile(name);
}

void TJobPipeline::TakePrinterFile(const std::string& name)
{
    // Copied in an attempt before a crash: not queued twice.
    const std::string queued = FConfig.LprQueueDir + "_" + name;
    if (!FRecorder.PageDone(0, std::string(), queued)) {
        FRecorder.PageSending(0, std::string(), std::string(), queued);
        // A printer file whose copy failed stays in the spool folder to be
        // taken again; deleting it would lose the job.
        if (const TOutcome copied = CopyFileAtomic(FConfig.SpoolDir + name, queued); !copied) {
            FLog.loginfo("Failed to copy PRN file " + name);
            FLog.loginfo(copied.Reason());
            JobFailed("Failed to copy PRN file " + name + ": " + copied.Reason());
            SpoolBusy = false;
            return;
        }
        FRecorder.PageSent(0, std::string(), 0, queued);
    }
    if (std::optional<TJobRow>& job = FRecorder.Current())
        job->OutputKind = "lpr queue";
    JobDone("queued as " + queued);
    DeleteFileAt(FConfig.SpoolDir + name);
    SpoolBusy = false;
}

void TJobPipeline::TakeRequest(const std::string& name)
{
    const TJobEnd end = RunReportJob(FTaken.Text, name);
    switch (end.Exit) {
    case TJobExit::Completed:
        PendingRequest = name;  // deleted once the print run has produced its output
        break;
    case TJobExit::ScanPrinted:
        JobDone("scanned images printed");
        DeleteFileAt(FConfig.SpoolDir + name);
        break;
    case TJobExit::ScanNotPrinted: JobFailed(end.Reason); break;
    case TJobExit::Unprintable:
    case TJobExit::NoPrinter: JobUnprintable(end.Reason); return;
    case TJobExit::SchedulerDown:
    case TJobExit::EmbeddedNotWritten:
    case TJobExit::DocumentNotLoaded:
    case TJobExit::EngineFailed:
        // Tried again later; meanwhile the other files go on.
        JobFailed(end.Reason);
        SpoolBusy = false;
        return;
    }
    FIndicators.SetPrintQueue(static_cast<unsigned>(WaitingFiles.size()));
    FEngine.Refresh();
    Repaint();
}

void TJobPipeline::printingtimerTimer()
{
    Light(TLight::Printing, PrintPending ? TLightColor::Red : TLightColor::Off);
    if (!SpoolBusy || !PrintPending)
        return;
    printingtimer.stop();
    BusySince = CurrentTime();
    TPrintRunContext run {FEngine,
                          FRecord,
                          FDevice,
                          FLog,
                          FConfig.LprQueueDir,
                          [this](std::string_view number) { return SelectPrinterByNumber(number); },
                          [this](std::string& first, std::string& other) { GetMacros(first, other); },
                          [this] { BusySince = CurrentTime(); },
                          [this] { return FWindow && FWindow->DocumentViewShown(); },
                          [this] {
                              if (FWindow)
                                  FWindow->ShowPrintDialog(FRecord.GetReqCode() + " " + FRecord.GetProcCode(),
                                                           FPrinting.CurrentPrinter);
                          },
                          &FRecorder};
    // Built per job: the folders are the settings of the moment.
    run.RefuseOutput = [this](const std::string& path) { return TOutputGuard(FConfig).Refusal(path); };
    run.RequestName = PendingRequest;
    TOutcome output = TOutcome::Failed("the print run did not end");
    try {
        output = PrintReport(run, OutputFileName);
    } catch (const std::exception& failure) {
        FLog.loginfo(failure.what());
        output = Fail(failure.what());
    }
    FinishPendingRequest(output);
    PrintPending = false;
    SpoolBusy = false;
    Light(TLight::Printing, TLightColor::Off);
    Light(TLight::Spool, TLightColor::Off);
}

void TJobPipeline::FinishPendingRequest(const TOutcome& output)
{
    if (PendingRequest.empty())
        return;
    const std::string path = FConfig.SpoolDir + PendingRequest;
    if (!output) {
        JobFailed(output.Reason());
    } else {
        // Recorded before the request goes: a crash in between finds it done.
        JobDone("done");
        if (!DeleteFileAt(path) && FileExists(path))
            FLog.loginfo("Spooler file " + PendingRequest + " could not be deleted; it is not printed again.");
    }
    PendingRequest.clear();
}
