#include "spool/jobrecorder.h"

#include "util/fileutil.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

constexpr std::int64_t kHourMs = 3600 * 1000;
constexpr std::int64_t kDayMs = 24 * kHourMs;

}  // namespace

TJobRecorder::TJobRecorder(const TServerConfig& config, TLogger& log, TPrintingLayer& printing)
    : FConfig(config), FLog(log), FPrinting(printing)
{
}

void TJobRecorder::Open()
{
    const std::string path = FConfig.ProgramDir + TJournal::kFileName;
    const TResult<std::string> opened = FJournal.Open(path);
    if (opened && opened->empty())
        return;
    if (opened) {
        FLog.loginfo("The journal " + path + " could not be used; it is kept as " + *opened +
                     ", and a new journal was started.");
        return;
    }
    FLog.loginfo("The journal " + path + " cannot be kept (" + opened.Reason() +
                 "); jobs are recorded in memory until the server restarts.");
    Check(FJournal.OpenInMemory());
}

void TJobRecorder::Check(const TOutcome& written)
{
    if (written)
        return;
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    std::int64_t& last = FReported[written.Reason()];
    if (last != 0 && now - last < kHourMs)
        return;
    last = now;
    FLog.loginfo("The journal did not record a step: " + written.Reason());
}

TOutcome TJobRecorder::Event(std::int64_t job, std::string_view what)
{
    return FJournal.AddEvent(job, what);
}

void TJobRecorder::Save(std::string_view event)
{
    if (!FCurrent || !FJournal.IsOpen())
        return;
    Check(FJournal.UpdateJob(*FCurrent));
    if (!event.empty())
        Check(FJournal.AddEvent(FCurrent->Id, event));
}

bool TJobRecorder::PageDone(int page, const std::string& title, const std::string& pageFile)
{
    static_cast<void>(pageFile);  // the page counts whichever way it went out
    if (!FCurrent || !FJournal.IsOpen())
        return false;
    const std::optional<TOutputRow> row = FJournal.OutputOf(FCurrent->Id, "", page, "");
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
            if (!cancelled)
                Check(FJournal.AddEvent(FCurrent->Id, "a job left without its page could not be cancelled: " +
                                                          cancelled.Reason()));
            else
                for (const int job : *cancelled)
                    Check(FJournal.AddEvent(FCurrent->Id, "job " + std::to_string(job) + " at " + row->Printer +
                                                              " was left without its page: cancelled"));
        }
    } else if (row->Kind == "page file") {
        arrived = FileExists(row->Path) ||
                  FJournal.DeliveredSince(row->Path.substr(row->Path.find_last_of('/') + 1), row->StartedAt);
    }
    if (!arrived)
        return false;
    Check(FJournal.OutputDone(row->Id, cupsJob));
    Check(FJournal.AddEvent(FCurrent->Id, row->Kind == "cups"
                                              ? "\"" + title + "\" was found at " + row->Printer + " as job " +
                                                    std::to_string(cupsJob) + ": not sent again"
                                              : row->Path + " was written before: not written again"));
    return true;
}

void TJobRecorder::PageSending(int page, const std::string& title, const std::string& printer,
                               const std::string& pageFile)
{
    FSending = 0;
    if (!FCurrent || !FJournal.IsOpen())
        return;
    const TResult<std::int64_t> added = FJournal.AddOutput({.JobId = FCurrent->Id,
                                                            .Kind = OutputKind(pageFile),
                                                            .Page = page,
                                                            .Title = title,
                                                            .Printer = pageFile.empty() ? printer : std::string(),
                                                            .Path = pageFile,
                                                            .State = "sending",
                                                            .Attempt = FCurrent->Attempts});
    if (added)
        FSending = *added;
    else
        Check(added.Failure());
}

void TJobRecorder::PageSent(int, const std::string&, int cupsJob, const std::string&)
{
    if (FSending != 0)
        Check(FJournal.OutputDone(FSending, cupsJob));
    FSending = 0;
}

bool TJobRecorder::DocumentSaved(const std::string& path)
{
    if (!FCurrent || !FJournal.IsOpen())
        return false;
    const std::optional<TOutputRow> row = FJournal.OutputOf(FCurrent->Id, "document", 0, path);
    if (!row)
        return false;
    if (row->State == "done")
        return true;
    // Saved, but the record did not follow: the file says whether it was.
    const QFileInfo file(QString::fromStdString(path));
    if (!file.exists() || file.lastModified().toMSecsSinceEpoch() < row->StartedAt - 1000)
        return false;
    Check(FJournal.OutputDone(row->Id, 0));
    Check(FJournal.AddEvent(FCurrent->Id, path + " was saved before: not saved again"));
    return true;
}

void TJobRecorder::DocumentSaving(const std::string& path)
{
    FSending = 0;
    if (!FCurrent || !FJournal.IsOpen())
        return;
    const TResult<std::int64_t> added = FJournal.AddOutput(
        {.JobId = FCurrent->Id, .Kind = "document", .Path = path, .State = "sending", .Attempt = FCurrent->Attempts});
    if (added)
        FSending = *added;
    else
        Check(added.Failure());
}

void TJobRecorder::DocumentWasSaved(const std::string&)
{
    if (FSending != 0)
        Check(FJournal.OutputDone(FSending, 0));
    FSending = 0;
}

void TJobRecorder::OutputExists(std::string_view kind, const std::string& path)
{
    if (!FCurrent || !FJournal.IsOpen())
        return;
    const TResult<std::int64_t> added = FJournal.AddOutput(
        {.JobId = FCurrent->Id, .Kind = std::string(kind), .Path = path, .State = "done", .Attempt = FCurrent->Attempts});
    if (!added)
        Check(added.Failure());
}

bool TJobRecorder::Delivered(const std::string& file, const std::string& fileId)
{
    return FJournal.IsOpen() && FJournal.WasDelivered(file, fileId);
}

void TJobRecorder::Attempted(const TDeliveryAttempt& a)
{
    if (!FJournal.IsOpen())
        return;
    Check(FJournal.AddDelivery({.JobId = FJournal.JobOfQueuedFile(FConfig.LprQueueDir + a.File),
                                .File = a.File,
                                .FileId = a.FileId,
                                .Route = a.Route,
                                .Host = a.Host,
                                .Port = a.Port,
                                .Code = a.Code,
                                .Detail = a.Detail,
                                .Bytes = a.Bytes,
                                .DurationMs = a.DurationMs}));
}

void TJobRecorder::Tick()
{
    if (!FJournal.IsOpen())
        return;
    const std::int64_t now = FJournal.Now();
    Check(FJournal.SetMeta("last_tick", std::to_string(now)));
    const std::optional<std::string> last = FJournal.Meta("retention_at");
    if (last && now - std::stoll(*last) < kDayMs)
        return;
    Check(FJournal.SetMeta("retention_at", std::to_string(now)));
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
        Check(jobs.Failure());
    FLog.loginfo("Retention: " + std::to_string(copies) + " copies older than " + std::to_string(FConfig.TempDays) +
                 " days removed from " + temp + ", " + std::to_string(jobs.ValueOr(0)) + " jobs older than " +
                 std::to_string(FConfig.JournalDays) + " days removed from the journal.");
}
