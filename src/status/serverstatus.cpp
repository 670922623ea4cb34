#include "status/serverstatus.h"

#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/serverhome.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <sys/statvfs.h>

namespace {

constexpr std::int64_t kDayMs = 24 * 3600 * 1000;
// A folder counts as full below this much room: no report fits any more.
constexpr unsigned long long kFullBytes = 1024 * 1024;

// The folders the server writes to that have no room left, with what is left.
std::vector<std::string> FullFolders(const TStatusQuery& query)
{
    std::vector<std::string> full;
    const std::vector<std::pair<std::string, std::string>> folders = {
        {"the home", query.Home},
        {"the spool folder", query.SpoolDir},
        {"the results folder", query.ResultsDir},
        {"the LPR queue", TServerHome(query.Home).LprQueue()}};
    std::vector<unsigned long> seen;  // one line per file system
    for (const auto& [role, folder] : folders) {
        struct statvfs fs {};
        if (folder.empty() || ::statvfs(NativePath(folder).c_str(), &fs) != 0)
            continue;
        if (std::find(seen.begin(), seen.end(), fs.f_fsid) != seen.end())
            continue;
        seen.push_back(fs.f_fsid);
        const unsigned long long room = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
        if (room < kFullBytes)
            full.push_back(role + " " + folder + " is full (" + std::to_string(room / 1024) + " KB free)");
    }
    return full;
}

// When a file came into its folder: a copy may keep an old modification time,
// but its change time is when it arrived.
std::int64_t ArrivedAt(const QFileInfo& file)
{
    return std::max(file.lastModified().toMSecsSinceEpoch(), file.metadataChangeTime().toMSecsSinceEpoch());
}

}  // namespace

TWaitingFiles WaitingIn(const std::string& folder, const std::vector<std::string>& masks)
{
    QStringList filters;
    for (const std::string& mask : masks)
        filters << QString::fromStdString(mask);
    TWaitingFiles files;
    if (folder.empty())
        return files;
    for (const QFileInfo& file : QDir(QString::fromStdString(folder)).entryInfoList(filters, QDir::Files)) {
        ++files.Count;
        const std::int64_t arrived = ArrivedAt(file);
        if (files.Oldest == 0 || arrived < files.Oldest) {
            files.Oldest = arrived;
            files.OldestName = file.fileName().toStdString();
        }
    }
    return files;
}

std::string TServerStatus::Headline() const
{
    if (!Wrong.empty())
        return "not ok: " + Wrong.front();
    return "ok: the server ticked " + Ago(Now - LastTick) + " ago and no job failed in the last 24 hours";
}

namespace {

// Today's counts, the waiting and the last jobs; gives the jobs that failed
// in the last 24 hours and were not printed since. unread gets why the
// journal could not say it, when it could not.
std::vector<TJobRow> ReadJobs(TJournal& journal, const TStatusQuery& query, TServerStatus& status,
                              std::string& unread)
{
    const auto read = [&unread](auto result) {
        if (!result && unread.empty())
            unread = result.Reason();
        return std::move(result).ValueOr({});
    };
    const std::int64_t now = query.Now;
    const std::int64_t today = QDateTime::fromMSecsSinceEpoch(now).date().startOfDay().toMSecsSinceEpoch();
    const TDayCounts counts = read(journal.CountUpdatedSince(today));
    status.DoneToday = counts.Done;
    status.FailedToday = counts.Failed;
    status.WarnedToday = counts.WithWarnings;
    // A failed request that was sent again and printed no longer counts; one
    // whose later jobs cannot be read still does.
    std::vector<TJobRow> recentFailures;
    for (const TJobRow& job : read(journal.JobsUpdatedSince(TJobState::Failed, now - kDayMs)))
        if (job.Hash.empty() || !read(journal.DoneLater(job.Hash, job.TakenAt)))
            recentFailures.push_back(job);
    if (query.LastJobs > 0)
        status.LastJobs = read(journal.Jobs({.Limit = query.LastJobs}));
    status.Waiting = read(journal.JobsIn(TJobState::Waiting));
    return recentFailures;
}

// What the server said of itself: what is down, what it cannot read. Gives
// the whole state it wrote; unread gets why the journal could not say it.
TJson ReadSaidState(TJournal& journal, TServerStatus& status, std::string& unread)
{
    TJson state = TJson::object();
    if (const TResult<std::optional<std::string>> said = journal.Meta("state"); !said) {
        if (unread.empty())
            unread = said.Reason();
    } else if (*said) {
        state = TJson::parse(**said, nullptr, false);
    }
    if (!state.is_object())
        state = TJson::object();
    std::map<std::string, std::string> subjects;
    for (const TJson& outage : state.value("outages", TJson::array())) {
        if (!outage.is_object())
            continue;
        status.Outages.push_back({outage.value("key", ""), outage.value("subject", ""), outage.value("reason", ""),
                                  outage.value("since", std::int64_t {0})});
        subjects[status.Outages.back().Key] = status.Outages.back().Subject;
    }
    for (const TJobRow& job : status.Waiting) {
        const auto subject = subjects.find(Utf8(job.WaitingFor));
        status.WaitingFor.push_back(job.WaitingFor.empty()                                      ? std::string()
                                    : subject != subjects.end() && !subject->second.empty() ? subject->second
                                                                                            : Utf8(job.WaitingFor));
    }
    return state;
}

// What is wrong with the server itself: its tick, the print system, the
// journal, full folders, what it says is down. unread: why the journal could
// not be read, empty when it could.
void AddServerWrongs(TServerStatus& status, const TStatusQuery& query, const std::string& unread, bool tickKnown)
{
    std::vector<std::string>& wrong = status.Wrong;
    const std::int64_t now = query.Now;
    const std::int64_t lastTick = status.LastTick;
    if (!unread.empty())
        wrong.push_back("the journal " + query.Home + TJournal::kFileName + " cannot be read: " + unread);
    // When it last ticked is not known from a journal that cannot be read.
    if (tickKnown && lastTick == 0)
        wrong.push_back("the server has not ticked in " + query.Home);
    else if (tickKnown && now - lastTick > 60 * 1000)
        wrong.push_back("the server has not ticked for " + Ago(now - lastTick) + " (last tick " + When(lastTick) +
                        (query.ServerPid != 0 ? "; a server runs on this home" : "; no server runs on this home") +
                        ")");
    const bool serverSaysDown = std::any_of(status.Outages.begin(), status.Outages.end(), [](const TOutageSaid& o) {
        return o.Subject.starts_with("the print system");
    });
    status.PrintSystemUp = !serverSaysDown;
    if (!serverSaysDown && query.PrintSystemAnswers && !query.PrintSystemAnswers()) {
        status.PrintSystemUp = false;
        wrong.push_back("the print system at " + query.SchedulerName + " does not answer");
    }
    if (query.JournalWritable)
        if (const TOutcome writable = query.JournalWritable(); !writable)
            wrong.push_back("the journal " + query.Home + TJournal::kFileName +
                            " cannot be written: " + writable.Reason());
    for (const std::string& full : FullFolders(query))
        wrong.push_back(full);
    for (const TOutageSaid& outage : status.Outages)
        wrong.push_back(outage.Subject + " is down since " + When(outage.Since) + ": " + outage.Reason);
}

// What is wrong with the files: names and files the server cannot take,
// files that waited too long.
void AddFileWrongs(TServerStatus& status, const TStatusQuery& query, const TJson& state, const std::string& queueDir)
{
    std::vector<std::string>& wrong = status.Wrong;
    const std::int64_t now = query.Now;
    for (const TJson& name : state.value("unreadable_names", TJson::array()))
        if (name.is_string())
            wrong.push_back("the spool file " + name.get<std::string>() +
                            " cannot be taken: its name has characters outside Windows-1252");
    for (const TJson& file : state.value("not_readable", TJson::array()))
        if (file.is_object())
            wrong.push_back("the spool file " + file.value("name", "") + " cannot be read: " + file.value("why", ""));
    const TWaitingFiles& queued = status.Queued;
    if (queued.Oldest > 0 && now - queued.Oldest > query.LateAfterMs)
        wrong.push_back("the printer file " + queued.OldestName + " has waited " + Ago(now - queued.Oldest) +
                        " in the LPR queue " + queueDir);
    const TWaitingFiles& spooled = status.Spooled;
    if (spooled.Oldest > 0 && now - spooled.Oldest > query.LateAfterMs)
        wrong.push_back("the spool file " + spooled.OldestName + " has waited " + Ago(now - spooled.Oldest) +
                        " in " + query.SpoolDir);
}

}  // namespace

TServerStatus ReadServerStatus(TJournal& journal, const TStatusQuery& query)
{
    TServerStatus status;
    status.Now = query.Now;
    // What the journal could not tell is said as such, not taken for "nothing".
    std::string unread;
    const TResult<std::optional<std::string>> tick = journal.Meta("last_tick");
    if (!tick)
        unread = tick.Reason();
    status.LastTick = tick ? std::stoll(tick->value_or("0")) : 0;
    const std::vector<TJobRow> recentFailures = ReadJobs(journal, query, status, unread);
    const TJson state = ReadSaidState(journal, status, unread);
    status.Spooled = WaitingIn(query.SpoolDir, {"*.tvq", "*.prn"});
    const std::string queueDir = TServerHome(query.Home).LprQueue();
    status.Queued = WaitingIn(queueDir, {"*.prn"});
    status.FailedFiles = query.SpoolDir.empty() ? 0 : WaitingIn(query.SpoolDir + "failed/", {"*"}).Count;
    AddServerWrongs(status, query, unread, tick.Ok());
    AddFileWrongs(status, query, state, queueDir);
    if (!recentFailures.empty())
        status.Wrong.push_back(std::to_string(recentFailures.size()) +
                               " job(s) failed in the last 24 hours, the last job " +
                               std::to_string(recentFailures.front().Id) + " (" +
                               Utf8(recentFailures.front().SpoolFile) + "): " + Utf8(recentFailures.front().Reason));
    return status;
}

std::vector<std::string> StatusDetails(const TServerStatus& s)
{
    const std::int64_t now = s.Now;
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < s.Wrong.size(); ++i)
        lines.push_back("also: " + s.Wrong[i]);
    lines.push_back("spool folder: " + std::to_string(s.Spooled.Count) + " file(s) waiting" +
                    (s.Spooled.Oldest > 0 ? ", the oldest for " + Ago(now - s.Spooled.Oldest) : std::string()));
    lines.push_back("LPR queue: " + std::to_string(s.Queued.Count) + " file(s)" +
                    (s.Queued.Oldest > 0 ? ", the oldest for " + Ago(now - s.Queued.Oldest) : std::string()));
    lines.push_back("last tick: " + When(s.LastTick));
    lines.push_back("today: " + std::to_string(s.DoneToday) + " job(s) done, " + std::to_string(s.FailedToday) +
                    " failed");
    lines.push_back("warnings: " + std::to_string(s.WarnedToday) + " job(s) of today with warnings");
    lines.push_back("waiting: " + std::to_string(s.Waiting.size()));
    for (std::size_t i = 0; i < s.Waiting.size(); ++i) {
        const TJobRow& job = s.Waiting[i];
        std::string line = "  job " + std::to_string(job.Id) + " " + Utf8(job.SpoolFile) + ": ";
        if (!s.WaitingFor[i].empty())
            line += "waits for " + s.WaitingFor[i] + " since " + When(job.UpdatedAt) + " (" + Utf8(job.Reason) + ")";
        else
            line += "attempt " + std::to_string(job.Attempts + 1) + " at " + When(job.NextAttemptAt) + " (" +
                    Utf8(job.Reason) + ")";
        lines.push_back(line);
    }
    return lines;
}

namespace {

// A job as the lists show it; one whose outputs cannot be read says so.
TJson Listed(TJournal& journal, const TJobRow& job)
{
    TResult<TJson> listed = JobJson(journal, job);
    if (!listed)
        return TJson {{"id", job.Id}, {"unreadable", listed.Reason()}};
    return std::move(listed).Value();
}

}  // namespace

TJson StatusJson(TJournal& journal, const TServerStatus& s)
{
    TJson wrong = TJson::array();
    for (const std::string& w : s.Wrong)
        wrong.push_back(w);
    TJson waiting = TJson::array();
    for (std::size_t i = 0; i < s.Waiting.size(); ++i) {
        TJson job = Listed(journal, s.Waiting[i]);
        job["waits_for_subject"] = s.WaitingFor[i].empty() ? TJson(nullptr) : TJson(s.WaitingFor[i]);
        waiting.push_back(std::move(job));
    }
    TJson last = TJson::array();
    for (const TJobRow& job : s.LastJobs)
        last.push_back(Listed(journal, job));
    const auto files = [&](const TWaitingFiles& f) {
        return TJson {{"count", f.Count},
                      {"oldest", f.Oldest > 0 ? TJson(Utf8(f.OldestName)) : TJson(nullptr)},
                      {"oldest_age_seconds", f.Oldest > 0 ? TJson((s.Now - f.Oldest) / 1000) : TJson(nullptr)}};
    };
    TJson outages = TJson::array();
    for (const TOutageSaid& o : s.Outages)
        outages.push_back({{"subject", o.Subject}, {"reason", o.Reason}, {"since", Iso(o.Since)}});
    return TJson {{"ok", s.Ok()},
                  {"headline", s.Headline()},
                  {"wrong", wrong},
                  {"now", Iso(s.Now)},
                  {"last_tick", s.LastTick > 0 ? TJson(Iso(s.LastTick)) : TJson(nullptr)},
                  {"print_system_up", s.PrintSystemUp},
                  {"spool_folder", files(s.Spooled)},
                  {"lpr_queue", files(s.Queued)},
                  {"failed_files", s.FailedFiles},
                  {"today", {{"done", s.DoneToday}, {"failed", s.FailedToday}, {"with_warnings", s.WarnedToday}}},
                  {"outages", outages},
                  {"waiting", waiting},
                  {"last_jobs", last}};
}
