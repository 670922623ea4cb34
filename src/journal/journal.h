// The job journal: what happened to every spool file taken, in an SQLite
// database in the server's home (journal.db). Each job is one spool file's
// bytes taken for output: its decisions, its attempts, every output it made
// (each page's print job, each page file, each saved document), and the LPR
// queue's delivery attempts. What must survive a crash is committed before
// the step it guards, so a restart goes on where the last attempt stopped
// and never outputs anything twice. No patient data is kept beyond the
// request and procedure codes.
#pragma once

#include "util/logger.h"
#include "util/result.h"
#include "util/serverhome.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

enum class TJobState { Running, Waiting, Done, Failed, Unprintable };
// What a job of that output kind is to put out, in words: "printed on Lab",
// "saved as PDF"; a saved document names no printer.
std::string PlannedOutput(std::string_view kind, std::string_view printer);
const char* StateName(TJobState state);
std::optional<TJobState> StateNamed(std::string_view name);

// Times are milliseconds since the epoch.
struct TJobRow {
    std::int64_t Id = 0;
    std::string SpoolFile {};  // the name in the spool folder
    std::int64_t Size = 0;
    std::string Hash {};       // SHA-256 of the bytes, hex
    std::string FileId {};     // which file it was: device, inode and change time
    std::string Kind {};       // "request" or "printer file"
    std::string ReqCode {};
    std::string ProcCode {};
    std::int64_t TakenAt = 0;
    TJobState State = TJobState::Running;
    int Attempts = 0;
    std::int64_t AttemptStartedAt = 0;
    std::int64_t NextAttemptAt = 0;  // while waiting
    std::string Reason {};              // the last failure
    std::string Printer {};
    std::string Overlay {};
    std::string OutputKind {};          // "printed", "fax", "pdf", "word", "rtf", "page files", "scanned images", "lpr queue"
    std::int64_t UpdatedAt = 0;
    // While waiting for an outage to end (the key of what is down), not for
    // its next attempt: the wait costs no attempt.
    std::string WaitingFor {};
    // How many warnings its story has (AddWarning), so lists need not read it.
    int Warnings = 0;
};

// One output of a job. Kind "cups" (a page or a scanned image printed), "page
// file" (a page written into the LPR queue), "document" (a saved document),
// "queued" (a printer file copied into the LPR queue). State "sending" until
// it is known to exist, then "done".
struct TOutputRow {
    std::int64_t Id = 0;
    std::int64_t JobId = 0;
    std::string Kind {};
    int Page = 0;
    std::string Title {};
    std::string Printer {};
    int CupsJob = 0;
    std::string Path {};
    std::string State {};
    int Attempt = 0;
    std::int64_t StartedAt = 0;
    std::int64_t DoneAt = 0;
};

// One delivery attempt of a queued printer file by one route.
struct TDeliveryRow {
    std::int64_t Id = 0;
    std::int64_t JobId = 0;  // 0 when no job is known for the file
    std::string File {};
    std::string FileId {};
    std::string Route {};  // "spooler", "lpd", "raw", "ftp"
    std::string Host {};   // the host, or the CUPS printer of the spooler route
    int Port = 0;
    int Code = 0;       // 0 delivered
    std::string Detail {};
    std::int64_t Bytes = 0;
    std::int64_t DurationMs = 0;
    std::int64_t At = 0;
};

struct TEventRow {
    std::int64_t At = 0;
    std::string What {};
};

// Jobs that changed since a time, by how they stand.
struct TDayCounts {
    int Done = 0;
    int Failed = 0;
    int WithWarnings = 0;
};

struct TJobFilter {
    std::int64_t Since = 0;   // taken at or after
    std::int64_t Before = 0;  // taken before; 0: no end
    std::string ReqCode {};
    std::optional<TJobState> State {};
    int Limit = 0;  // 0: all
    int Offset = 0; // newest first, after skipping this many
};

class TJournal {
public:
    static constexpr int kSchemaVersion = 3;
    static constexpr const char* kFileName = TServerHome::kJournal;
    // How a warning's event begins in a job's story.
    static constexpr std::string_view kWarningPrefix = "warning: ";

    TJournal();
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Opens the journal, creating or migrating it. A file that cannot be
    // used (not a database, damaged, or of a newer schema) is moved aside
    // under a name that says when, and a new journal is started; the value
    // is that name then, empty otherwise. Fails only when no journal can be
    // had at all (a folder that cannot be written).
    TResult<std::string> Open(const std::string& path);
    // For readers beside a running server: never creates, moves or changes.
    TOutcome OpenReadOnly(const std::string& path);
    // For a tool beside a running server that adds to a job's story: an
    // existing journal of this schema only, never created, moved or migrated.
    TOutcome OpenShared(const std::string& path);
    // A journal in memory, for a server whose home cannot hold one: jobs are
    // still bounded and never output twice while the server runs.
    TOutcome OpenInMemory();
    bool InMemory() const { return IsOpen() && FPath == ":memory:"; }
    bool IsOpen() const { return FDb != nullptr; }
    void Close();
    const std::string& Path() const { return FPath; }

    // The clock the journal stamps with; the real one unless replaced.
    std::function<std::int64_t()> Now;

    // Jobs.
    TResult<std::int64_t> AddJob(TJobRow row);
    TOutcome UpdateJob(const TJobRow& row);
    // A read of one row is none when there is no such row, and fails when
    // the journal could not be read: a caller must not take one for the other.
    TResult<std::optional<TJobRow>> Job(std::int64_t id);
    // The newest running or waiting job of that spool file name.
    TResult<std::optional<TJobRow>> UnfinishedJob(std::string_view spoolFile);
    // The newest job that ended (done, failed or unprintable) for exactly
    // this file: the same bytes in the same file.
    TResult<std::optional<TJobRow>> FinishedJobOf(std::string_view spoolFile, std::string_view hash,
                                                  std::string_view fileId);
    // A list read fails when the journal could not be read, so that no caller
    // takes a failed read for an empty list.
    TResult<std::vector<TJobRow>> Jobs(const TJobFilter& filter);
    TResult<std::vector<TJobRow>> JobsIn(TJobState state);
    // Counted in the database: the status asks every second.
    TResult<TDayCounts> CountUpdatedSince(std::int64_t since);
    // The jobs in that state that changed since the time, newest first.
    TResult<std::vector<TJobRow>> JobsUpdatedSince(TJobState state, std::int64_t since);
    // Whether the same bytes were done by a job taken after that time.
    TResult<bool> DoneLater(std::string_view hash, std::int64_t takenAfter);
    TOutcome AddEvent(std::int64_t jobId, std::string_view what);
    TResult<std::vector<TEventRow>> Events(std::int64_t jobId);
    // A warning in the job's story, counted with the job; the same text again
    // (a later attempt, another page) is neither added nor counted twice.
    TOutcome AddWarning(std::int64_t jobId, std::string_view what);
    // The job's warnings in order, without the prefix.
    TResult<std::vector<TEventRow>> Warnings(std::int64_t jobId);

    // Outputs.
    TResult<std::int64_t> AddOutput(TOutputRow row);
    TOutcome OutputDone(std::int64_t outputId, int cupsJob);
    // The newest output of the job for that page, of that kind, path and
    // title when given.
    TResult<std::optional<TOutputRow>> OutputOf(std::int64_t jobId, std::string_view kind, int page,
                                                std::string_view path, std::string_view title = {});
    TResult<std::vector<TOutputRow>> Outputs(std::int64_t jobId);
    // The job that wrote or queued a file into the LPR queue.
    std::int64_t JobOfQueuedFile(std::string_view path);

    // LPR queue deliveries.
    TOutcome AddDelivery(TDeliveryRow row);
    // Whether this very queued file was delivered; a read that fails is no "no".
    TResult<bool> WasDelivered(std::string_view file, std::string_view fileId);
    TResult<std::vector<TDeliveryRow>> Deliveries(std::int64_t jobId);
    // A delivery of the file at or after that time.
    TResult<bool> DeliveredSince(std::string_view file, std::int64_t since);

    // Whether a change could be committed now (nothing is changed): fails
    // with SQLite's reason when the file is locked by another, read-only or
    // on a full disk.
    TOutcome CanWrite();

    // Small named values: the last tick, the last retention.
    TOutcome SetMeta(std::string_view key, std::string_view value);
    TResult<std::optional<std::string>> Meta(std::string_view key);

    // Jobs that ended before the time, with their outputs, events and
    // deliveries, and deliveries of no job before it; how many jobs went.
    TResult<int> RemoveOlderThan(std::int64_t before);

private:
    class TStatement;
    TOutcome Execute(const char* sql);
    TOutcome CreateOrMigrate();
    TOutcome OpenFile(const std::string& path, bool readOnly);
    TOutcome OpenExisting(const std::string& path, bool readOnly);
    TOutcome OpenVersioned(const std::string& path, bool readOnly, bool immutable);
    TStatement Prepare(const char* sql);
    TResult<std::vector<TJobRow>> JobRows(TStatement& s, std::string_view what);
    TResult<std::optional<TJobRow>> FirstJob(TStatement& s, std::string_view what);
    TResult<bool> AnyRow(TStatement& s, std::string_view what);
    TFailure LastFailure(std::string_view what) const;

    sqlite3* FDb = nullptr;
    std::string FPath;
    // Prepared once per statement text, by the text's address.
    std::unordered_map<const char*, sqlite3_stmt*> FStatements;
};
