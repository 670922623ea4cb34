#include "journal/journal.h"

#include "util/fileutil.h"

#include <QDateTime>
#include <QFile>
#include <QUrl>

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <type_traits>

namespace {

constexpr std::array<const char*, 5> kStateNames = {"running", "waiting", "done", "failed", "unprintable"};

// The first schema: jobs, their outputs and story, the LPR queue's deliveries.
constexpr const char* kSchema1 = R"sql(
CREATE TABLE jobs(
  id INTEGER PRIMARY KEY,
  spool_file TEXT NOT NULL,
  size INTEGER NOT NULL,
  hash TEXT NOT NULL,
  file_id TEXT NOT NULL,
  kind TEXT NOT NULL,
  reqcode TEXT NOT NULL DEFAULT '',
  proccode TEXT NOT NULL DEFAULT '',
  taken_at INTEGER NOT NULL,
  state TEXT NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0,
  attempt_started_at INTEGER NOT NULL DEFAULT 0,
  next_attempt_at INTEGER NOT NULL DEFAULT 0,
  reason TEXT NOT NULL DEFAULT '',
  printer TEXT NOT NULL DEFAULT '',
  overlay TEXT NOT NULL DEFAULT '',
  output_kind TEXT NOT NULL DEFAULT '',
  updated_at INTEGER NOT NULL);
CREATE INDEX jobs_by_file ON jobs(spool_file, state);
CREATE INDEX jobs_by_time ON jobs(taken_at);
CREATE TABLE outputs(
  id INTEGER PRIMARY KEY,
  job_id INTEGER NOT NULL REFERENCES jobs(id) ON DELETE CASCADE,
  kind TEXT NOT NULL,
  page INTEGER NOT NULL DEFAULT 0,
  title TEXT NOT NULL DEFAULT '',
  printer TEXT NOT NULL DEFAULT '',
  cups_job INTEGER NOT NULL DEFAULT 0,
  path TEXT NOT NULL DEFAULT '',
  state TEXT NOT NULL,
  attempt INTEGER NOT NULL DEFAULT 0,
  started_at INTEGER NOT NULL,
  done_at INTEGER NOT NULL DEFAULT 0);
CREATE INDEX outputs_by_job ON outputs(job_id, kind, page);
CREATE INDEX outputs_by_path ON outputs(path);
CREATE TABLE events(
  id INTEGER PRIMARY KEY,
  job_id INTEGER NOT NULL REFERENCES jobs(id) ON DELETE CASCADE,
  at INTEGER NOT NULL,
  what TEXT NOT NULL);
CREATE INDEX events_by_job ON events(job_id);
CREATE TABLE deliveries(
  id INTEGER PRIMARY KEY,
  job_id INTEGER NOT NULL DEFAULT 0,
  file TEXT NOT NULL,
  file_id TEXT NOT NULL,
  route TEXT NOT NULL,
  host TEXT NOT NULL DEFAULT '',
  port INTEGER NOT NULL DEFAULT 0,
  code INTEGER NOT NULL,
  detail TEXT NOT NULL DEFAULT '',
  bytes INTEGER NOT NULL DEFAULT 0,
  duration_ms INTEGER NOT NULL DEFAULT 0,
  at INTEGER NOT NULL);
CREATE INDEX deliveries_by_file ON deliveries(file, file_id);
CREATE INDEX deliveries_by_job ON deliveries(job_id);
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
)sql";

// Each step from one schema version to the next, in order; the journal's
// version is SQLite's user_version.
// 2: what a job waits for when it waits for an outage, not its next attempt.
constexpr const char* kSchema2 = "ALTER TABLE jobs ADD COLUMN waiting_for TEXT NOT NULL DEFAULT '';";

// 3: a count of each job's warnings, kept beside the events that tell them.
constexpr const char* kSchema3 = "ALTER TABLE jobs ADD COLUMN warnings INTEGER NOT NULL DEFAULT 0;";

constexpr std::array<const char*, 3> kMigrations = {kSchema1, kSchema2, kSchema3};

constexpr const char* kJobColumns =
    "id, spool_file, size, hash, file_id, kind, reqcode, proccode, taken_at, state, attempts, attempt_started_at, "
    "next_attempt_at, reason, printer, overlay, output_kind, updated_at, waiting_for, warnings";

std::string Stamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")).toStdString();
}

}  // namespace

std::string PlannedOutput(std::string_view kind, std::string_view printer)
{
    struct TWording {
        std::string_view Kind, Words;
        bool OnPrinter;
    };
    static constexpr TWording kWordings[] = {
        {"printed", "printed", true},
        {"fax", "faxed", true},
        {"pdf", "saved as PDF", false},
        {"word", "saved as Word", false},
        {"rtf", "saved as RTF", false},
        {"page files", "written as page files", true},
        {"scanned images", "printed as scanned images", true},
        {"lpr queue", "queued in the LPR queue", false},
    };
    for (const TWording& w : kWordings)
        if (w.Kind == kind)
            return std::string(w.Words) + (w.OnPrinter && !printer.empty() ? " on " + std::string(printer) : "");
    return std::string(kind);
}

const char* StateName(TJobState state)
{
    return kStateNames[static_cast<std::size_t>(state)];
}

std::optional<TJobState> StateNamed(std::string_view name)
{
    for (std::size_t i = 0; i < kStateNames.size(); ++i)
        if (name == kStateNames[i])
            return static_cast<TJobState>(i);
    return std::nullopt;
}

// A prepared statement, made once per text and kept; reset after each use.
class TJournal::TStatement {
public:
    TStatement(sqlite3* db, sqlite3_stmt* stmt) : FDb(db), FStmt(stmt) {}
    ~TStatement()
    {
        if (FStmt) {
            sqlite3_reset(FStmt);
            sqlite3_clear_bindings(FStmt);
        }
    }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
    TStatement(TStatement&& other) noexcept : FDb(other.FDb), FStmt(other.FStmt) { other.FStmt = nullptr; }

    bool Ok() const { return FStmt != nullptr; }
    TStatement& Bind(std::int64_t value)
    {
        if (FStmt)
            sqlite3_bind_int64(FStmt, ++FBound, value);
        return *this;
    }
    TStatement& Bind(std::string_view text)
    {
        // An empty view may have no data at all, which SQLite would bind as NULL.
        if (FStmt)
            sqlite3_bind_text(FStmt, ++FBound, text.data() ? text.data() : "", static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }
    // true while there is a row to read.
    bool Row()
    {
        FLast = FStmt ? sqlite3_step(FStmt) : SQLITE_MISUSE;
        return FLast == SQLITE_ROW;
    }
    // The last Row() stopped at an error, not after the last row.
    bool Failed() const { return FLast != SQLITE_ROW && FLast != SQLITE_DONE; }
    TOutcome Run()
    {
        FLast = FStmt ? sqlite3_step(FStmt) : SQLITE_MISUSE;
        if (FLast == SQLITE_DONE || FLast == SQLITE_ROW)
            return TOutcome::Done();
        return Fail(sqlite3_errmsg(FDb));
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(FStmt, column); }
    std::string Text(int column) const
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, column));
        return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(FStmt, column))) : std::string();
    }

private:
    sqlite3* FDb;
    sqlite3_stmt* FStmt;
    int FBound = 0;
    int FLast = SQLITE_OK;
};

namespace {

// A row's columns, in the order of its SELECT, into the row's members.
template <typename Statement, typename Row, typename... Members>
Row ReadRow(const Statement& s, Members Row::*... members)
{
    Row row;
    int column = 0;
    auto read = [&](auto& field) {
        using T = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<T, std::string>)
            field = s.Text(column);
        else if constexpr (std::is_same_v<T, TJobState>)
            field = StateNamed(s.Text(column)).value_or(TJobState::Failed);
        else
            field = static_cast<T>(s.Int(column));
        ++column;
    };
    (read(row.*members), ...);
    return row;
}

TJobRow JobOf(const auto& s)
{
    return ReadRow<std::remove_cvref_t<decltype(s)>, TJobRow>(
        s, &TJobRow::Id, &TJobRow::SpoolFile, &TJobRow::Size, &TJobRow::Hash, &TJobRow::FileId, &TJobRow::Kind,
        &TJobRow::ReqCode, &TJobRow::ProcCode, &TJobRow::TakenAt, &TJobRow::State, &TJobRow::Attempts,
        &TJobRow::AttemptStartedAt, &TJobRow::NextAttemptAt, &TJobRow::Reason, &TJobRow::Printer, &TJobRow::Overlay,
        &TJobRow::OutputKind, &TJobRow::UpdatedAt, &TJobRow::WaitingFor, &TJobRow::Warnings);
}

TOutputRow OutputOfRow(const auto& s)
{
    return ReadRow<std::remove_cvref_t<decltype(s)>, TOutputRow>(
        s, &TOutputRow::Id, &TOutputRow::JobId, &TOutputRow::Kind, &TOutputRow::Page, &TOutputRow::Title,
        &TOutputRow::Printer, &TOutputRow::CupsJob, &TOutputRow::Path, &TOutputRow::State, &TOutputRow::Attempt,
        &TOutputRow::StartedAt, &TOutputRow::DoneAt);
}

// Every row the statement gives, each made by of; nullopt when a step
// failed, so that a list cut short by an error is not taken for a whole one.
template <class Statement, class Of>
auto AllRows(Statement& s, Of of) -> std::optional<std::vector<decltype(of(s))>>
{
    std::vector<decltype(of(s))> rows;
    while (s.Row())
        rows.push_back(of(s));
    if (s.Failed())
        return std::nullopt;
    return rows;
}

constexpr const char* kOutputColumns =
    "id, job_id, kind, page, title, printer, cups_job, path, state, attempt, started_at, done_at";

}  // namespace

TJournal::TJournal() : Now([] { return QDateTime::currentMSecsSinceEpoch(); }) {}

TJournal::~TJournal()
{
    Close();
}

void TJournal::Close()
{
    if (!FDb)
        return;
    for (auto& [text, stmt] : FStatements)
        sqlite3_finalize(stmt);
    FStatements.clear();
    sqlite3_close_v2(FDb);
    FDb = nullptr;
}

TFailure TJournal::LastFailure(std::string_view what) const
{
    return Fail(std::string(what) + ": " + (FDb ? sqlite3_errmsg(FDb) : "no journal"), FPath);
}

TJournal::TStatement TJournal::Prepare(const char* sql)
{
    if (!FDb)
        return TStatement(nullptr, nullptr);
    auto found = FStatements.find(sql);
    if (found != FStatements.end())
        return TStatement(FDb, found->second);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(FDb, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
        return TStatement(FDb, nullptr);
    FStatements.emplace(sql, stmt);
    return TStatement(FDb, stmt);
}

TOutcome TJournal::Execute(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return TOutcome::Done();
    const std::string why = error ? error : sqlite3_errmsg(FDb);
    sqlite3_free(error);
    return Fail(why, FPath);
}

TOutcome TJournal::OpenFile(const std::string& path, bool readOnly)
{
    Close();
    FPath = path;
    const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &FDb, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        const TFailure failure = LastFailure("cannot open");
        Close();
        return failure;
    }
    sqlite3_busy_timeout(FDb, 2000);
    return TOutcome::Done();
}

TOutcome TJournal::CreateOrMigrate()
{
    {
        // A file that is not a database, or is damaged, fails here.
        TStatement check = Prepare("PRAGMA quick_check");
        if (!check.Ok() || !check.Row() || check.Text(0) != "ok")
            return LastFailure("damaged");
    }
    int version = 0;
    {
        TStatement read = Prepare("PRAGMA user_version");
        if (!read.Ok() || !read.Row())
            return LastFailure("no schema version");
        version = static_cast<int>(read.Int(0));
    }
    if (version > kSchemaVersion)
        return Fail("schema version " + std::to_string(version) + " is newer than this server's " +
                        std::to_string(kSchemaVersion),
                    FPath);
    if (const TOutcome wal = Execute("PRAGMA journal_mode=WAL"); !wal)
        return wal;
    // A crash of the server loses nothing committed; the operating system
    // writes it out.
    if (const TOutcome sync = Execute("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON"); !sync)
        return sync;
    for (int step = version; step < kSchemaVersion; ++step) {
        const std::string sql = std::string("BEGIN IMMEDIATE;") + kMigrations[static_cast<std::size_t>(step)] +
                                "PRAGMA user_version=" + std::to_string(step + 1) + ";COMMIT;";
        if (const TOutcome migrated = Execute(sql.c_str()); !migrated) {
            static_cast<void>(Execute("ROLLBACK"));
            return migrated;
        }
    }
    // For the status read every second: today's jobs without reading a month of them.
    if (const TOutcome indexed = Execute("CREATE INDEX IF NOT EXISTS jobs_by_update ON jobs(updated_at);"
                                         "CREATE INDEX IF NOT EXISTS jobs_by_state ON jobs(state)");
        !indexed)
        return indexed;
    return TOutcome::Done();
}

TResult<std::string> TJournal::Open(const std::string& path)
{
    TOutcome opened = OpenFile(path, false);
    if (opened)
        opened = CreateOrMigrate();
    if (opened)
        return std::string();
    // Kept for whoever wants to look into it; the server goes on with a new one.
    const std::string why = opened.Reason();
    Close();
    const std::string aside = path + ".unusable-" + Stamp();
    if (!QFile::exists(QString::fromStdString(path)))
        return opened.Failure();
    if (!QFile::rename(QString::fromStdString(path), QString::fromStdString(aside)))
        return Fail("cannot move the unusable journal aside (" + why + ")", path);
    for (const char* side : {"-wal", "-shm"})
        QFile::rename(QString::fromStdString(path + side), QString::fromStdString(aside + side));
    opened = OpenFile(path, false);
    if (opened)
        opened = CreateOrMigrate();
    if (!opened) {
        Close();
        return opened.Failure();
    }
    return aside + " (" + why + ")";
}

TOutcome TJournal::OpenInMemory()
{
    if (const TOutcome opened = OpenFile(":memory:", false); !opened)
        return opened;
    return CreateOrMigrate();
}

TOutcome TJournal::OpenExisting(const std::string& path, bool readOnly)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Fail(path +
                    (errno == ENOENT ? std::string(" does not exist") : ": " + std::string(std::strerror(errno))));
    if (::access(path.c_str(), readOnly ? R_OK : R_OK | W_OK) != 0)
        return Fail(path + ": " + std::strerror(errno) + " (it is " + UserAndGroup(st.st_uid, st.st_gid) + " " +
                    OctalMode(st.st_mode) + ")");
    FPath = path;
    TOutcome opened = OpenVersioned(path, readOnly, false);
    // A reader who may not write beside the journal cannot make its shared
    // memory file: with no server writing (no write-ahead log) the file
    // alone is the whole journal.
    const bool noLog = ::access((path + "-wal").c_str(), F_OK) != 0 && errno == ENOENT;
    if (!opened && readOnly && noLog && ::access(ExtractFileDir(path).c_str(), W_OK) != 0)
        opened = OpenVersioned(path, readOnly, true);
    return opened;
}

TOutcome TJournal::OpenVersioned(const std::string& path, bool readOnly, bool immutable)
{
    Close();
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    std::string name = path;
    if (immutable) {
        flags |= SQLITE_OPEN_URI;
        name = QUrl::fromLocalFile(QString::fromStdString(path)).toString(QUrl::FullyEncoded).toStdString() +
               "?immutable=1";
    }
    if (sqlite3_open_v2(name.c_str(), &FDb, flags, nullptr) != SQLITE_OK) {
        const TFailure failure = LastFailure("cannot open");
        Close();
        return failure;
    }
    sqlite3_busy_timeout(FDb, 2000);
    std::int64_t version = -1;
    {
        TStatement read = Prepare("PRAGMA user_version");
        if (read.Ok() && read.Row())
            version = read.Int(0);
    }
    if (version != kSchemaVersion) {
        const std::string why = FDb ? sqlite3_errmsg(FDb) : "";
        Close();
        if (version < 0)
            return Fail(path + " is not a journal" + (why.empty() || why == "not an error" ? "" : " (" + why + ")"));
        return Fail(path + ": journal schema version " + std::to_string(version) + ", this program reads " +
                    std::to_string(kSchemaVersion));
    }
    return TOutcome::Done();
}

TOutcome TJournal::OpenReadOnly(const std::string& path)
{
    return OpenExisting(path, true);
}

TOutcome TJournal::OpenShared(const std::string& path)
{
    return OpenExisting(path, false);
}

TResult<std::int64_t> TJournal::AddJob(TJobRow row)
{
    row.UpdatedAt = Now();
    TStatement s = Prepare(
        "INSERT INTO jobs(spool_file, size, hash, file_id, kind, reqcode, proccode, taken_at, state, attempts, "
        "attempt_started_at, next_attempt_at, reason, printer, overlay, output_kind, updated_at, waiting_for, "
        "warnings) "
        "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    s.Bind(row.SpoolFile).Bind(row.Size).Bind(row.Hash).Bind(row.FileId).Bind(row.Kind).Bind(row.ReqCode);
    s.Bind(row.ProcCode).Bind(row.TakenAt).Bind(StateName(row.State)).Bind(row.Attempts).Bind(row.AttemptStartedAt);
    s.Bind(row.NextAttemptAt).Bind(row.Reason).Bind(row.Printer).Bind(row.Overlay).Bind(row.OutputKind);
    s.Bind(row.UpdatedAt).Bind(row.WaitingFor).Bind(row.Warnings);
    if (const TOutcome done = s.Run(); !done)
        return LastFailure("cannot record the job");
    return static_cast<std::int64_t>(sqlite3_last_insert_rowid(FDb));
}

TOutcome TJournal::UpdateJob(const TJobRow& row)
{
    TStatement s = Prepare(
        "UPDATE jobs SET reqcode=?, proccode=?, state=?, attempts=?, attempt_started_at=?, next_attempt_at=?, "
        "reason=?, printer=?, overlay=?, output_kind=?, updated_at=?, waiting_for=? WHERE id=?");
    s.Bind(row.ReqCode).Bind(row.ProcCode).Bind(StateName(row.State)).Bind(row.Attempts).Bind(row.AttemptStartedAt);
    s.Bind(row.NextAttemptAt).Bind(row.Reason).Bind(row.Printer).Bind(row.Overlay).Bind(row.OutputKind);
    s.Bind(Now()).Bind(row.WaitingFor).Bind(row.Id);
    if (!s.Run())
        return LastFailure("cannot record the job's state");
    return TOutcome::Done();
}

TResult<std::optional<TJobRow>> TJournal::FirstJob(TStatement& s, std::string_view what)
{
    if (s.Row())
        return std::optional<TJobRow>(JobOf(s));
    if (s.Failed())
        return LastFailure("cannot read " + std::string(what));
    return std::optional<TJobRow>();
}

TResult<std::optional<TJobRow>> TJournal::Job(std::int64_t id)
{
    static const std::string sql = std::string("SELECT ") + kJobColumns + " FROM jobs WHERE id=?";
    TStatement s = Prepare(sql.c_str());
    s.Bind(id);
    return FirstJob(s, "job " + std::to_string(id));
}

TResult<std::optional<TJobRow>> TJournal::UnfinishedJob(std::string_view spoolFile)
{
    static const std::string sql = std::string("SELECT ") + kJobColumns +
                                   " FROM jobs WHERE spool_file=? AND state IN ('running','waiting') "
                                   "ORDER BY id DESC LIMIT 1";
    TStatement s = Prepare(sql.c_str());
    s.Bind(spoolFile);
    return FirstJob(s, "the unfinished job of " + std::string(spoolFile));
}

TResult<std::optional<TJobRow>> TJournal::FinishedJobOf(std::string_view spoolFile, std::string_view hash,
                                                        std::string_view fileId)
{
    static const std::string sql = std::string("SELECT ") + kJobColumns +
                                   " FROM jobs WHERE spool_file=? AND hash=? AND file_id=? "
                                   "AND state IN ('done','failed','unprintable') ORDER BY id DESC LIMIT 1";
    TStatement s = Prepare(sql.c_str());
    s.Bind(spoolFile).Bind(hash).Bind(fileId);
    return FirstJob(s, "the finished job of " + std::string(spoolFile));
}

TResult<std::vector<TJobRow>> TJournal::Jobs(const TJobFilter& filter)
{
    static const std::string sql = std::string("SELECT ") + kJobColumns +
                                   " FROM jobs WHERE taken_at>=? AND (?=0 OR taken_at<?) AND (?='' OR reqcode=?) "
                                   "AND (?='' OR state=?) ORDER BY taken_at DESC, id DESC LIMIT ? OFFSET ?";
    TStatement s = Prepare(sql.c_str());
    const std::string state = filter.State ? StateName(*filter.State) : "";
    s.Bind(filter.Since).Bind(filter.Before).Bind(filter.Before);
    s.Bind(filter.ReqCode).Bind(filter.ReqCode).Bind(state).Bind(state);
    s.Bind(filter.Limit > 0 ? filter.Limit : -1).Bind(std::max(0, filter.Offset));
    return JobRows(s, "the jobs");
}

TResult<std::vector<TJobRow>> TJournal::JobRows(TStatement& s, std::string_view what)
{
    std::optional<std::vector<TJobRow>> rows = AllRows(s, [](const TStatement& row) { return JobOf(row); });
    if (!rows)
        return LastFailure("cannot read " + std::string(what));
    return std::move(*rows);
}

TResult<TDayCounts> TJournal::CountUpdatedSince(std::int64_t since)
{
    // "+state": by the time index, not the state index, which would read every job.
    TStatement s = Prepare("SELECT state, COUNT(*), SUM(warnings > 0) FROM jobs WHERE updated_at>=? GROUP BY +state");
    s.Bind(since);
    TDayCounts counts;
    while (s.Row()) {
        const std::string state = s.Text(0);
        const int jobs = static_cast<int>(s.Int(1));
        if (state == StateName(TJobState::Done))
            counts.Done = jobs;
        else if (state == StateName(TJobState::Failed))
            counts.Failed = jobs;
        counts.WithWarnings += static_cast<int>(s.Int(2));
    }
    if (s.Failed())
        return LastFailure("cannot count the jobs");
    return counts;
}

TResult<std::vector<TJobRow>> TJournal::JobsUpdatedSince(TJobState state, std::int64_t since)
{
    static const std::string sql = std::string("SELECT ") + kJobColumns +
                                   " FROM jobs WHERE updated_at>=? AND state=? ORDER BY taken_at DESC, id DESC";
    TStatement s = Prepare(sql.c_str());
    s.Bind(since).Bind(StateName(state));
    return JobRows(s, std::string("the ") + StateName(state) + " jobs");
}

TResult<bool> TJournal::DoneLater(std::string_view hash, std::int64_t takenAfter)
{
    TStatement s = Prepare("SELECT 1 FROM jobs WHERE taken_at>? AND hash=? AND state=? LIMIT 1");
    s.Bind(takenAfter).Bind(hash).Bind(StateName(TJobState::Done));
    return AnyRow(s, "the later jobs of the same file");
}

TResult<std::vector<TJobRow>> TJournal::JobsIn(TJobState state)
{
    static const std::string sql = std::string("SELECT ") + kJobColumns + " FROM jobs WHERE state=? ORDER BY id";
    TStatement s = Prepare(sql.c_str());
    s.Bind(StateName(state));
    return JobRows(s, std::string("the ") + StateName(state) + " jobs");
}

TOutcome TJournal::AddEvent(std::int64_t jobId, std::string_view what)
{
    TStatement s = Prepare("INSERT INTO events(job_id, at, what) VALUES(?,?,?)");
    s.Bind(jobId).Bind(Now()).Bind(what);
    if (!s.Run())
        return LastFailure("cannot record the event");
    return TOutcome::Done();
}

TResult<std::vector<TEventRow>> TJournal::Events(std::int64_t jobId)
{
    TStatement s = Prepare("SELECT at, what FROM events WHERE job_id=? ORDER BY id");
    s.Bind(jobId);
    std::optional<std::vector<TEventRow>> rows =
        AllRows(s, [](const TStatement& row) { return TEventRow {row.Int(0), row.Text(1)}; });
    if (!rows)
        return LastFailure("cannot read the story of job " + std::to_string(jobId));
    return std::move(*rows);
}

TOutcome TJournal::AddWarning(std::int64_t jobId, std::string_view what)
{
    const std::string event = std::string(kWarningPrefix) + std::string(what);
    if (const TOutcome begun = Execute("BEGIN IMMEDIATE"); !begun)
        return begun;
    TStatement add = Prepare(
        "INSERT INTO events(job_id, at, what) SELECT ?,?,? "
        "WHERE NOT EXISTS(SELECT 1 FROM events WHERE job_id=? AND what=?)");
    add.Bind(jobId).Bind(Now()).Bind(event).Bind(jobId).Bind(event);
    TOutcome done = add.Run();
    if (done && sqlite3_changes(FDb) > 0) {
        TStatement count = Prepare("UPDATE jobs SET warnings=warnings+1 WHERE id=?");
        count.Bind(jobId);
        done = count.Run();
    }
    if (!done) {
        const TFailure failure = LastFailure("cannot record the warning");
        static_cast<void>(Execute("ROLLBACK"));
        return failure;
    }
    return Execute("COMMIT");
}

TResult<std::vector<TEventRow>> TJournal::Warnings(std::int64_t jobId)
{
    TResult<std::vector<TEventRow>> events = Events(jobId);
    if (!events)
        return events.Failure();
    std::vector<TEventRow> warnings;
    for (const TEventRow& e : *events)
        if (e.What.starts_with(kWarningPrefix))
            warnings.push_back({e.At, e.What.substr(kWarningPrefix.size())});
    return warnings;
}

TResult<std::int64_t> TJournal::AddOutput(TOutputRow row)
{
    row.StartedAt = Now();
    TStatement s = Prepare(
        "INSERT INTO outputs(job_id, kind, page, title, printer, cups_job, path, state, attempt, started_at, done_at) "
        "VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    s.Bind(row.JobId).Bind(row.Kind).Bind(row.Page).Bind(row.Title).Bind(row.Printer).Bind(row.CupsJob);
    s.Bind(row.Path).Bind(row.State).Bind(row.Attempt).Bind(row.StartedAt).Bind(row.State == "done" ? row.StartedAt : 0);
    if (!s.Run())
        return LastFailure("cannot record the output");
    return static_cast<std::int64_t>(sqlite3_last_insert_rowid(FDb));
}

TOutcome TJournal::OutputDone(std::int64_t outputId, int cupsJob)
{
    TStatement s = Prepare("UPDATE outputs SET state='done', cups_job=?, done_at=? WHERE id=?");
    s.Bind(cupsJob).Bind(Now()).Bind(outputId);
    if (!s.Run())
        return LastFailure("cannot record the output");
    return TOutcome::Done();
}

TResult<std::optional<TOutputRow>> TJournal::OutputOf(std::int64_t jobId, std::string_view kind, int page,
                                                      std::string_view path, std::string_view title)
{
    static const std::string sql = std::string("SELECT ") + kOutputColumns +
                                   " FROM outputs WHERE job_id=? AND (?='' OR kind=?) AND page=? AND (?='' OR path=?) "
                                   "AND (?='' OR title=?) ORDER BY id DESC LIMIT 1";
    TStatement s = Prepare(sql.c_str());
    s.Bind(jobId).Bind(kind).Bind(kind).Bind(page).Bind(path).Bind(path).Bind(title).Bind(title);
    if (s.Row())
        return std::optional<TOutputRow>(OutputOfRow(s));
    if (s.Failed())
        return LastFailure("cannot read the outputs of job " + std::to_string(jobId));
    return std::optional<TOutputRow>();
}

TResult<std::vector<TOutputRow>> TJournal::Outputs(std::int64_t jobId)
{
    static const std::string sql = std::string("SELECT ") + kOutputColumns + " FROM outputs WHERE job_id=? ORDER BY id";
    TStatement s = Prepare(sql.c_str());
    s.Bind(jobId);
    std::optional<std::vector<TOutputRow>> rows = AllRows(s, [](const TStatement& row) { return OutputOfRow(row); });
    if (!rows)
        return LastFailure("cannot read the outputs of job " + std::to_string(jobId));
    return std::move(*rows);
}

std::int64_t TJournal::JobOfQueuedFile(std::string_view path)
{
    TStatement s = Prepare("SELECT job_id FROM outputs WHERE path=? ORDER BY id DESC LIMIT 1");
    s.Bind(path);
    return s.Row() ? s.Int(0) : 0;
}

TOutcome TJournal::AddDelivery(TDeliveryRow row)
{
    row.At = Now();
    TStatement s = Prepare(
        "INSERT INTO deliveries(job_id, file, file_id, route, host, port, code, detail, bytes, duration_ms, at) "
        "VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    s.Bind(row.JobId).Bind(row.File).Bind(row.FileId).Bind(row.Route).Bind(row.Host).Bind(row.Port).Bind(row.Code);
    s.Bind(row.Detail).Bind(row.Bytes).Bind(row.DurationMs).Bind(row.At);
    if (!s.Run())
        return LastFailure("cannot record the delivery");
    return TOutcome::Done();
}

TResult<bool> TJournal::AnyRow(TStatement& s, std::string_view what)
{
    if (s.Row())
        return true;
    if (s.Failed())
        return LastFailure("cannot read " + std::string(what));
    return false;
}

TResult<bool> TJournal::WasDelivered(std::string_view file, std::string_view fileId)
{
    TStatement s = Prepare("SELECT 1 FROM deliveries WHERE file=? AND file_id=? AND code=0 LIMIT 1");
    s.Bind(file).Bind(fileId);
    return AnyRow(s, "the deliveries of " + std::string(file));
}

TResult<bool> TJournal::DeliveredSince(std::string_view file, std::int64_t since)
{
    TStatement s = Prepare("SELECT 1 FROM deliveries WHERE file=? AND code=0 AND at>=? LIMIT 1");
    s.Bind(file).Bind(since);
    return AnyRow(s, "the deliveries of " + std::string(file));
}

TResult<std::vector<TDeliveryRow>> TJournal::Deliveries(std::int64_t jobId)
{
    TStatement s = Prepare(
        "SELECT id, job_id, file, file_id, route, host, port, code, detail, bytes, duration_ms, at "
        "FROM deliveries WHERE job_id=? ORDER BY id");
    s.Bind(jobId);
    std::optional<std::vector<TDeliveryRow>> rows = AllRows(s, [](const TStatement& row) {
        return TDeliveryRow {row.Int(0),  row.Int(1),  row.Text(2),
                             row.Text(3), row.Text(4), row.Text(5),
                             static_cast<int>(row.Int(6)), static_cast<int>(row.Int(7)), row.Text(8),
                             row.Int(9),  row.Int(10), row.Int(11)};
    });
    if (!rows)
        return LastFailure("cannot read the deliveries of job " + std::to_string(jobId));
    return std::move(*rows);
}

TOutcome TJournal::CanWrite()
{
    if (!FDb)
        return Fail("no journal");
    // A write lock, and a page written into the WAL, without a change kept.
    if (const TOutcome begun = Execute("BEGIN IMMEDIATE"); !begun)
        return begun;
    const TOutcome written =
        Execute("INSERT INTO meta(key, value) VALUES('write_check', '1') "
                "ON CONFLICT(key) DO UPDATE SET value=excluded.value");
    static_cast<void>(Execute("ROLLBACK"));
    return written;
}

TOutcome TJournal::SetMeta(std::string_view key, std::string_view value)
{
    TStatement s = Prepare("INSERT INTO meta(key, value) VALUES(?,?) ON CONFLICT(key) DO UPDATE SET value=excluded.value");
    s.Bind(key).Bind(value);
    if (!s.Run())
        return LastFailure("cannot record " + std::string(key));
    return TOutcome::Done();
}

TResult<std::optional<std::string>> TJournal::Meta(std::string_view key)
{
    TStatement s = Prepare("SELECT value FROM meta WHERE key=?");
    s.Bind(key);
    if (s.Row())
        return std::optional<std::string>(s.Text(0));
    if (s.Failed())
        return LastFailure("cannot read " + std::string(key));
    return std::optional<std::string>();
}

TResult<int> TJournal::RemoveOlderThan(std::int64_t before)
{
    if (const TOutcome begun = Execute("BEGIN IMMEDIATE"); !begun)
        return begun.Failure();
    // Only jobs that have ended; a waiting one keeps its story however old.
    TStatement jobs = Prepare(
        "DELETE FROM jobs WHERE updated_at<? AND state IN ('done','failed','unprintable')");
    jobs.Bind(before);
    const TOutcome removedJobs = jobs.Run();
    const int count = sqlite3_changes(FDb);
    TStatement deliveries = Prepare("DELETE FROM deliveries WHERE at<?");
    deliveries.Bind(before);
    const TOutcome removedDeliveries = deliveries.Run();
    if (!removedJobs || !removedDeliveries) {
        const TFailure failure = LastFailure("cannot remove old rows");
        static_cast<void>(Execute("ROLLBACK"));
        return failure;
    }
    if (const TOutcome committed = Execute("COMMIT"); !committed)
        return committed.Failure();
    return count;
}
