// The journal's file: made, migrated, moved aside when it cannot be used;
// jobs, outputs and deliveries as they are recorded and found again.
#include "journal/journal.h"

#include "support/readrows.h"
#include "support/journaldamage.h"
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

int UserVersion(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
    const int version = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return version;
}

TJobRow Request(const std::string& name, const std::string& hash = "h1")
{
    TJobRow row;
    row.SpoolFile = name;
    row.Size = 10;
    row.Hash = hash;
    row.FileId = "1:2:3";
    row.Kind = "request";
    row.ReqCode = "R1";
    row.ProcCode = "P1";
    row.TakenAt = 1000;
    row.Attempts = 1;
    return row;
}

}  // namespace

TEST(Journal, AFreshJournalHasTheSchemaAndWal)
{
    TTempDir dir;
    TJournal journal;
    const TResult<std::string> opened = journal.Open(dir / "journal.db");
    ASSERT_TRUE(opened) << opened.Reason();
    EXPECT_EQ(*opened, "") << "nothing moved aside";
    EXPECT_EQ(UserVersion(dir / "journal.db"), TJournal::kSchemaVersion);
    ASSERT_TRUE(journal.AddJob(Request("a.tvq")));
    EXPECT_TRUE(FileExists(dir / "journal.db-wal"));
    journal.Close();

    // Opened again: the same rows, the version unchanged.
    TJournal again;
    ASSERT_TRUE(again.Open(dir / "journal.db"));
    EXPECT_EQ(Read(again.Jobs({})).size(), 1u);
}

TEST(Journal, AJournalThatCannotBeUsedIsKeptAsideAndANewOneStarted)
{
    const struct {
        const char* what;
        std::function<void(const std::string&)> spoil;
        const char* says;
    } cases[] = {
        {"not a database", [](const std::string& path) { WriteFile(path, std::string(8192, 'x')); }, "damaged"},
        {"newer schema",
         [](const std::string& path) {
             sqlite3* db = nullptr;
             sqlite3_open(path.c_str(), &db);
             sqlite3_exec(db, "CREATE TABLE later(x); PRAGMA user_version=99;", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         "schema version 99 is newer than this server's "},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        c.spoil(dir / "journal.db");
        const std::string before = ReadFile(dir / "journal.db");
        TJournal journal;
        const TResult<std::string> opened = journal.Open(dir / "journal.db");
        ASSERT_TRUE(opened) << c.what << ": " << opened.Reason();
        EXPECT_NE(opened->find(dir / "journal.db.unusable-"), std::string::npos) << *opened;
        EXPECT_NE(opened->find(c.says), std::string::npos) << *opened;
        // The old file is kept whole beside the new journal, which works.
        const std::string aside = opened->substr(0, opened->find(' '));
        EXPECT_EQ(ReadFile(aside), before) << c.what;
        EXPECT_TRUE(journal.AddJob(Request("a.tvq"))) << c.what;
        EXPECT_EQ(UserVersion(dir / "journal.db"), TJournal::kSchemaVersion);
    }

    // A folder that cannot hold a journal: no journal, and why; one in memory serves.
    TJournal nowhere;
    const TResult<std::string> refused = nowhere.Open("/proc/no-such-folder/journal.db");
    EXPECT_FALSE(refused);
    EXPECT_FALSE(nowhere.IsOpen());
    EXPECT_FALSE(nowhere.AddJob(Request("a.tvq"))) << "writes without a journal fail, they do not crash";
    ASSERT_TRUE(nowhere.OpenInMemory());
    EXPECT_TRUE(nowhere.InMemory());
    EXPECT_TRUE(nowhere.AddJob(Request("a.tvq")));
    EXPECT_TRUE(nowhere.UnfinishedJob("a.tvq").Value());
}

TEST(Journal, JobsAreFoundByTheirFileAndState)
{
    TTempDir dir;
    TJournal journal;
    ASSERT_TRUE(journal.Open(dir / "journal.db"));
    std::int64_t clock = 5000;
    journal.Now = [&] { return clock; };

    const std::int64_t a = *journal.AddJob(Request("a.tvq"));
    TJobRow waiting = *journal.Job(a).Value();
    waiting.State = TJobState::Waiting;
    waiting.NextAttemptAt = 65000;
    waiting.Reason = "PDF Document creation FAILED";
    ASSERT_TRUE(journal.UpdateJob(waiting));
    EXPECT_EQ(journal.UnfinishedJob("a.tvq").Value()->Reason, "PDF Document creation FAILED");
    EXPECT_EQ(journal.UnfinishedJob("a.tvq").Value()->NextAttemptAt, 65000);
    EXPECT_FALSE(journal.UnfinishedJob("b.tvq").Value());

    EXPECT_FALSE(journal.FinishedJobOf("a.tvq", "h1", "1:2:3").Value()) << "not ended yet";
    waiting.State = TJobState::Done;
    ASSERT_TRUE(journal.UpdateJob(waiting));
    EXPECT_FALSE(journal.UnfinishedJob("a.tvq").Value()) << "a finished job is not taken up again";
    EXPECT_EQ(journal.FinishedJobOf("a.tvq", "h1", "1:2:3").Value()->Id, a);
    EXPECT_FALSE(journal.FinishedJobOf("a.tvq", "h2", "1:2:3").Value()) << "other bytes";
    EXPECT_FALSE(journal.FinishedJobOf("a.tvq", "h1", "9:9:9").Value()) << "another file of the same bytes";

    TJobRow second = Request("b.tvq");
    second.ReqCode = "R2";
    second.TakenAt = 2000;
    ASSERT_TRUE(journal.AddJob(second));
    const std::vector<TJobRow> all = Read(journal.Jobs({}));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].SpoolFile, "b.tvq") << "newest first";
    EXPECT_EQ(Read(journal.Jobs({.ReqCode = "R2"})).size(), 1u);
    EXPECT_EQ(Read(journal.Jobs({.State = TJobState::Done})).size(), 1u);
    EXPECT_EQ(Read(journal.Jobs({.Since = 1500})).size(), 1u);

    ASSERT_TRUE(journal.AddEvent(a, "taken"));
    clock = 6000;
    ASSERT_TRUE(journal.AddEvent(a, "done"));
    const std::vector<TEventRow> events = Read(journal.Events(a));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].What, "done");
    EXPECT_EQ(events[1].At, 6000);
}

TEST(Journal, OutputsAndDeliveries)
{
    TTempDir dir;
    TJournal journal;
    ASSERT_TRUE(journal.Open(dir / "journal.db"));
    const std::int64_t job = *journal.AddJob(Request("a.tvq"));
    TOutputRow page {.JobId = job, .Kind = "cups", .Page = 1, .Title = "R1 P1 Page 1", .Printer = "Laser-A",
                     .State = "sending", .Attempt = 1};
    const std::int64_t sent = *journal.AddOutput(page);
    EXPECT_EQ(journal.OutputOf(job, "cups", 1, "").Value()->State, "sending");
    ASSERT_TRUE(journal.OutputDone(sent, 42));
    const TOutputRow done = *journal.OutputOf(job, "cups", 1, "").Value();
    EXPECT_EQ(done.State, "done");
    EXPECT_EQ(done.CupsJob, 42);
    EXPECT_FALSE(journal.OutputOf(job, "cups", 2, "").Value());

    const TOutputRow file {.JobId = job, .Kind = "page file", .Page = 2, .Path = "/q/12_1_a.tvq-2.prn",
                           .State = "done", .Attempt = 1};
    ASSERT_TRUE(journal.AddOutput(file));
    EXPECT_EQ(journal.JobOfQueuedFile("/q/12_1_a.tvq-2.prn"), job);
    EXPECT_EQ(journal.JobOfQueuedFile("/q/other.prn"), 0);

    ASSERT_TRUE(journal.AddDelivery({.JobId = job, .File = "12_1_a.tvq-2.prn", .FileId = "7:8:9", .Route = "lpd",
                                     .Host = "10.1.2.3", .Port = 515, .Code = -105, .Detail = "refused"}));
    EXPECT_FALSE(journal.WasDelivered("12_1_a.tvq-2.prn", "7:8:9").ValueOr(true));
    ASSERT_TRUE(journal.AddDelivery({.JobId = job, .File = "12_1_a.tvq-2.prn", .FileId = "7:8:9", .Route = "lpd",
                                     .Host = "10.1.2.3", .Port = 515, .Code = 0, .Bytes = 2048}));
    EXPECT_TRUE(journal.WasDelivered("12_1_a.tvq-2.prn", "7:8:9").ValueOr(false));
    EXPECT_FALSE(journal.WasDelivered("12_1_a.tvq-2.prn", "7:8:10").ValueOr(true)) << "a new file of the same name";
    const std::vector<TDeliveryRow> deliveries = Read(journal.Deliveries(job));
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[0].Code, -105);
    EXPECT_EQ(deliveries[1].Bytes, 2048);

    // A read that fails says so: a "no" would send a delivered file again.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "journal.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "DROP TABLE deliveries", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    const TResult<bool> unreadable = journal.WasDelivered("12_1_a.tvq-2.prn", "7:8:9");
    EXPECT_FALSE(unreadable);
    EXPECT_NE(unreadable.Reason().find("cannot read the deliveries of 12_1_a.tvq-2.prn"), std::string::npos)
        << unreadable.Reason();
    EXPECT_FALSE(journal.DeliveredSince("12_1_a.tvq-2.prn", 0));
}

TEST(Journal, RetentionRemovesOnlyEndedJobsAndOldDeliveries)
{
    TTempDir dir;
    TJournal journal;
    ASSERT_TRUE(journal.Open(dir / "journal.db"));
    std::int64_t clock = 1000;
    journal.Now = [&] { return clock; };
    TJobRow old = Request("old.tvq");
    old.State = TJobState::Done;
    const std::int64_t oldId = *journal.AddJob(old);
    ASSERT_TRUE(journal.AddEvent(oldId, "done"));
    ASSERT_TRUE(journal.AddOutput({.JobId = oldId, .Kind = "cups", .State = "done"}));
    ASSERT_TRUE(journal.AddDelivery({.File = "_1_x.prn", .FileId = "1", .Route = "lpd", .Code = 0}));
    TJobRow stuck = Request("stuck.tvq");
    stuck.State = TJobState::Waiting;
    const std::int64_t stuckId = *journal.AddJob(stuck);
    clock = 9000;
    ASSERT_TRUE(journal.AddJob(Request("new.tvq")));

    const TResult<int> removed = journal.RemoveOlderThan(5000);
    ASSERT_TRUE(removed) << removed.Reason();
    EXPECT_EQ(*removed, 1);
    EXPECT_FALSE(journal.Job(oldId).Value());
    EXPECT_TRUE(Read(journal.Events(oldId)).empty());
    EXPECT_TRUE(Read(journal.Outputs(oldId)).empty());
    EXPECT_TRUE(journal.Job(stuckId).Value()) << "a waiting job keeps its story";
    EXPECT_FALSE(journal.WasDelivered("_1_x.prn", "1").ValueOr(true));
    EXPECT_EQ(Read(journal.Jobs({})).size(), 2u);
}

TEST(Journal, AReaderBesideTheServerSeesWhatItCommitted)
{
    TTempDir dir;
    TJournal server;
    ASSERT_TRUE(server.Open(dir / "journal.db"));
    ASSERT_TRUE(server.AddJob(Request("a.tvq")));
    TJournal reader;
    ASSERT_TRUE(reader.OpenReadOnly(dir / "journal.db"));
    EXPECT_EQ(Read(reader.Jobs({})).size(), 1u);
    ASSERT_TRUE(server.AddJob(Request("b.tvq")));
    EXPECT_EQ(Read(reader.Jobs({})).size(), 2u);
    EXPECT_FALSE(reader.AddJob(Request("c.tvq"))) << "read only";

    TJournal none;
    const TOutcome missing = none.OpenReadOnly(dir / "nothing.db");
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.Reason(), dir / "nothing.db" + " does not exist");
    EXPECT_FALSE(FileExists(dir / "nothing.db")) << "a reader makes nothing";
}

namespace {

void Sql(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

}  // namespace

TEST(Journal, AnOlderJournalIsMigratedWithItsJobsKept)
{
    // Journals as the earlier servers left them: the later columns taken away.
    const struct {
        int version;
        const char* undo;
    } cases[] = {
        {2, "ALTER TABLE jobs DROP COLUMN warnings; PRAGMA user_version=2;"},
        {1, "ALTER TABLE jobs DROP COLUMN warnings; ALTER TABLE jobs DROP COLUMN waiting_for; PRAGMA user_version=1;"},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        {
            TJournal journal;
            ASSERT_TRUE(journal.Open(dir / "journal.db"));
            ASSERT_TRUE(journal.AddJob(Request("old.tvq")));
            ASSERT_TRUE(journal.AddEvent(1, "taken"));
        }
        Sql(dir / "journal.db", c.undo);
        ASSERT_EQ(UserVersion(dir / "journal.db"), c.version);
        TJournal reader;
        EXPECT_FALSE(reader.OpenReadOnly(dir / "journal.db")) << c.version << ": a reader never migrates";

        TJournal journal;
        const TResult<std::string> opened = journal.Open(dir / "journal.db");
        ASSERT_TRUE(opened) << c.version << ": " << opened.Reason();
        EXPECT_EQ(*opened, "") << c.version << ": migrated in place, nothing moved aside";
        EXPECT_EQ(UserVersion(dir / "journal.db"), TJournal::kSchemaVersion);
        const std::optional<TJobRow> job = journal.Job(1).Value();
        ASSERT_TRUE(job) << c.version;
        EXPECT_EQ(job->SpoolFile, "old.tvq");
        EXPECT_EQ(job->Warnings, 0);
        EXPECT_EQ(Read(journal.Events(1)).size(), 1u);
        ASSERT_TRUE(journal.AddWarning(1, "No template exists for P1 in a Letterhead print request."));
        EXPECT_EQ(journal.Job(1).Value()->Warnings, 1) << c.version;
    }
}

TEST(Journal, WarningsAreEventsOfTheStoryCountedOncePerText)
{
    TTempDir dir;
    TJournal journal;
    ASSERT_TRUE(journal.Open(dir / "journal.db"));
    const std::int64_t a = *journal.AddJob(Request("a.tvq"));
    const std::int64_t b = *journal.AddJob(Request("b.tvq"));
    const struct {
        std::int64_t job;
        const char* what;
        int count;  // the job's warnings after it
    } steps[] = {
        {a, "Could not load a Letterhead for this template NOLH", 1},
        {a, "Could not load a Letterhead for this template NOLH", 1},  // the next attempt says it again
        {b, "Could not load a Letterhead for this template NOLH", 1},  // another job's own
        {a, "Printer 7 is not in the printer table, using the default printer Laser-A.", 2},
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(journal.AddWarning(s.job, s.what)) << s.what;
        EXPECT_EQ(journal.Job(s.job).Value()->Warnings, s.count) << s.job << " " << s.what;
    }
    ASSERT_TRUE(journal.AddEvent(a, "composed: printed on Laser-A"));
    TJobRow row = *journal.Job(a).Value();
    row.State = TJobState::Done;
    ASSERT_TRUE(journal.UpdateJob(row));
    EXPECT_EQ(journal.Job(a).Value()->Warnings, 2) << "a job's state written again keeps its count";
    EXPECT_EQ(Read(journal.Jobs({})).back().Warnings, 2) << "the list has it without the story";

    const std::vector<TEventRow> events = Read(journal.Events(a));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].What, "warning: Could not load a Letterhead for this template NOLH");
    EXPECT_EQ(events[2].What, "composed: printed on Laser-A");
    const std::vector<TEventRow> warnings = Read(journal.Warnings(a));
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[1].What, "Printer 7 is not in the printer table, using the default printer Laser-A.");

    TJournal reader;
    ASSERT_TRUE(reader.OpenReadOnly(dir / "journal.db"));
    EXPECT_FALSE(reader.AddWarning(b, "something")) << "read only";
    EXPECT_EQ(reader.Job(b).Value()->Warnings, 1);
}

TEST(Journal, AJobsStoryThatCannotBeReadIsNotTakenForAnEmptyOne)
{
    struct TCase {
        const char* Table;
        bool EventsRead, OutputsRead, DeliveriesRead;
    };
    for (const TCase c : {TCase {"events", false, true, true}, TCase {"outputs", true, false, true},
                          TCase {"deliveries", true, true, false}}) {
        SCOPED_TRACE(c.Table);
        TTempDir dir;
        std::int64_t id = 0;
        {
            TJournal journal;
            ASSERT_TRUE(journal.Open(dir / "journal.db"));
            id = *journal.AddJob(Request("a.tvq"));
            ASSERT_TRUE(journal.AddEvent(id, "taken"));
            ASSERT_TRUE(journal.AddWarning(id, "no letterhead"));
            ASSERT_TRUE(journal.AddOutput({.JobId = id, .Kind = "cups", .Page = 1, .State = "done"}));
            ASSERT_TRUE(journal.AddDelivery({.JobId = id, .File = "x.prn", .Route = "lpd", .Code = 0}));
        }
        ASSERT_TRUE(DamageTable(dir / "journal.db", c.Table));
        TJournal reader;
        ASSERT_TRUE(reader.OpenReadOnly(dir / "journal.db"));
        EXPECT_EQ(reader.Events(id).Ok(), c.EventsRead);
        EXPECT_EQ(reader.Warnings(id).Ok(), c.EventsRead);
        EXPECT_EQ(reader.Outputs(id).Ok(), c.OutputsRead);
        EXPECT_EQ(reader.Deliveries(id).Ok(), c.DeliveriesRead);
        const TResult<std::vector<TOutputRow>> outputs = reader.Outputs(id);
        if (!outputs) {
            EXPECT_NE(outputs.Reason().find("cannot read the outputs of job " + std::to_string(id) + ": "),
                      std::string::npos)
                << outputs.Reason();
        }
        EXPECT_TRUE(reader.Jobs({})) << "the jobs themselves are whole";
    }
}

TEST(Journal, AReadThatFailsIsNotTakenForNone)
{
    // A damaged table: its rows cannot be read, while the other tables can.
    TTempDir dir;
    std::int64_t id = 0;
    {
        TJournal journal;
        ASSERT_TRUE(journal.Open(dir / "journal.db"));
        id = *journal.AddJob(Request("a.tvq"));
        TJobRow done = Request("b.tvq");
        done.State = TJobState::Done;
        ASSERT_TRUE(journal.AddJob(done));
        ASSERT_TRUE(journal.AddOutput({.JobId = id, .Kind = "cups", .Page = 1, .State = "done"}));
        ASSERT_TRUE(journal.SetMeta("last_tick", "1000"));
    }
    ASSERT_TRUE(DamageTable(dir / "journal.db", "jobs"));
    TJournal reader;
    ASSERT_TRUE(reader.OpenReadOnly(dir / "journal.db"));
    const TResult<std::optional<TJobRow>> job = reader.Job(id);
    EXPECT_FALSE(job) << "not \"no such job\"";
    EXPECT_NE(job.Reason().find("cannot read job " + std::to_string(id) + ": "), std::string::npos) << job.Reason();
    EXPECT_FALSE(reader.UnfinishedJob("a.tvq"));
    EXPECT_FALSE(reader.FinishedJobOf("b.tvq", "h1", "1:2:3"));
    EXPECT_TRUE(reader.OutputOf(id, "cups", 1, "").Value()) << "the outputs are whole";
    EXPECT_EQ(reader.Meta("last_tick").Value(), "1000");
    EXPECT_TRUE(reader.Meta("retention_at")) << "a value never set is none, as before";
    EXPECT_FALSE(reader.Meta("retention_at").Value());
    // Lists and counts of the damaged table fail too: an empty list would say
    // "nothing failed today" or "no job waits".
    EXPECT_FALSE(reader.Jobs({}));
    EXPECT_FALSE(reader.CountUpdatedSince(0));
    EXPECT_FALSE(reader.DoneLater("h1", 0));

    // Locked by another program (one that keeps a rollback journal): a read
    // fails after the wait, it does not find nothing.
    TTempDir other;
    {
        TJournal server;
        ASSERT_TRUE(server.Open(other / "journal.db"));
        id = *server.AddJob(Request("c.tvq"));
        ASSERT_TRUE(server.SetMeta("last_tick", "2000"));
    }
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open((other / "journal.db").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr), SQLITE_OK);
    TJournal locked;
    ASSERT_TRUE(locked.OpenReadOnly(other / "journal.db"));
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE; DELETE FROM meta", nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(holder);
    const TResult<std::optional<std::string>> tick = locked.Meta("last_tick");
    EXPECT_FALSE(tick);
    EXPECT_NE(tick.Reason().find("locked"), std::string::npos) << tick.Reason();
    EXPECT_FALSE(locked.Job(id));
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(locked.Meta("last_tick").Value(), "2000") << "read again once the lock is gone";
    EXPECT_TRUE(locked.Job(id).Value());
}
