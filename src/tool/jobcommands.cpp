// printorb-tool jobs, job, resubmit and status: the job journal of a server
// home, read beside the running server.
#include "config/serverconfig.h"
#include "journal/journal.h"
#include "spool/pipeline.h"
#include "tool/commands.h"
#include "tool/jobcommands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/homelock.h"
#include "util/outputfile.h"
#include "util/packagehome.h"
#include "util/spoolfiles.h"
#include "util/textutil.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>
#include <sys/statvfs.h>

namespace {

using json = nlohmann::ordered_json;

constexpr std::int64_t kDayMs = 24 * 3600 * 1000;

std::string Utf8(std::string_view text)
{
    return ToUnicode(text).toStdString();
}

std::string When(std::int64_t ms)
{
    if (ms <= 0)
        return "-";
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toStdString();
}

std::string Iso(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toOffsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc())
        .toString(Qt::ISODate)
        .toStdString();
}

std::string Ago(std::int64_t ms)
{
    const std::int64_t seconds = ms / 1000;
    if (seconds < 120)
        return std::to_string(seconds) + " s";
    if (seconds < 7200)
        return std::to_string(seconds / 60) + " min";
    if (seconds < 2 * 86400)
        return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " days";
}

// The journal of the home, for reading beside the running server.
TJournal& OpenJournal(const TCommandLine& line, TJournal& journal, bool write = false)
{
    const std::string path = line.Home() + TJournal::kFileName;
    const TOutcome opened = write ? journal.OpenShared(path) : journal.OpenReadOnly(path);
    if (!opened)
        throw std::runtime_error(opened.Reason() + (QFile::exists(QString::fromStdString(path))
                                                        ? std::string()
                                                        : " (the server has not run in " + line.Home() + ")"));
    return journal;
}

// What a job put out: "cups:<job>" for each print job, the path of each
// saved document or page file.
std::vector<std::string> OutputsOf(TJournal& journal, std::int64_t job)
{
    std::vector<std::string> outputs;
    for (const TOutputRow& o : journal.Outputs(job)) {
        if (o.State != "done")
            continue;
        if (o.Kind == "cups")
            outputs.push_back(o.CupsJob > 0 ? "cups:" + std::to_string(o.CupsJob) : "cups:" + o.Printer);
        else
            outputs.push_back(Utf8(o.Path));
    }
    return outputs;
}

// One output as what it was: a page printed, a page file written, a
// document saved, a printer file queued; one not known to exist as what it
// was to be.
std::string Described(const TOutputRow& o)
{
    const std::string page = o.Page > 0 ? "page " + std::to_string(o.Page) + " " : "";
    const std::string title = o.Title.empty() ? "" : " \"" + Utf8(o.Title) + "\"";
    const std::string be = o.State == "done" ? "" : "to be ";
    if (o.Kind == "cups")
        return page + be + "printed" + title + " on " +
               (o.Printer.empty() ? "the default printer" : Utf8(o.Printer)) +
               (o.CupsJob > 0 ? " as CUPS job " + std::to_string(o.CupsJob) : "");
    if (o.Kind == "page file")
        return page + be + "written to " + Utf8(o.Path);
    if (o.Kind == "document")
        return be + "saved as " + Utf8(o.Path);
    if (o.Kind == "queued")
        return be + "queued as " + Utf8(o.Path);
    return o.Kind + title + (o.Path.empty() ? "" : " " + Utf8(o.Path));
}

// What the job put out, from its outputs that exist; what it is to put out
// while it has none and may still make them.
std::string OutputSummary(const TJobRow& job, const std::vector<TOutputRow>& outputs)
{
    std::vector<std::string> made;
    for (const TOutputRow& o : outputs)
        if (o.State == "done")
            made.push_back(Described(o));
    if (!made.empty()) {
        std::string text = "output: " + made.front();
        for (std::size_t i = 1; i < made.size(); ++i)
            text += "; " + made[i];
        return text + (job.Overlay.empty() ? "" : " (overlay " + Utf8(job.Overlay) + ")");
    }
    const bool open = job.State == TJobState::Running || job.State == TJobState::Waiting;
    if (!open || job.OutputKind.empty())
        return "output: none";
    return "output: none yet (to be " + PlannedOutput(job.OutputKind, Utf8(job.Printer)) + ")";
}

json JobJson(TJournal& journal, const TJobRow& job)
{
    return json {{"id", job.Id},
                 {"request", Utf8(job.SpoolFile)},
                 {"kind", job.Kind},
                 {"reqcode", Utf8(job.ReqCode)},
                 {"proccode", Utf8(job.ProcCode)},
                 {"state", StateName(job.State)},
                 {"attempts", job.Attempts},
                 {"taken", Iso(job.TakenAt)},
                 {"updated", Iso(job.UpdatedAt)},
                 {"next_attempt", job.State == TJobState::Waiting ? json(Iso(job.NextAttemptAt)) : json(nullptr)},
                 {"printer", Utf8(job.Printer)},
                 {"overlay", Utf8(job.Overlay)},
                 {"output_kind", job.OutputKind},
                 {"outputs", OutputsOf(journal, job.Id)},
                 {"reason", Utf8(job.Reason)},
                 {"waiting_for", job.WaitingFor.empty() ? json(nullptr) : json(Utf8(job.WaitingFor))},
                 {"warnings", job.Warnings},
                 {"size", job.Size},
                 {"sha256", job.Hash}};
}

// "(2 warnings)" after a job's line; nothing for a job without any.
std::string WarningsMark(int warnings)
{
    if (warnings <= 0)
        return {};
    return "  (" + std::to_string(warnings) + (warnings == 1 ? " warning)" : " warnings)");
}

std::int64_t DayStart(const std::string& text)
{
    const QDate date = QDate::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid())
        throw TUsageError("--since wants a date as YYYY-MM-DD, not '" + text + "'");
    return date.startOfDay().toMSecsSinceEpoch();
}

std::int64_t JobId(const std::string& text)
{
    const bool digits = !text.empty() && text.size() <= 15 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        throw TUsageError("a job is named by its number, not '" + text + "'");
    return std::stoll(text);
}

std::string HashOf(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex().toStdString();
}

TServerConfig HomeConfig(const TCommandLine& line, TSettings& settings)
{
    const std::string path = line.Home() + kSettingsFileName;
    if (const TOutcome loaded = settings.LoadFromFile(path); !loaded)
        throw std::runtime_error("no settings: " + loaded.Reason() + " (use --home DIR or PRINTORB_HOME)");
    TServerConfig config = TServerConfig::Read(settings);
    if (config.SpoolDir.empty())
        throw std::runtime_error("SPOOLER is not set in " + path);
    return config;
}

// A kept request copied whole into the spool folder as its owner's: the
// server opens it for reading and writing, whoever runs the tool. Never
// through a link: root must not write where the service's user points it.
TOutcome HandOver(const std::string& source, const std::string& target, const std::string& home)
{
    const TResult<std::string> bytes = ReadFileBytes(source, TJobPipeline::kMaxRequestBytes);
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

// Rows as columns two spaces apart, each as wide as its widest cell (in
// characters, not bytes); the columns named by number are right-aligned.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, const std::vector<std::size_t>& rightAligned)
{
    const auto width = [](const std::string& cell) {
        return static_cast<std::size_t>(QString::fromStdString(cell).size());
    };
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths.resize(std::max(widths.size(), row.size()), 0);
            widths[c] = std::max(widths[c], width(row[c]));
        }
    for (const auto& row : rows) {
        std::string text;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::string pad(widths[c] - width(row[c]), ' ');
            const bool right = std::find(rightAligned.begin(), rightAligned.end(), c) != rightAligned.end();
            const bool last = c + 1 == row.size();
            text += (c > 0 ? "  " : "") + (right ? pad + row[c] : row[c] + (last ? "" : pad));
        }
        std::cout << text << '\n';
    }
}

int Run(const std::function<int()>& command)
{
    try {
        return command();
    } catch (const TUsageError&) {
        throw;
    } catch (const std::exception& failure) {
        return ExitFailed(failure.what());
    }
}

}  // namespace

int JobsCommand(const TCommandLine& line)
{
    TJobFilter filter;
    if (line.Has("--since"))
        filter.Since = DayStart(line.Value("--since"));
    filter.ReqCode = FromUnicode(QString::fromStdString(line.Value("--reqcode")));
    if (line.Has("--state")) {
        filter.State = StateNamed(line.Value("--state"));
        if (!filter.State)
            throw TUsageError("--state is one of running, waiting, done, failed, unprintable, not '" +
                              line.Value("--state") + "'");
    }
    return Run([&]() -> int {
        TJournal journal;
        OpenJournal(line, journal);
        const std::vector<TJobRow> jobs = journal.Jobs(filter);
        if (line.Has("--json")) {
            json all = json::array();
            for (const TJobRow& job : jobs)
                all.push_back(JobJson(journal, job));
            std::cout << all.dump(2) << '\n';
            return kExitOk;
        }
        std::vector<std::vector<std::string>> rows = {
            {"TAKEN", "JOB", "FILE", "REQUEST", "STATE", "TRIES", "PRINTER", "OUTPUT"}};
        for (const TJobRow& job : jobs) {
            std::string outputs;
            for (const std::string& o : OutputsOf(journal, job.Id))
                outputs += (outputs.empty() ? "" : ",") + o;
            // A printer file or page file: where the LPR queue delivered it.
            for (const TDeliveryRow& d : journal.Deliveries(job.Id))
                if (d.Code == 0)
                    outputs += " (" + d.Route + " to " + Utf8(d.Host) +
                               (d.Port > 0 ? ":" + std::to_string(d.Port) : "") + ")";
            rows.push_back({When(job.TakenAt), std::to_string(job.Id), Utf8(job.SpoolFile),
                            job.ReqCode.empty() ? "-" : Utf8(job.ReqCode), StateName(job.State),
                            std::to_string(job.Attempts), job.Printer.empty() ? "-" : Utf8(job.Printer),
                            (outputs.empty() ? "-" : outputs) + WarningsMark(job.Warnings)});
        }
        PrintColumns(rows, {1, 5});
        return kExitOk;
    });
}

int JobCommand(const TCommandLine& line)
{
    const std::int64_t id = JobId(line.Arg(0));
    return Run([&]() -> int {
        TJournal journal;
        OpenJournal(line, journal);
        const std::optional<TJobRow> job = journal.Job(id);
        if (!job)
            return ExitFailed("no job " + std::to_string(id) + " in " + journal.Path());
        const std::vector<TEventRow> events = journal.Events(id);
        const std::vector<TOutputRow> outputs = journal.Outputs(id);
        const std::vector<TDeliveryRow> deliveries = journal.Deliveries(id);
        if (line.Has("--json")) {
            json story = JobJson(journal, *job);
            story["events"] = json::array();
            for (const TEventRow& e : events)
                story["events"].push_back({{"at", Iso(e.At)}, {"what", Utf8(e.What)}});
            story["warning_list"] = json::array();
            for (const TEventRow& w : journal.Warnings(id))
                story["warning_list"].push_back({{"at", Iso(w.At)}, {"what", Utf8(w.What)}});
            story["output_records"] = json::array();
            for (const TOutputRow& o : outputs)
                story["output_records"].push_back({{"kind", o.Kind},       {"page", o.Page},
                                                   {"title", Utf8(o.Title)}, {"printer", Utf8(o.Printer)},
                                                   {"cups_job", o.CupsJob}, {"path", Utf8(o.Path)},
                                                   {"state", o.State},       {"attempt", o.Attempt},
                                                   {"started", Iso(o.StartedAt)}});
            story["deliveries"] = json::array();
            for (const TDeliveryRow& d : deliveries)
                story["deliveries"].push_back({{"at", Iso(d.At)},       {"file", Utf8(d.File)}, {"route", d.Route},
                                               {"host", Utf8(d.Host)},  {"port", d.Port},       {"code", d.Code},
                                               {"detail", Utf8(d.Detail)}, {"bytes", d.Bytes},
                                               {"duration_ms", d.DurationMs}});
            std::cout << story.dump(2) << '\n';
            return kExitOk;
        }
        std::cout << "job " << job->Id << ": " << Utf8(job->SpoolFile) << " (" << job->Kind << ", " << job->Size
                  << " bytes, sha256 " << job->Hash.substr(0, 16) << "...)\n"
                  << "  request " << (job->ReqCode.empty() ? "-" : Utf8(job->ReqCode)) << ", procedure "
                  << (job->ProcCode.empty() ? "-" : Utf8(job->ProcCode)) << '\n'
                  << "  state " << StateName(job->State) << " after " << job->Attempts << " attempt(s)";
        if (job->State == TJobState::Waiting)
            std::cout << ", next attempt " << When(job->NextAttemptAt);
        if (job->Warnings > 0)
            std::cout << ", " << job->Warnings << " warning(s) in its story";
        std::cout << '\n';
        if (!job->Reason.empty())
            std::cout << "  last reason: " << Utf8(job->Reason) << '\n';
        std::cout << "  " << OutputSummary(*job, outputs) << '\n';
        // The story in the order it happened: steps, outputs and deliveries.
        std::vector<std::pair<std::int64_t, std::string>> story;
        for (const TEventRow& e : events)
            story.emplace_back(e.At, Utf8(e.What));
        for (const TOutputRow& o : outputs)
            story.emplace_back(o.StartedAt, Described(o) + " (attempt " + std::to_string(o.Attempt) + ")" +
                                                 (o.State == "done" ? "" : ": not known to have been made"));
        for (const TDeliveryRow& d : deliveries) {
            std::ostringstream line;
            line << "delivery of " << Utf8(d.File) << " by " << d.Route << " to " << Utf8(d.Host)
                 << (d.Port > 0 ? ":" + std::to_string(d.Port) : "") << ": code " << d.Code
                 << (d.Code == 0 ? ", " + std::to_string(d.Bytes) + " bytes" : "")
                 << (d.Detail.empty() ? "" : " (" + Utf8(d.Detail) + ")") << " in " << d.DurationMs << " ms";
            story.emplace_back(d.At, line.str());
        }
        std::stable_sort(story.begin(), story.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::cout << "story:\n";
        for (const auto& [at, what] : story)
            std::cout << "  " << When(at) << "  " << what << '\n';
        return kExitOk;
    });
}

int ResubmitCommand(const TCommandLine& line)
{
    const std::int64_t id = JobId(line.Arg(0));
    return Run([&]() -> int {
        TSettings settings;
        const TServerConfig config = HomeConfig(line, settings);
        TJournal journal;
        OpenJournal(line, journal, true);
        const std::optional<TJobRow> job = journal.Job(id);
        if (!job)
            return ExitFailed("no job " + std::to_string(id) + " in " + journal.Path());
        if (job->State == TJobState::Running || job->State == TJobState::Waiting)
            return ExitFailed("job " + std::to_string(id) + " is " + StateName(job->State) + ": its request " +
                              Utf8(job->SpoolFile) + " is still in the spool folder");
        const std::string target = config.SpoolDir + job->SpoolFile;
        if (QFileInfo::exists(QString::fromStdString(target)))
            return ExitFailed(target + " exists: a request of that name waits in the spool folder");

        // The kept request: in "failed" (under its name, or "n-" and its
        // name beside an earlier one), else its copy in "temp"; only the
        // very bytes of the job.
        std::vector<std::string> candidates = {config.SpoolDir + "failed/" + job->SpoolFile};
        for (int n = 2; n < 100; ++n)
            candidates.push_back(config.SpoolDir + "failed/" + std::to_string(n) + "-" + job->SpoolFile);
        const std::string copy = config.SpoolDir + "temp/" + job->SpoolFile;
        candidates.push_back(copy);
        std::string source;
        for (const std::string& candidate : candidates)
            if (QFileInfo::exists(QString::fromStdString(candidate)) && HashOf(candidate) == job->Hash) {
                source = candidate;
                break;
            }
        if (source.empty())
            return ExitFailed("no kept copy of job " + std::to_string(id) + "'s request: neither " + config.SpoolDir +
                              "failed/ nor " + copy + " holds its bytes");
        // Copied whole under a temporary name, so the server sees it only
        // whole; a new file, so it is a new job.
        if (const TOutcome copied = HandOver(source, target, line.Home()); !copied)
            return ExitFailed("cannot put " + source + " back: " + copied.Reason());
        if (source != copy)
            QFile::remove(QString::fromStdString(source));
        if (const TOutcome noted = journal.AddEvent(id, "resubmitted by printorb-tool from " + source); !noted)
            std::cerr << "printorb-tool: the journal did not record the resubmission: " << noted.Reason() << '\n';
        std::cout << "Job " << id << "'s request " << Utf8(job->SpoolFile) << " is back in " << config.SpoolDir
                  << " (from " << Utf8(source) << "); it becomes a new job.\n";
        return kExitOk;
    });
}

namespace {

// A folder counts as full below this much room: no report fits any more.
constexpr unsigned long long kFullBytes = 1024 * 1024;

// The folders the server writes to that have no room left, with what is left.
std::vector<std::string> FullFolders(const TServerConfig& config, const std::string& home)
{
    std::vector<std::string> full;
    const std::vector<std::pair<std::string, std::string>> folders = {
        {"the home", IncludeTrailingSlash(home)},
        {"the spool folder", config.SpoolDir},
        {"the results folder", config.ResultsDir},
        {"the LPR queue", IncludeTrailingSlash(home) + "lpdspooler/"}};
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

}  // namespace

namespace {


// When a file came into its folder: a copy may keep an old modification time,
// but its change time is when it arrived.
std::int64_t ArrivedAt(const QFileInfo& file)
{
    return std::max(file.lastModified().toMSecsSinceEpoch(), file.metadataChangeTime().toMSecsSinceEpoch());
}

// The files of a folder matching the masks: how many, and the oldest.
struct TWaitingFiles {
    int Count = 0;
    std::int64_t Oldest = 0;
    std::string OldestName;
};

TWaitingFiles Waiting(const std::string& folder, const QStringList& masks)
{
    TWaitingFiles files;
    for (const QFileInfo& file : QDir(QString::fromStdString(folder)).entryInfoList(masks, QDir::Files)) {
        ++files.Count;
        const std::int64_t arrived = ArrivedAt(file);
        if (files.Oldest == 0 || arrived < files.Oldest) {
            files.Oldest = arrived;
            files.OldestName = file.fileName().toStdString();
        }
    }
    return files;
}

int Status(const TCommandLine& line)
{
    TSettings settings;
    const TServerConfig config = HomeConfig(line, settings);
    TJournal journal;
    OpenJournal(line, journal);
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    const std::int64_t lastTick = std::stoll(journal.Meta("last_tick").value_or("0"));
    const std::int64_t today = QDate::currentDate().startOfDay().toMSecsSinceEpoch();
    const long server = THomeLock::Holder(line.Home());

    // A failed request that was sent again and printed no longer counts.
    const std::vector<TJobRow> recent = journal.Jobs({.Since = now - 30 * kDayMs});
    std::map<std::string, std::int64_t> doneLater;  // hash -> when its newest done job was taken
    for (const TJobRow& job : recent)
        if (job.State == TJobState::Done && !job.Hash.empty())
            doneLater[job.Hash] = std::max(doneLater[job.Hash], job.TakenAt);
    const auto redone = [&](const TJobRow& job) {
        const auto later = doneLater.find(job.Hash);
        return later != doneLater.end() && later->second > job.TakenAt;
    };
    int done = 0, failedToday = 0, warnedToday = 0;
    std::vector<TJobRow> recentFailures;
    for (const TJobRow& job : recent) {
        if (job.UpdatedAt >= today && job.State == TJobState::Done)
            ++done;
        if (job.UpdatedAt >= today && job.State == TJobState::Failed)
            ++failedToday;
        if (job.UpdatedAt >= today && job.Warnings > 0)
            ++warnedToday;
        if (job.UpdatedAt >= now - kDayMs && job.State == TJobState::Failed && !redone(job))
            recentFailures.push_back(job);
    }
    const std::vector<TJobRow> waiting = journal.JobsIn(TJobState::Waiting);
    // What the server said of itself: what is down, what it cannot read.
    json state = json::object();
    if (const std::optional<std::string> said = journal.Meta("state"))
        state = json::parse(*said, nullptr, false);
    if (!state.is_object())
        state = json::object();
    const json outages = state.value("outages", json::array());
    std::map<std::string, std::string> subjects;
    for (const json& outage : outages)
        subjects[outage.value("key", "")] = outage.value("subject", "");

    // A file that waits longer means reports are late: a request takes
    // seconds, its retries at most a quarter of an hour with the defaults.
    const std::int64_t lateMs = line.Number("--late-after", 15, 0, 7 * 24 * 60) * 60 * 1000LL;
    const TWaitingFiles spooled = Waiting(config.SpoolDir, {QStringLiteral("*.tvq"), QStringLiteral("*.prn")});
    const std::string queueDir = IncludeTrailingSlash(line.Home()) + "lpdspooler/";
    const TWaitingFiles queued = Waiting(queueDir, {QStringLiteral("*.prn")});

    // Everything that is wrong, the most pressing first.
    std::vector<std::string> wrong;
    if (lastTick == 0)
        wrong.push_back("the server has not ticked in " + line.Home());
    else if (now - lastTick > 60 * 1000)
        wrong.push_back("the server has not ticked for " + Ago(now - lastTick) + " (last tick " + When(lastTick) +
                        (server != 0 ? "; a server runs on this home" : "; no server runs on this home") + ")");
    // Asked here too: an idle server learns of it only when a report comes.
    TPrintingLayer printing;
    const bool serverSaysDown = std::any_of(outages.begin(), outages.end(), [](const json& outage) {
        return outage.value("subject", "").starts_with("the print system");
    });
    if (!serverSaysDown && !printing.ListPrinters())
        wrong.push_back("the print system at " + printing.SchedulerName() + " does not answer");
    TJournal writer;
    if (const TOutcome opened = writer.OpenShared(line.Home() + TJournal::kFileName); opened)
        if (const TOutcome writable = writer.CanWrite(); !writable)
            wrong.push_back("the journal " + line.Home() + TJournal::kFileName +
                            " cannot be written: " + writable.Reason());
    for (const std::string& full : FullFolders(config, line.Home()))
        wrong.push_back(full);
    for (const json& outage : outages)
        wrong.push_back(outage.value("subject", "") + " is down since " + When(outage.value("since", 0LL)) + ": " +
                        outage.value("reason", ""));
    for (const json& name : state.value("unreadable_names", json::array()))
        wrong.push_back("the spool file " + name.get<std::string>() +
                        " cannot be taken: its name has characters outside Windows-1252");
    for (const json& file : state.value("not_readable", json::array()))
        wrong.push_back("the spool file " + file.value("name", "") + " cannot be read: " + file.value("why", ""));
    if (queued.Oldest > 0 && now - queued.Oldest > lateMs)
        wrong.push_back("the printer file " + queued.OldestName + " has waited " + Ago(now - queued.Oldest) +
                        " in the LPR queue " + queueDir);
    if (spooled.Oldest > 0 && now - spooled.Oldest > lateMs)
        wrong.push_back("the spool file " + spooled.OldestName + " has waited " + Ago(now - spooled.Oldest) +
                        " in " + config.SpoolDir);
    if (!recentFailures.empty())
        wrong.push_back(std::to_string(recentFailures.size()) + " job(s) failed in the last 24 hours, the last job " +
                        std::to_string(recentFailures.front().Id) + " (" + Utf8(recentFailures.front().SpoolFile) +
                        "): " + Utf8(recentFailures.front().Reason));

    std::cout << (wrong.empty() ? "ok: the server ticked " + Ago(now - lastTick) +
                                      " ago and no job failed in the last 24 hours"
                                : "not ok: " + wrong.front())
              << '\n';
    for (std::size_t i = 1; i < wrong.size(); ++i)
        std::cout << "also: " << wrong[i] << '\n';
    std::cout << "spool folder: " << spooled.Count << " file(s) waiting"
              << (spooled.Oldest > 0 ? ", the oldest for " + Ago(now - spooled.Oldest) : std::string()) << '\n'
              << "LPR queue: " << queued.Count << " file(s)"
              << (queued.Oldest > 0 ? ", the oldest for " + Ago(now - queued.Oldest) : std::string()) << '\n'
              << "last tick: " << When(lastTick) << '\n'
              << "today: " << done << " job(s) done, " << failedToday << " failed\n"
              << "warnings: " << warnedToday << " job(s) of today with warnings\n"
              << "waiting: " << waiting.size() << '\n';
    for (const TJobRow& job : waiting) {
        std::cout << "  job " << job.Id << " " << Utf8(job.SpoolFile) << ": ";
        if (!job.WaitingFor.empty()) {
            const auto subject = subjects.find(Utf8(job.WaitingFor));
            std::cout << "waits for "
                      << (subject != subjects.end() && !subject->second.empty() ? subject->second
                                                                                : Utf8(job.WaitingFor))
                      << " since " << When(job.UpdatedAt) << " (" << Utf8(job.Reason) << ")\n";
        } else {
            std::cout << "attempt " << job.Attempts + 1 << " at " << When(job.NextAttemptAt) << " ("
                      << Utf8(job.Reason) << ")\n";
        }
    }
    return wrong.empty() ? kExitOk : kExitFailed;
}

}  // namespace

int StatusCommand(const TCommandLine& line)
{
    // A monitor reads the first line: it is there whatever went wrong.
    try {
        return Status(line);
    } catch (const std::exception& failure) {
        std::cout << "not ok: " << failure.what() << '\n';
        return kExitFailed;
    }
}
