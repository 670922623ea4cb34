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
#include <cstring>
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

std::int64_t CountReadableBytes(const std::string& path, std::int64_t expected, int* openError)
{
    // Opened for reading and writing: a file that its writer still holds
    // read-only, or that is read-only, counts as not complete.
    const int fd = ::open(NativePath(path).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (openError)
            *openError = errno;
        return 0;
    }
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

std::string CannotOpenReason(const std::string& path, int error)
{
    std::string why = std::string("it cannot be opened for reading and writing: ") + std::strerror(error);
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) == 0)
        why += " (the file is " + UserAndGroup(st.st_uid, st.st_gid) + " " + OctalMode(st.st_mode) +
               ", the server runs as " + UserAndGroup(::geteuid(), ::getegid()) + ")";
    return why;
}

void TJobPipeline::Idle()
{
    FBusySince = CurrentTime();
    FSpoolBusy = false;
}

void TJobPipeline::Forget()
{
    FPrintingTimer.stop();
    FPrintPending = false;
    FPendingRequest.clear();
    Idle();
}

void TJobPipeline::Alive()
{
    if (FOnAlive)
        FOnAlive();
}

void TJobPipeline::SpoolTimerTimer()
{
    Alive();
    FRecorder.Tick();
    FIndicators.SetPrintQueue(static_cast<unsigned>(FWaitingFiles.size()));
    Light(TLight::Printing, FPrintPending ? TLightColor::Red : TLightColor::Off);
    if (FSpoolBusy) {
        Light(TLight::Spool, TLightColor::Red);
        if (FBusySince.msecsTo(CurrentTime()) > kWatchdogSeconds * 1000LL) {
            FLog.logerror("The Print Spooler has been busy for too long:\r\n             Forcing Reset..");
            FSpoolBusy = false;
            FPrintPending = false;
            Light(TLight::Printing, TLightColor::Off);
            Light(TLight::Spool, TLightColor::Off);
            FPrintingTimer.stop();
            FBusySince = CurrentTime();
            try {
                FLprQueue.Ftp.Abort();
            } catch (...) {
                // The connection is being dropped anyway.
            }
        }
        return;
    }
    FSpoolBusy = true;
    FBusySince = CurrentTime();
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
        FLog.logerror(failure.what());
    }
    Light(TLight::Convert, TLightColor::Off);
}

bool TJobPipeline::ListWaitingFiles()
{
    // The listing is taken anew only once the last one is used up.
    if (!FWaitingFiles.empty())
        return true;
    std::vector<std::string> unreadable;
    ListSpoolFiles(FConfig.SpoolDir + "*.tvq", FWaitingFiles, &unreadable);
    AppendSpoolFiles(FConfig.SpoolDir + "*.prn", FWaitingFiles, &unreadable);
    // What is no longer listed is forgotten: a file of that name later is another.
    std::set<std::string> listed;
    for (const std::string& entry : FWaitingFiles)
        listed.insert(Trim(TextBefore(entry, ";")));
    std::erase_if(FSettling, [&](const auto& kept) { return listed.count(kept.first) == 0; });
    if (std::erase_if(FNotReadable, [&](const auto& kept) { return listed.count(kept.first) == 0; }) > 0)
        PublishState();
    const std::set<std::string> names(unreadable.begin(), unreadable.end());
    if (names != FUnreadableNames) {
        for (const std::string& name : names)
            if (FUnreadableNames.count(name) == 0)
                FLog.logerror("Spooler file " + name +
                              " cannot be taken: its name has characters outside Windows-1252; rename it.");
        FUnreadableNames = names;
        PublishState();
    }
    return !FWaitingFiles.empty();
}

void TJobPipeline::DrainBacklog(std::int64_t tickStartedMs)
{
    if (!FConfig.DrainBacklog) {
        if (FSpoolTimer.interval() != kSpoolInterval)
            FSpoolTimer.setInterval(kSpoolInterval);  // the mode was turned off
        return;
    }
    for (;;) {
        // The composed report is output now, not after the printing timer's
        // pause; a burst never ends between composing and output.
        if (FPrintPending && FSpoolBusy) {
            FPrintingTimer.stop();
            printingtimerTimer();
        }
        Alive();
        if (FSpoolBusy || FPrintPending)
            break;  // its output is not there yet
        if (QDateTime::currentMSecsSinceEpoch() - tickStartedMs >= kBurstMs)
            break;
        if (!FRecorder.Recording() || !ListWaitingFiles())
            break;
        FSpoolBusy = true;
        FBusySince = CurrentTime();
        FIndicators.SetPrintQueue(static_cast<unsigned>(FWaitingFiles.size()));
        ResetRecord();
        if (!TakeSpoolFile())
            break;  // none has settled yet
    }
    // While files wait the next tick comes soon; the window and the links
    // are served in between.
    const bool more = !FWaitingFiles.empty() || FSpoolBusy;
    FSpoolTimer.setInterval(more ? kBacklogInterval : kSpoolInterval);
}

void TJobPipeline::Tick()
{
    FOutages.ProbeDueOutages();
    if (!FRecorder.Recording()) {
        // Nothing is taken or delivered that the journal could not record.
        Idle();
        Light(TLight::Spool, TLightColor::Off);
        return;
    }
    DispatchLprQueue();
    Alive();
    if (FConfig.SettingsScore <= 6) {
        FLog.logerror("At least 1 critical value is not set, Check printers and Settings");
        return;
    }
    ListWaitingFiles();
    FIndicators.SetPrintQueue(static_cast<unsigned>(FWaitingFiles.size()));
    if (FWaitingFiles.empty()) {
        Idle();
        Light(TLight::Spool, TLightColor::Off);
        return;
    }
    ResetRecord();
    Repaint();
    TakeSpoolFile();
}

bool TJobPipeline::Settled(const std::string& name, std::int64_t listedSize)
{
    struct stat st {};
    if (::stat(NativePath(FConfig.SpoolDir + name).c_str(), &st) != 0)
        return false;
    const std::int64_t now = Now();
    const std::int64_t modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    TSettling& seen = FSettling[name];
    if (seen.Since == 0 || seen.Size != st.st_size || seen.ModifiedNs != modifiedNs)
        seen = {static_cast<std::int64_t>(st.st_size), modifiedNs, now};
    if (st.st_size != listedSize)
        return false;  // still growing: listed again with its new size
    const std::int64_t settle = FConfig.SettleSeconds * 1000LL;
    const std::int64_t modifiedMs = modifiedNs / 1000000;
    // Unchanged for the settle time as seen here, or written that long ago
    // (a clock ahead on the writer's side is not trusted).
    return now - seen.Since >= settle || (modifiedMs <= now && now - modifiedMs >= settle);
}

void TJobPipeline::NotReadable(const std::string& name, const std::string& why)
{
    const auto logged = FNotReadable.find(name);
    if (logged != FNotReadable.end() && logged->second == why)
        return;
    FNotReadable[name] = why;
    // A file that cannot be opened at all is not a file still being written: its own reason only.
    if (!why.starts_with("it cannot be opened"))
        FLog.logwarning("Spooler file " + name +
                        " is locked by another process, is faulty or is incompletely written.");
    FLog.logwarning("Spooler file " + name + ": " + why + "; it is taken once it can be read whole.");
    PublishState();
}

bool TJobPipeline::FirstCompleteFile(std::string& name)
{
    while (!FWaitingFiles.empty()) {
        const std::string& entry = FWaitingFiles.front();
        name = Trim(TextBefore(entry, ";"));
        const std::int64_t size = ListedSize(Trim(TextAfter(entry, ";")));
        if (Settled(name, size)) {
            int openError = 0;
            const std::int64_t readable = CountReadableBytes(FConfig.SpoolDir + name, size, &openError);
            if (readable == size) {
                if (FNotReadable.erase(name) > 0)
                    PublishState();
                return true;
            }
            // A lock or a writer holding it is waited out; a permission is for people to change.
            if (openError == EACCES || openError == EPERM || openError == EROFS)
                NotReadable(name, CannotOpenReason(FConfig.SpoolDir + name, openError));
            else
                NotReadable(name, "read " + std::to_string(readable) + " of its " + std::to_string(size) +
                                      " bytes (it must open for reading and writing)");
        }
        FWaitingFiles.erase(FWaitingFiles.begin());
    }
    return false;
}

bool TJobPipeline::TakeSpoolFile()
{
    std::string name;
    for (;;) {
        if (!FirstCompleteFile(name)) {
            Idle();
            return false;
        }
        FWaitingFiles.erase(FWaitingFiles.begin());
        FSettling.erase(name);
        if (Admit(name) == TAdmission::Take)
            break;
        // Not taken: the next listed file, in this tick.
        if (FWaitingFiles.empty() || !FRecorder.Recording()) {
            Idle();
            return false;
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
    return true;
}

void TJobPipeline::TakePrinterFile(const std::string& name)
{
    // Nothing for a printer: sending it would report a page that never was.
    if (FTaken.Size == 0) {
        GiveUp("the printer file is empty");
        FSpoolBusy = false;
        return;
    }
    // Copied in an attempt before a crash: not queued twice.
    const std::string queued = FConfig.LprQueueDir + "_" + name;
    if (!FRecorder.PageDone(0, std::string(), queued)) {
        if (!FRecorder.PageSending(0, std::string(), std::string(), queued)) {
            WaitForOutage(TJobRecorder::kOutageKey, "the journal cannot record the copy into the LPR queue");
            FSpoolBusy = false;
            return;
        }
        // A printer file whose copy failed stays in the spool folder to be
        // taken again; deleting it would lose the job.
        if (const TOutcome copied = CopyFileAtomic(FConfig.SpoolDir + name, queued); !copied) {
            FLog.logerror("Failed to copy PRN file " + name);
            FLog.logerror(copied.Reason());
            OutputFailed(Reworded(copied.Failure(), "Failed to copy PRN file " + name + ": " + copied.Reason()), false);
            FSpoolBusy = false;
            return;
        }
        FRecorder.PageSent(0, std::string(), 0, queued);
    }
    if (std::optional<TJobRow>& job = FRecorder.Current())
        job->OutputKind = "lpr queue";
    JobDone("queued as " + queued);
    // Left for the journal when it could not record the job as done: the
    // next look finds the copy and removes the file then.
    if (FRecorder.Recording() && !DeleteFileAt(FConfig.SpoolDir + name) && FileExists(FConfig.SpoolDir + name))
        FLog.logerror("Spooler file " + name + " could not be deleted; it is not queued again.");
    FSpoolBusy = false;
}

void TJobPipeline::TakeRequest(const std::string& name)
{
    const TJobEnd end = RunReportJob(FTaken.Text, name);
    switch (end.Exit) {
    case TJobExit::Completed:
        FPendingRequest = name;  // deleted once the print run has produced its output
        break;
    case TJobExit::ScanPrinted:
        JobDone("scanned images printed");
        if (FRecorder.Recording())
            DeleteFileAt(FConfig.SpoolDir + name);
        break;
    case TJobExit::ScanNotPrinted: OutputFailed(end.Failure, true); break;
    case TJobExit::Unprintable:
    case TJobExit::NoPrinter: JobUnprintable(end.Reason); return;
    case TJobExit::SchedulerDown:
        WaitForOutage(end.Failure.Detail, end.Reason);
        FSpoolBusy = false;
        return;
    case TJobExit::EmbeddedNotWritten:
    case TJobExit::DocumentNotLoaded:
    case TJobExit::EngineFailed:
        // Tried again later as its failure says; meanwhile the other files go on.
        OutputFailed(end.Failure, false);
        FSpoolBusy = false;
        return;
    }
    FIndicators.SetPrintQueue(static_cast<unsigned>(FWaitingFiles.size()));
    FEngine.Refresh();
    Repaint();
}

void TJobPipeline::printingtimerTimer()
{
    Light(TLight::Printing, FPrintPending ? TLightColor::Red : TLightColor::Off);
    if (!FSpoolBusy || !FPrintPending)
        return;
    FPrintingTimer.stop();
    FBusySince = CurrentTime();
    TPrintRunContext run {FEngine,
                          FRecord,
                          FDevice,
                          FLog,
                          FConfig.LprQueueDir,
                          [this](std::string_view number) { return SelectPrinterByNumber(number); },
                          // Looked up as the report was composed.
                          [this](std::string& first, std::string& other) {
                              first = FPlan.FirstOverlay;
                              other = FPlan.OtherOverlay;
                          },
                          [this] {
                              FBusySince = CurrentTime();
                              Alive();
                          },
                          [this] { return FWindow && FWindow->DocumentViewShown(); },
                          [this] {
                              if (FWindow)
                                  FWindow->ShowPrintDialog(FRecord.GetReqCode() + " " + FRecord.GetProcCode(),
                                                           FPrinting.CurrentPrinter);
                          },
                          &FRecorder};
    // Built per job: the folders are the settings of the moment.
    // Checked on the folder the write opens, and written in that folder.
    run.ProtectedPlaces = TOutputGuard(FConfig).Places();
    run.RequestName = FPendingRequest;
    TOutcome output = TOutcome::Failed("the print run did not end");
    try {
        output = PrintReport(run, FOutputFileName);
    } catch (const std::exception& failure) {
        FLog.logerror(failure.what());
        output = Fail(failure.what());
    }
    FinishPendingRequest(output);
    FPrintPending = false;
    FSpoolBusy = false;
    Light(TLight::Printing, TLightColor::Off);
    Light(TLight::Spool, TLightColor::Off);
}

void TJobPipeline::FinishPendingRequest(const TOutcome& output)
{
    if (FPendingRequest.empty())
        return;
    const std::string path = FConfig.SpoolDir + FPendingRequest;
    if (!output) {
        OutputFailed(output.Failure(), SavedDocumentPath(FOutputFileName).empty());
    } else {
        // Recorded before the request goes: a crash in between finds it
        // done. A journal that could not record it keeps the request until
        // it has; the next look then removes it.
        JobDone("done");
        if (FRecorder.Recording() && !DeleteFileAt(path) && FileExists(path))
            FLog.logerror("Spooler file " + FPendingRequest + " could not be deleted; it is not printed again.");
    }
    FPendingRequest.clear();
}
