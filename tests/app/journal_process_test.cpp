// The unattended server and the tool over its journal, as processes: a
// failed report resubmitted and printed once, the status a monitoring script
// sees, a journal that cannot be used moved aside while the server goes on,
// and one that cannot be read said to be so.
#include "app/daemonhome.h"
#include "journal/journal.h"
#include "support/journaldamage.h"
#include "util/fileutil.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace {

const std::string kRequest = TDaemonHome::kRequest;

}  // namespace

TEST(JournalProcess, AFailedReportIsResubmittedAndPrintedOnceAndTheStatusSaysSo)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home("JOBRETRIES=1\r\n");
    const std::string pdf = home.Dir / "out/R1.pdf";
    home.Drop("r1.tvq", kRequest + "^HV_PDFDOC~" + pdf);
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Spooler file r1.tvq failed after 1 attempt(s)")) << home.LogText();
    ASSERT_TRUE(FileExists(home.Dir / "spool/failed/r1.tvq"));

    // The monitoring script learns of it.
    TProgramRun status = home.Tool({"status"});
    EXPECT_EQ(status.Status, 1) << status.Out << status.Err;
    EXPECT_EQ(status.Out.rfind("not ok: 1 job(s) failed in the last 24 hours, the last job 1 (r1.tvq): PDF Document "
                               "creation FAILED \"" + pdf + "\"",
                               0),
              0u)
        << status.Out;

    // The job's story and the listing agree.
    const TProgramRun jobs = home.Tool({"jobs", "--json"});
    ASSERT_EQ(jobs.Status, 0) << jobs.Err;
    EXPECT_NE(jobs.Out.find("\"state\": \"failed\""), std::string::npos) << jobs.Out;
    EXPECT_NE(jobs.Out.find("\"reqcode\": \"R1\""), std::string::npos);
    const TProgramRun story = home.Tool({"job", "1"});
    ASSERT_EQ(story.Status, 0);
    EXPECT_NE(story.Out.find("given up after 1 attempt(s): PDF Document creation FAILED"), std::string::npos)
        << story.Out;

    // The folder made, the job sent again: it prints once, as a new job.
    ASSERT_TRUE(ForceDir(home.Dir / "out"));
    const TProgramRun resubmitted = home.Tool({"resubmit", "1"});
    EXPECT_EQ(resubmitted.Status, 0) << resubmitted.Err;
    EXPECT_NE(resubmitted.Out.find("it becomes a new job"), std::string::npos) << resubmitted.Out;
    EXPECT_FALSE(FileExists(home.Dir / "spool/failed/r1.tvq"));
    ASSERT_TRUE(home.WaitForLog("PDF Document created as \"" + pdf + "\"")) << home.LogText();
    EXPECT_TRUE(WaitFor([&] { return !FileExists(home.Dir / "spool/r1.tvq"); }, 10000));
    const TProgramRun done = home.Tool({"jobs", "--state", "done", "--json"});
    EXPECT_NE(done.Out.find("\"id\": 2"), std::string::npos) << done.Out;
    EXPECT_NE(done.Out.find(pdf), std::string::npos) << done.Out;
    // Counted once the server has had two more ticks to make a second copy.
    WaitFor([] { return false; }, 11000);
    EXPECT_EQ(home.LogCount("PDF Document created as \"" + pdf + "\""), 1);
    EXPECT_EQ(home.LogCount("Found file r1.tvq"), 2) << "taken once before and once after the resubmission";

    // A job not failed, or unknown, is not resubmitted; neither is one whose
    // request is gone.
    EXPECT_EQ(home.Tool({"resubmit", "99"}).Status, 1);
    const TProgramRun again = home.Tool({"resubmit", "1"});
    EXPECT_EQ(again.Status, 1);
    EXPECT_NE(again.Err.find("no kept copy of job 1's request"), std::string::npos) << again.Err;
    EXPECT_EQ(home.Tool({"resubmit", "one"}).Status, 2);
    EXPECT_EQ(home.Tool({"jobs", "--state", "lost"}).Status, 2);
    EXPECT_EQ(home.Tool({"jobs", "--since", "2026-13-01"}).Status, 2);
    home.Stop();
}

TEST(JournalProcess, AHealthyServerIsOkAndOneThatStoppedTickingIsNot)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home;
    home.Drop("r1.tvq", kRequest);
    EXPECT_EQ(home.Tool({"status"}).Status, 1) << "no journal: the server has not run";
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Printed R1 P1: 1 page(s) on Laser-A")) << home.LogText();
    const TProgramRun healthy = home.Tool({"status"});
    EXPECT_EQ(healthy.Status, 0) << healthy.Out;
    EXPECT_EQ(healthy.Out.rfind("ok: the server ticked ", 0), 0u) << healthy.Out;
    EXPECT_NE(healthy.Out.find("today: 1 job(s) done, 0 failed"), std::string::npos) << healthy.Out;
    const TProgramRun listed = home.Tool({"jobs"});
    EXPECT_NE(listed.Out.find("r1.tvq  R1       done       1  Laser-A  cups:1"), std::string::npos) << listed.Out;
    home.Stop();

    // A server that has not ticked for two minutes.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home.Dir / "journal.db").c_str(), &db), SQLITE_OK);
    const std::string old = std::to_string(QDateTime::currentMSecsSinceEpoch() - 120 * 1000);
    sqlite3_exec(db, ("UPDATE meta SET value='" + old + "' WHERE key='last_tick'").c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const TProgramRun stopped = home.Tool({"status"});
    EXPECT_EQ(stopped.Status, 1);
    EXPECT_EQ(stopped.Out.rfind("not ok: the server has not ticked for 2 min", 0), 0u) << stopped.Out;
}

TEST(JournalProcess, AJournalThatCannotBeUsedIsKeptAsideAndTheServerGoesOn)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home;
    const std::string broken(4096, '\x7f');
    WriteFile(home.Dir / "journal.db", broken);
    home.Drop("r1.tvq", kRequest);
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Printed R1 P1: 1 page(s) on Laser-A")) << home.LogText();
    EXPECT_TRUE(home.WaitForLog("The journal " + (home.Dir / "journal.db") + " could not be used; it is kept as " +
                                (home.Dir / "journal.db.unusable-")));
    const QStringList kept = QDir(QString::fromStdString(home.Dir.Path())).entryList({"journal.db.unusable-*"});
    ASSERT_EQ(kept.size(), 1) << kept.join(' ').toStdString();
    EXPECT_EQ(ReadFile(home.Dir / kept[0].toStdString()), broken);
    home.Stop();
    EXPECT_EQ(home.Tool({"jobs"}).Status, 0);
    EXPECT_NE(home.Tool({"jobs"}).Out.find("r1.tvq"), std::string::npos);
}

TEST(JournalProcess, AJournalThatCannotBeReadIsNotTakenForOneWithoutTheJob)
{
    TDaemonHome home;
    const std::string path = home.Dir / "journal.db";
    {
        TJournal journal;
        ASSERT_TRUE(journal.Open(path));
        TJobRow job;
        job.SpoolFile = "r1.tvq";
        job.Kind = "request";
        job.Hash = "h1";
        job.FileId = "1:2:3";
        job.State = TJobState::Failed;
        job.TakenAt = QDateTime::currentMSecsSinceEpoch();
        const TResult<std::int64_t> id = journal.AddJob(job);
        ASSERT_TRUE(id);
        ASSERT_TRUE(journal.AddOutput({.JobId = *id, .Kind = "document", .Path = "/x/r1.pdf", .State = "started"}));
        ASSERT_TRUE(journal.SetMeta("last_tick", std::to_string(job.TakenAt)));
    }
    ASSERT_EQ(home.Tool({"job", "1"}).Status, 0);
    const TProgramRun none = home.Tool({"job", "2"});
    EXPECT_EQ(none.Status, 1);
    EXPECT_NE(none.Err.find("no job 2 in "), std::string::npos) << none.Err;

    // Its outputs damaged: the list does not show job 1 as one that put out nothing.
    ASSERT_TRUE(DamageTable(path, "outputs"));
    for (const std::vector<std::string>& command :
         std::vector<std::vector<std::string>> {{"jobs"}, {"jobs", "--json"}, {"job", "1"}, {"job", "1", "--json"}}) {
        const TProgramRun run = home.Tool(command);
        EXPECT_EQ(run.Status, 1) << command[0] << ": " << run.Out;
        EXPECT_NE(run.Err.find("cannot read the outputs of job 1: "), std::string::npos) << run.Err;
    }

    // The jobs' table damaged: job 1 cannot be read, which is not "no job 1".
    ASSERT_TRUE(DamageTable(path, "jobs"));
    for (const std::string command : {"job", "resubmit"}) {
        const TProgramRun run = home.Tool({command, "1"});
        EXPECT_EQ(run.Status, 1) << command;
        EXPECT_NE(run.Err.find("the journal "), std::string::npos) << command << ": " << run.Err;
        EXPECT_NE(run.Err.find(" could not be read: cannot read job 1: "), std::string::npos)
            << command << ": " << run.Err;
        EXPECT_EQ(run.Err.find("no job"), std::string::npos) << command << ": " << run.Err;
    }
    // Nothing can be said of today's jobs: the status is not "ok, no job failed".
    const TProgramRun blind = home.Tool({"status"});
    EXPECT_EQ(blind.Status, 1);
    EXPECT_EQ(blind.Out.rfind("not ok: the journal ", 0), 0u) << blind.Out;
    EXPECT_NE(blind.Out.find(" cannot be read: cannot count the jobs: "), std::string::npos) << blind.Out;

    // What the server said of itself damaged too: the status says the journal
    // cannot be read, not that the server never ticked.
    ASSERT_TRUE(DamageTable(path, "meta"));
    const TProgramRun status = home.Tool({"status"});
    EXPECT_EQ(status.Status, 1);
    EXPECT_EQ(status.Out.rfind("not ok: the journal ", 0), 0u) << status.Out;
    EXPECT_NE(status.Out.find(" cannot be read: cannot read last_tick: "), std::string::npos) << status.Out;
    EXPECT_EQ(status.Out.find("has not ticked"), std::string::npos) << status.Out;
}
