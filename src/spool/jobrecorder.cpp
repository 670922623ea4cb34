#include "spool/jobrecorder.h"

#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/outputfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

constexpr std::int64_t kHourMs = 3600 * 1000;
constexpr std::int64_t kDayMs = 24 * kHourMs;

}  // namespace

TJobRecorder::TJobRecorder(const TServerConfig& config, TLogger& log, TPrintingLayer& printing,
                           TOutageBoard& outages)
    : FConfig(config), FLog(log), FPrinting(printing), FOutages(outages)
{
}

void TJobRecorder::Open()
{
    const std::string path = FConfig.ProgramDir + TJournal::kFileName;
    const TResult<std::string> opened = FJournal.Open(path);
    if (opened && opened->empty())
        return;
    if (opened) {
        FLog.logerror("The journal " + path + " could not be used; it is kept as " + *opened +
                      ", and a new journal was started.");
        return;
    }
    FLog.logerror("The journal " + path + " cannot be kept (" + opened.Reason() +
                  "); jobs are recorded in memory until the server restarts.");
    if (const TOutcome memory = FJournal.OpenInMemory(); !memory)
        FLog.logerror("The journal cannot be kept in memory either: " + memory.Reason());
}

void TJobRecorder::Down(const std::string& reason)
{
    FDown = true;
    FOutages.Down(kOutageKey, "the journal " + FJournal.Path(), reason,
                  "no new file is taken and nothing is output until it records again", [this] { return Replay(); });
}

void TJobRecorder::Failed(const TOutcome& failure)
{
    if (!failure)
        Down(failure.Reason());
}

bool TJobRecorder::Write(TWrite write)
{
    if (!FJournal.IsOpen())
        return true;  // no journal at all: nothing to keep for
    if (!FKept.empty()) {
        FKept.push_back(std::move(write));
        return false;
    }
    const TOutcome written = write(FJournal);
    if (written)
        return true;
    FKept.push_back(std::move(write));
    Down(written.Reason());
    return false;
}

void TJobRecorder::AddEvent(std::int64_t job, std::string what)
{
    Write([job, what = std::move(what)](TJournal& journal) { return journal.AddEvent(job, what); });
}

void TJobRecorder::Warning(std::string_view what)
{
    if (!FCurrent)
        return;
    Write([id = FCurrent->Id, what = std::string(what)](TJournal& journal) { return journal.AddWarning(id, what); });
}

void TJobLog::logline(TSeverity severity, std::string_view message)
{
    FLog.logline(severity, message);
    if (severity == TSeverity::Warning)
        FRecorder.Warning(message);
}

TOutcome TJobRecorder::Replay()
{
    const std::size_t kept = FKept.size();
    while (!FKept.empty()) {
        if (const TOutcome written = FKept.front()(FJournal); !written)
            return written;
        FKept.pop_front();
    }
    if (const TOutcome ticked = FJournal.SetMeta("last_tick", std::to_string(FJournal.Now())); !ticked)
        return ticked;
    FDown = false;
    if (kept > 0)
        FLog.loginfo("The journal has the " + std::to_string(kept) + " step(s) kept while it could not record.");
    return TOutcome::Done();
}

void TJobRecorder::Save(std::string_view event)
{
    if (!FCurrent)
        return;
    // Counted once for each state a job comes to, whether or not the journal records it now.
    if (FCurrent->State != FSavedState && FCurrent->State != TJobState::Running)
        ++FTally.JobsEnded[StateName(FCurrent->State)];
    FSavedState = FCurrent->State;
    Write([row = *FCurrent](TJournal& journal) { return journal.UpdateJob(row); });
    if (!event.empty())
        AddEvent(FCurrent->Id, std::string(event));
}

bool TJobRecorder::PageDone(int page, const std::string& title, const std::string& pageFile)
{
    if (!FCurrent || !FJournal.IsOpen())
        return false;
    // The same page: its number and title, and its page file when it has one.
    const TResult<std::optional<TOutputRow>> read = FJournal.OutputOf(FCurrent->Id, "", page, pageFile, title);
    if (!read) {
        // Not known to be done; the journal is down, so the page is not sent either.
        Down(read.Reason());
        return false;
    }
    const std::optional<TOutputRow>& row = *read;
    if (!row || row->Kind == "document")
        return false;
    if (row->State == "done")
        return true;
    // Sent, but not known to have arrived: a crash, or a failure, came in
    // between. The print system and the queue folder know.
    int cupsJob = 0;
    bool arrived = false;
    if (row->Kind == "cups" && !row->Printer.empty()) {
        const TResult<int> found = FPrinting.FindJob(row->Printer, title, row->StartedAt / 1000 - 1);
        cupsJob = found.ValueOr(0);
        arrived = cupsJob > 0;
        if (found && !arrived) {
            // A job the crash left without its page goes, before the page is
            // sent again.
            const auto cancelled = FPrinting.CancelJobsWithoutDocument(row->Printer, title, row->StartedAt / 1000 - 1);
            const std::int64_t id = FCurrent->Id;
            if (!cancelled)
                AddEvent(id, "a job left without its page could not be cancelled: " + cancelled.Reason());
            else
                for (const int job : *cancelled)
                    AddEvent(id, "job " + std::to_string(job) + " at " + row->Printer +
                                     " was left without its page: cancelled");
        }
    } else if (row->Kind == "page file") {
        arrived = FileExists(row->Path) ||
                  FJournal.DeliveredSince(row->Path.substr(row->Path.find_last_of('/') + 1), row->StartedAt);
        if (!arrived)
            RemoveStaleTemporaries(row->Path);  // what a crash while writing it left
    }
    if (!arrived)
        return false;
    Write([id = row->Id, cupsJob](TJournal& journal) { return journal.OutputDone(id, cupsJob); });
    AddEvent(FCurrent->Id, row->Kind == "cups" ? "\"" + title + "\" was found at " + row->Printer + " as job " +
                                                     std::to_string(cupsJob) + ": not sent again"
                                               : row->Path + " was written before: not written again");
    return true;
}

bool TJobRecorder::AddOutput(TOutputRow row)
{
    FSending = 0;
    if (!FCurrent || !FJournal.IsOpen())
        return true;
    // No output goes out without its record: a kept one would not survive a crash.
    if (!Recording())
        return false;
    const TResult<std::int64_t> added = FJournal.AddOutput(std::move(row));
    if (!added) {
        Down(added.Reason());
        return false;
    }
    FSending = *added;
    return true;
}

bool TJobRecorder::PageSending(int page, const std::string& title, const std::string& printer,
                               const std::string& pageFile)
{
    if (!FCurrent)
        return true;
    return AddOutput({.JobId = FCurrent->Id,
                      .Kind = OutputKind(pageFile),
                      .Page = page,
                      .Title = title,
                      .Printer = pageFile.empty() ? printer : std::string(),
                      .Path = pageFile,
                      .State = "sending",
                      .Attempt = FCurrent->Attempts});
}

void TJobRecorder::PageSent(int page, const std::string&, int cupsJob, const std::string& pageFile)
{
    if (pageFile.empty() && page > 0)
        ++FTally.PagesPrinted;
    if (FSending != 0)
        Write([id = FSending, cupsJob](TJournal& journal) { return journal.OutputDone(id, cupsJob); });
    FSending = 0;
}

bool TJobRecorder::DocumentSaved(const std::string& path)
{
    if (!FCurrent || !FJournal.IsOpen())
        return false;
    const TResult<std::optional<TOutputRow>> read = FJournal.OutputOf(FCurrent->Id, "document", 0, path);
    if (!read) {
        Down(read.Reason());
        return false;
    }
    const std::optional<TOutputRow>& row = *read;
    if (!row)
        return false;
    if (row->State == "done")
        return true;
    // Saved, but the record did not follow: the file says whether it was.
    const QFileInfo file(ToUnicode(path));
    if (!file.exists() || file.lastModified().toMSecsSinceEpoch() < row->StartedAt - 1000) {
        // A save cut short by a crash left its temporary file; it goes now.
        RemoveStaleTemporaries(path);
        return false;
    }
    Write([id = row->Id](TJournal& journal) { return journal.OutputDone(id, 0); });
    AddEvent(FCurrent->Id, path + " was saved before: not saved again");
    return true;
}

bool TJobRecorder::DocumentSaving(const std::string& path)
{
    if (!FCurrent)
        return true;
    return AddOutput(
        {.JobId = FCurrent->Id, .Kind = "document", .Path = path, .State = "sending", .Attempt = FCurrent->Attempts});
}

void TJobRecorder::DocumentWasSaved(const std::string&)
{
    if (FSending != 0)
        Write([id = FSending](TJournal& journal) { return journal.OutputDone(id, 0); });
    FSending = 0;
}

bool TJobRecorder::Delivered(const std::string& file, const std::string& fileId)
{
    return FJournal.IsOpen() && FJournal.WasDelivered(file, fileId);
}

void TJobRecorder::Attempted(const TDeliveryAttempt& a)
{
    ++FTally.Deliveries[{a.Route, a.Code == 0 ? "ok" : "failed"}];
    if (!FJournal.IsOpen())
        return;
    const TDeliveryRow row {.JobId = FJournal.JobOfQueuedFile(FConfig.LprQueueDir + a.File),
                                .File = a.File,
                                .FileId = a.FileId,
                                .Route = a.Route,
                                .Host = a.Host,
                                .Port = a.Port,
                                .Code = a.Code,
                                .Detail = a.Detail,
                                .Bytes = a.Bytes,
                                .DurationMs = a.DurationMs};
    Write([row](TJournal& journal) { return journal.AddDelivery(row); });
}

void TJobRecorder::Tick()
{
    if (!FJournal.IsOpen() || !Recording())
        return;  // the outage's probe writes the tick meanwhile
    const std::int64_t now = FJournal.Now();
    if (const TOutcome ticked = FJournal.SetMeta("last_tick", std::to_string(now)); !ticked) {
        Down(ticked.Reason());
        return;
    }
    const TResult<std::optional<std::string>> last = FJournal.Meta("retention_at");
    if (!last) {
        Down(last.Reason());
        return;
    }
    if (*last && now - std::stoll(**last) < kDayMs)
        return;
    if (const TOutcome noted = FJournal.SetMeta("retention_at", std::to_string(now)); !noted) {
        Down(noted.Reason());
        return;
    }
    Retention();
}

void TJobRecorder::Retention()
{
    const std::int64_t now = FJournal.Now();
    int copies = 0;
    const std::string temp = FConfig.SpoolDir + "temp/";
    const QDir folder(QString::fromStdString(temp));
    const std::int64_t oldCopy = now - FConfig.TempDays * kDayMs;
    for (const QFileInfo& file : folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System))
        if (file.lastModified().toMSecsSinceEpoch() < oldCopy && QFile::remove(file.absoluteFilePath()))
            ++copies;
    const TResult<int> jobs = FJournal.RemoveOlderThan(now - FConfig.JournalDays * kDayMs);
    if (!jobs)
        FLog.logerror("Retention: the journal's old rows could not be removed: " + jobs.Reason());
    FLog.loginfo("Retention: " + std::to_string(copies) + " copies older than " + std::to_string(FConfig.TempDays) +
                 " days removed from " + temp + ", " + std::to_string(jobs.ValueOr(0)) + " jobs older than " +
                 std::to_string(FConfig.JournalDays) + " days removed from the journal.");
}
