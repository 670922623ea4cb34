// A job's life in the journal: taken, taken up again after a failure or a
// crash, waiting for its next attempt, done, unprintable, or given up with
// its request in the spool folder's "failed" folder.
#include "spool/pipeline.h"

#include "request/tagfile.h"
#include "spool/jobrecorder.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/packagehome.h"
#include "util/textutil.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Sha256(std::string_view bytes)
{
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// The hash of a file read in blocks: printer files can be large.
std::optional<std::string> FileSha256(const std::string& path)
{
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char block[65536];
    bool read = true;
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            read = false;
        if (got <= 0)
            break;
        hash.addData(QByteArrayView(block, got));
    }
    ::close(fd);
    if (!read)
        return std::nullopt;
    return hash.result().toHex().toStdString();
}

std::int64_t FileSize(const std::string& path)
{
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

std::string Clock(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd-MM hh:mm:ss")).toStdString();
}

}  // namespace

bool TJobPipeline::ReadTaken(const std::string& name)
{
    const std::string path = FConfig.SpoolDir + name;
    FTaken = {};
    FTaken.Name = name;
    FTaken.Request = LowerCase(ExtractFileExt(name)) != ".prn";
    FTaken.FileId = FileIdentity(path);
    FTaken.Size = FileSize(path);
    if (!FTaken.Request || FTaken.Size > static_cast<std::int64_t>(kMaxRequestBytes)) {
        const std::optional<std::string> hash = FileSha256(path);
        FTaken.Hash = hash.value_or(std::string());
        return hash.has_value();
    }
    const TResult<std::string> bytes = ReadFileBytes(path, kMaxRequestBytes);
    if (!bytes)
        return false;
    FTaken.Hash = Sha256(*bytes);
    FTaken.Text = JoinRequestLines(*bytes);
    return true;
}

bool TJobPipeline::StillWaiting(const TJobRow& job)
{
    if (job.State != TJobState::Waiting || job.FileId != FileIdentity(FConfig.SpoolDir + job.SpoolFile))
        return false;
    if (job.WaitingFor.empty())
        return job.NextAttemptAt > Now();  // its time has not come; the others go on
    const std::int64_t lifetime = FConfig.QueueHours * 3600LL * 1000;
    if (Now() - job.TakenAt >= lifetime) {
        TJobRow given = job;
        FRecorder.Begin(given);
        GiveUp("waited " + std::to_string(FConfig.QueueHours) + " hours for " +
               (FOutages.Find(job.WaitingFor) ? FOutages.Find(job.WaitingFor)->Subject : job.WaitingFor) + ": " +
               job.Reason);
        return true;
    }
    return FOutages.IsDown(job.WaitingFor);
}

TJobPipeline::TAdmission TJobPipeline::Admit(const std::string& name)
{
    FRecorder.End();
    TJournal& journal = FRecorder.Journal();
    std::optional<TJobRow> unfinished;
    if (journal.IsOpen()) {
        // A journal that cannot say what became of the file is down: taken
        // as new, the file might be output a second time.
        TResult<std::optional<TJobRow>> read = journal.UnfinishedJob(name);
        if (!read) {
            FRecorder.Failed(TOutcome(read.Failure()));
            return TAdmission::Skip;
        }
        unfinished = std::move(read).Value();
    }
    // A waiting job is passed over without reading its file: a thousand
    // requests waiting for the print system cost a look each, not a read.
    if (unfinished && StillWaiting(*unfinished))
        return TAdmission::Skip;
    // An unreadable file is listed again at the next refill, as always.
    if (!ReadTaken(name))
        return TAdmission::Skip;
    if (!journal.IsOpen())
        return TAdmission::Take;

    if (unfinished && unfinished->Hash == FTaken.Hash)
        return TakeUp(*unfinished);
    const TResult<std::optional<TJobRow>> finished = journal.FinishedJobOf(name, FTaken.Hash, FTaken.FileId);
    if (!finished) {
        FRecorder.Failed(TOutcome(finished.Failure()));
        return TAdmission::Skip;
    }
    if (*finished)
        return AlreadyFinished(**finished);
    // No new job without its record.
    if (!FRecorder.Recording())
        return TAdmission::Skip;

    TJobRow job;
    job.SpoolFile = name;
    job.Size = FTaken.Size;
    job.Hash = FTaken.Hash;
    job.FileId = FTaken.FileId;
    job.Kind = FTaken.Request ? "request" : "printer file";
    job.TakenAt = Now();
    job.AttemptStartedAt = job.TakenAt;
    job.Attempts = 1;
    const TResult<std::int64_t> added = journal.AddJob(job);
    if (!added) {
        FRecorder.Failed(TOutcome(added.Failure()));
        return TAdmission::Skip;
    }
    job.Id = *added;
    FRecorder.Begin(job);
    FRecorder.Save("taken: " + std::to_string(job.Size) + " bytes, attempt 1 of " +
                   std::to_string(FConfig.JobRetries));
    if (unfinished) {
        // The request of that name was replaced before its next attempt.
        unfinished->State = TJobState::Failed;
        unfinished->WaitingFor.clear();
        unfinished->Reason = "its spool file was replaced by other bytes (job " + std::to_string(job.Id) + ")";
        FRecorder.Write([row = *unfinished](TJournal& j) { return j.UpdateJob(row); });
        FRecorder.AddEvent(unfinished->Id, unfinished->Reason);
    }
    if (FTaken.Request && FTaken.Size > static_cast<std::int64_t>(kMaxRequestBytes)) {
        GiveUp("larger than " + std::to_string(kMaxRequestBytes / (1024 * 1024)) + " MB (" +
               std::to_string(FTaken.Size) + " bytes)");
        return TAdmission::Skip;
    }
    return TAdmission::Take;
}

TJobPipeline::TAdmission TJobPipeline::TakeUp(TJobRow job)
{
    const std::int64_t now = Now();
    if (job.State == TJobState::Waiting && job.WaitingFor.empty() && job.NextAttemptAt > now)
        return TAdmission::Skip;  // its time has not come; the others go on
    if (!job.WaitingFor.empty() && FOutages.IsDown(job.WaitingFor))
        return TAdmission::Skip;
    const bool afterOutage = !job.WaitingFor.empty();
    job.Attempts += 1;
    job.State = TJobState::Running;
    job.AttemptStartedAt = now;
    job.NextAttemptAt = 0;
    job.WaitingFor.clear();
    FRecorder.Begin(job);
    if (job.Attempts > FConfig.JobRetries) {
        // Taken that often without an end: the server stopped during each
        // attempt, or the attempts were used up before a restart.
        job.Attempts -= 1;
        FRecorder.Begin(job);
        GiveUp(job.Reason.empty() ? "the server stopped during every attempt" : job.Reason);
        return TAdmission::Skip;
    }
    FRecorder.Save("attempt " + std::to_string(job.Attempts) + " of " + std::to_string(FConfig.JobRetries) +
                   (afterOutage ? " (what it waited for works again)" : ""));
    return TAdmission::Take;
}

TJobPipeline::TAdmission TJobPipeline::AlreadyFinished(const TJobRow& job)
{
    const std::string& name = job.SpoolFile;
    if (job.State == TJobState::Done) {
        // Its output exists; only the request's removal did not happen.
        if (DeleteFileAt(FConfig.SpoolDir + name))
            FLog.loginfo("Spooler file " + name + " was output by job " + std::to_string(job.Id) +
                         " already; it is removed from the spool folder.");
        else
            FLog.logerror("Spooler file " + name + " was output by job " + std::to_string(job.Id) +
                          " already, but it could not be removed from the spool folder (" + FileErrorText(errno) +
                          "); it is not output again.");
        return TAdmission::Skip;
    }
    // Its move did not happen: it is tried again, the file is never printed.
    const TOutcome moved = job.State == TJobState::Failed ? MoveToFailed(name) : MoveToUnprintable(name);
    if (!moved)
        FLog.logerror("Spooler file " + name + " of job " + std::to_string(job.Id) + " (" + StateName(job.State) +
                      ") stays in the spool folder: " + moved.Reason());
    return TAdmission::Skip;
}

void TJobPipeline::EndJob(TJobState state, const std::string& reason, std::string_view event)
{
    std::optional<TJobRow>& job = FRecorder.Current();
    if (!job)
        return;
    job->State = state;
    job->NextAttemptAt = 0;
    if (!reason.empty())
        job->Reason = reason;
    FRecorder.Save(event);
    FRecorder.End();
}

void TJobPipeline::JobDone(std::string_view event)
{
    EndJob(TJobState::Done, {}, event);
}

void TJobPipeline::JobUnprintable(const std::string& reason)
{
    EndJob(TJobState::Unprintable, reason, "unprintable: " + reason);
}

void TJobPipeline::WaitForOutage(const std::string& key, const std::string& reason)
{
    std::optional<TJobRow>& job = FRecorder.Current();
    if (!job) {
        FLog.loginfo("Spooler file " + FTaken.Name + " stays in the spool folder until " +
                     (FOutages.Find(key) ? FOutages.Find(key)->Subject : key) + " works again.");
        return;
    }
    const TOutage* outage = FOutages.Find(key);
    const std::string subject = outage ? outage->Subject : key;
    // The attempt it was on does not count: the job itself did not fail.
    job->Attempts = std::max(0, job->Attempts - 1);
    job->State = TJobState::Waiting;
    job->WaitingFor = key;
    job->NextAttemptAt = 0;
    job->Reason = reason;
    FRecorder.Save("waits for " + subject + ": " + reason);
    FLog.loginfo("Spooler file " + job->SpoolFile + " waits in the spool folder until " + subject + " works again.");
    FRecorder.End();
}

void TJobPipeline::OutputFailed(const TFailure& failure, bool usedPrinter)
{
    switch (failure.Kind) {
    case TFailureKind::Final: GiveUp(failure.Reason); return;
    case TFailureKind::Outage:
        if (failure.Detail == TJobRecorder::kOutageKey)
            WaitForOutage(TJobRecorder::kOutageKey, failure.Reason);
        else
            WaitForOutage(FolderFull(failure.Detail, failure.Reason), failure.Reason);
        return;
    case TFailureKind::Fault: break;
    }
    // Asked once: a print system or printer that is down is no fault of the job's.
    if (usedPrinter)
        if (const std::string key = PrintSystemOutage(FPrinting.CurrentPrinter); !key.empty()) {
            WaitForOutage(key, failure.Reason);
            return;
        }
    JobFailed(failure.Reason);
}

void TJobPipeline::JobFailed(const std::string& reason)
{
    std::optional<TJobRow>& job = FRecorder.Current();
    if (!job) {
        FLog.loginfo("Spooler file " + FTaken.Name + " stays in the spool folder and will be printed again.");
        return;
    }
    job->Reason = reason;
    if (job->Attempts >= FConfig.JobRetries) {
        GiveUp(reason);
        return;
    }
    const std::int64_t next = Now() + FConfig.RetryDelaySeconds(job->Attempts) * 1000LL;
    job->State = TJobState::Waiting;
    job->NextAttemptAt = next;
    const std::string attempt = std::to_string(job->Attempts + 1) + " of " + std::to_string(FConfig.JobRetries);
    FRecorder.Save("attempt " + std::to_string(job->Attempts) + " failed: " + reason + "; attempt " + attempt +
                   " at " + Clock(next));
    FLog.loginfo("Spooler file " + job->SpoolFile + " stays in the spool folder; attempt " + attempt + " at " +
                 Clock(next) + ".");
    FRecorder.End();
}

void TJobPipeline::GiveUp(const std::string& reason)
{
    std::optional<TJobRow>& job = FRecorder.Current();
    if (!job)
        return;
    job->State = TJobState::Failed;
    job->Reason = reason;
    job->NextAttemptAt = 0;
    // Recorded first: should the move not happen, the file is not taken again.
    FRecorder.Save("given up after " + std::to_string(job->Attempts) + " attempt(s): " + reason);
    const std::string where = FConfig.SpoolDir + "failed/";
    const TOutcome moved = MoveToFailed(job->SpoolFile);
    FLog.logerror("Spooler file " + job->SpoolFile + " failed after " + std::to_string(job->Attempts) +
                  " attempt(s): " + reason + ". " +
                  (moved ? "It is in " + where : "It stays in the spool folder (" + moved.Reason() + ")") +
                  "; printorb-tool resubmit " + std::to_string(job->Id) + ToolHomeOption(FConfig.ProgramDir, FConfig.PackageHomeDir) +
                  " sends it again.");
    FRecorder.End();
}
