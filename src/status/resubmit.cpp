#include "status/resubmit.h"

#include "status/jobviews.h"
#include "util/fileutil.h"
#include "util/outputfile.h"
#include "util/packagehome.h"
#include "util/spoolfiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <vector>

namespace {

std::string HashOf(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex().toStdString();
}

// A kept request copied whole into the spool folder as its owner's: the
// server opens it for reading and writing, whoever runs the tool. Never
// through a link: root must not write where the service's user points it.
TOutcome HandOver(const std::string& source, const std::string& target, const std::string& home)
{
    const TResult<std::string> bytes = ReadFileBytes(source, kMaxRequestBytes);
    if (!bytes)
        return bytes.Failure();
    TProtectedPlaces places;
    places.AddFile(home + kSettingsFileName);
    TOutputFile file;
    TOutcome step = file.Open(target, places);
    if (step)
        step = file.Write(*bytes);
    if (step)
        step = file.LikeItsFolder();
    if (step)
        step = file.Commit();
    return step;
}

}  // namespace

TResult<TJobRow> ReadJob(TJournal& journal, std::int64_t id)
{
    const TResult<std::optional<TJobRow>> read = journal.Job(id);
    if (!read)
        return Fail("the journal " + journal.Path() + " could not be read: " + read.Reason());
    if (!*read)
        return Fail("no job " + std::to_string(id) + " in " + journal.Path());
    return **read;
}

TResult<TResubmitted> Resubmit(TJournal& journal, const std::string& home, const std::string& spoolDir,
                               std::int64_t id, const std::string& by)
{
    const TResult<TJobRow> job = ReadJob(journal, id);
    if (!job)
        return job.Failure();
    if (job->State == TJobState::Running || job->State == TJobState::Waiting)
        return Fail("job " + std::to_string(id) + " is " + StateName(job->State) + ": its request " +
                    Utf8(job->SpoolFile) + " is still in the spool folder");
    const std::string target = spoolDir + job->SpoolFile;
    if (QFileInfo::exists(QString::fromStdString(target)))
        return Fail(target + " exists: a request of that name waits in the spool folder");

    // The kept request: in "failed" (under its name, or "n-" and its name
    // beside an earlier one), else its copy in "temp"; only the very bytes
    // of the job.
    std::vector<std::string> candidates = {spoolDir + "failed/" + job->SpoolFile};
    for (int n = 2; n < 100; ++n)
        candidates.push_back(spoolDir + "failed/" + std::to_string(n) + "-" + job->SpoolFile);
    const std::string copy = spoolDir + "temp/" + job->SpoolFile;
    candidates.push_back(copy);
    std::string source;
    for (const std::string& candidate : candidates)
        if (QFileInfo::exists(QString::fromStdString(candidate)) && HashOf(candidate) == job->Hash) {
            source = candidate;
            break;
        }
    if (source.empty())
        return Fail("no kept copy of job " + std::to_string(id) + "'s request: neither " + spoolDir + "failed/ nor " +
                    copy + " holds its bytes");
    // Copied whole under a temporary name, so the server sees it only
    // whole; a new file, so it is a new job.
    if (const TOutcome copied = HandOver(source, target, home); !copied)
        return Fail("cannot put " + source + " back: " + copied.Reason());
    if (source != copy)
        QFile::remove(QString::fromStdString(source));
    TResubmitted done {source, target,
                       "Job " + std::to_string(id) + "'s request " + Utf8(job->SpoolFile) + " is back in " + spoolDir +
                           " (from " + Utf8(source) + "); it becomes a new job."};
    if (const TOutcome noted = journal.AddEvent(id, "resubmitted by " + by + " from " + source); !noted)
        done.Message += " The journal did not record the resubmission: " + noted.Reason();
    return done;
}
