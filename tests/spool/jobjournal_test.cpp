// Jobs through the pipeline with their journal: failures tried again after
// growing pauses while the other files go on, requests given up into
// "failed", and nothing output twice, against a private CUPS scheduler.
#include "spool/pipeline.h"

#include "spool/spoolhome.h"
#include "support/readrows.h"
#include "support/regfiles.h"
#include "support/smallfs.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <cstdlib>
#include <unistd.h>
#include <utime.h>

namespace {

const std::string kReport = "HV_TEMPLATE~LH^HV_REQCODE~R1^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH";

std::vector<std::string> Titles(const std::vector<TCapturedJob>& jobs)
{
    std::vector<std::string> titles;
    for (const TCapturedJob& job : jobs)
        titles.push_back(job.Title);
    return titles;
}

int Count(const std::vector<std::string>& titles, const std::string& title)
{
    return static_cast<int>(std::count(titles.begin(), titles.end(), title));
}

// Changes the journal the way a crash at the wrong moment would leave it.
void Sql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// A spool home with a private scheduler: printer 1 a plain queue, printer 2
// marked HP in the driver data.
struct TJournalHome : TSpoolHome {
    TJournalHome()
    {
        EXPECT_TRUE(Cups().AddQueue("Laser-A") && Cups().SetDefault("Laser-A"));
        EXPECT_TRUE(Cups().AddQueue("HP-Laser"));
        Settings.Set("PRINTER1", "Laser-A");
        Settings.Set("PRINTER2", "HP-Laser");
        WriteFile(Dir / "printerdriverdata.reg", "REGEDIT4\r\n\r\n" + PrinterKey("HP-Laser") + "\"HPDUMMY\"=\"\"\r\n");
        // Two pages: the template runs over the first.
        WriteFile(Dir / "templates/P2.tpl", "{\\rtf1 Page one\\page Page two\\par}");
        Settings.Config.JobRetries = 3;
        Settings.Config.JobRetryDelaySeconds = 60;
    }
    void Later(int seconds) { Clock += seconds * 1000LL; }
    int LogCount(const std::string& text) const { return Log.Count(text); }
};

}  // namespace

TEST(JobJournal, AMissingPdfFolderIsTriedAfterGrowingPausesThenGivenUp)
{
    TJournalHome home;
    const std::string pdf = home.Dir / "gone/R1.pdf";
    home.Drop("a.tvq", kReport + "^HV_PDFDOC~" + pdf);
    home.TickAndPrint();
    std::optional<TJobRow> job = home.JobOf("a.tvq");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->State, TJobState::Waiting);
    EXPECT_EQ(job->NextAttemptAt, home.Clock + 60 * 1000);
    const std::string reason = "PDF Document creation FAILED \"" + pdf + "\": Could not save " + pdf +
                               ": No such file or directory";
    EXPECT_EQ(job->Reason, reason);
    EXPECT_EQ(job->ReqCode, "R1");
    EXPECT_EQ(job->OutputKind, "pdf");

    // Before its time it is passed over, and the others go on.
    home.Drop("b.tvq", kReport + "^HV_REQCODE~R2^HV_PDFDOC~" + (home.Dir / "results/R2.pdf"));
    home.Later(59);
    home.TickAndPrint();
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"a.tvq", "b.tvq"}));
    EXPECT_TRUE(FileExists(home.Dir / "results/R2.pdf"));
    EXPECT_EQ(home.JobOf("b.tvq")->State, TJobState::Done);

    // Its second attempt after 60 s, its third 120 s after that, then "failed".
    home.Later(1);
    home.TickAndPrint();
    EXPECT_EQ(home.JobOf("a.tvq")->Attempts, 2);
    EXPECT_EQ(home.JobOf("a.tvq")->NextAttemptAt, home.Clock + 120 * 1000);
    home.Later(119);
    home.TickAndPrint();
    EXPECT_EQ(home.JobOf("a.tvq")->Attempts, 2) << "not before its time";
    home.Later(1);
    home.TickAndPrint();
    job = home.JobOf("a.tvq");
    EXPECT_EQ(job->State, TJobState::Failed);
    EXPECT_EQ(job->Attempts, 3);
    EXPECT_EQ(home.LogCount("PDF Document creation FAILED \"" + pdf + "\""), 3);
    EXPECT_FALSE(home.InSpool("a.tvq"));
    EXPECT_EQ(ReadFile(home.Dir / "spool/failed/a.tvq"), kReport + "^HV_PDFDOC~" + pdf);
    EXPECT_TRUE(home.Log.Has("Spooler file a.tvq failed after 3 attempt(s): " + reason + ". It is in " +
                             (home.Dir / "spool/failed/") + "; printorb-tool resubmit " + std::to_string(job->Id) +
                             " --home " + IncludeTrailingSlash(home.Dir.Path()) + " sends it again."));

    // Nothing more happens to it.
    home.Later(3600);
    home.TickAndPrint();
    EXPECT_EQ(home.LogCount("PDF Document creation FAILED \"" + pdf + "\""), 3);
}

TEST(JobJournal, PagesThePrinterTookAreNotSentAgainWhenAPageFileCannotBeWritten)
{
    TJournalHome home;
    // Page 1 goes to the printer (PMASK blank), page 2 would be an HP overlay
    // page file in an LPR queue folder that is not there.
    home.Settings.Config.LprQueueDir = home.Dir / "no-queue/";
    home.Drop("p.tvq", "HV_TEMPLATE~LH^HV_REQCODE~PART1^HV_PROCCODE~P2^HV_PRINTER~2^HV_PMASK~blank^HV_PMASK2~8");
    for (int attempt = 0; attempt < 3; ++attempt) {
        home.TickAndPrint();
        home.Later(3600);
    }
    const std::optional<TJobRow> job = home.JobOf("p.tvq");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->State, TJobState::Failed);
    EXPECT_EQ(job->Attempts, 3);
    EXPECT_NE(job->Reason.find("Page 2 of PART1 P2 was not printed"), std::string::npos) << job->Reason;
    EXPECT_TRUE(FileExists(home.Dir / "spool/failed/p.tvq"));
    // Three attempts, one print job for page 1.
    const std::vector<std::string> titles = Titles(home.Cups().JobsWhenQuiet("HP-Laser", 1));
    EXPECT_EQ(Count(titles, "PART1 P2 Page 1"), 1) << titles.size();
    EXPECT_EQ(home.LogCount("Printed PART1 P2: 1 page(s) on HP-Laser"), 0) << "the run failed before its summary";
    EXPECT_EQ(home.Log.CountStarting("Page 2 of PART1 P2 was not printed: cannot write " +
                                     (home.Dir / "no-queue/8_2_p.tvq-2.prn")),
              3);
}

TEST(JobJournal, AStoppedSchedulerThatComesBackPrintsTheReportOnce)
{
    TJournalHome home;
    ASSERT_TRUE(home.Cups().Stop());
    home.Drop("s.tvq", kReport + "^HV_REQCODE~STOP1");
    home.TickAndPrint();
    std::optional<TJobRow> job = home.JobOf("s.tvq");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->State, TJobState::Waiting);
    EXPECT_EQ(job->WaitingFor, "cups");
    EXPECT_EQ(job->Attempts, 0) << "an outage costs the request no attempt";
    EXPECT_TRUE(home.InSpool("s.tvq"));
    // Far longer than every attempt would last: it still waits.
    for (int hour = 0; hour < 5; ++hour) {
        home.Later(3600);
        home.TickAndPrint();
    }
    EXPECT_EQ(home.JobOf("s.tvq")->State, TJobState::Waiting);
    EXPECT_FALSE(FileExists(home.Dir / "spool/failed/s.tvq"));

    ASSERT_TRUE(home.Cups().Resume());
    home.Later(60);
    home.TickAndPrint();
    job = home.JobOf("s.tvq");
    EXPECT_EQ(job->State, TJobState::Done);
    EXPECT_EQ(job->Attempts, 1);
    EXPECT_FALSE(home.InSpool("s.tvq"));
    home.Later(3600);
    home.TickAndPrint();
    const std::vector<std::string> titles = Titles(home.Cups().JobsWhenQuiet("Laser-A", 1));
    EXPECT_EQ(Count(titles, "STOP1 P1 Page 1"), 1);
    // Its print job is recorded by the number the scheduler gave it.
    const std::vector<TOutputRow> outputs = Read(home.Journal().Outputs(job->Id));
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].State, "done");
    EXPECT_EQ(outputs[0].CupsJob, home.Cups().Jobs("Laser-A", 1)[0].Id);
}

// An outage costs no attempt, but a request does not wait for ever: after
// QUEUEHOURS it is set aside with what it waited for.
TEST(JobJournal, ARequestWaitsForAnOutageAtMostItsQueueLifetime)
{
    TJournalHome home;
    home.Settings.Config.QueueHours = 72;
    ASSERT_TRUE(home.Cups().Stop());
    home.Drop("l.tvq", kReport + "^HV_REQCODE~LIFE1");
    home.TickAndPrint();
    ASSERT_EQ(home.JobOf("l.tvq")->State, TJobState::Waiting);
    home.Later(71 * 3600);
    home.TickAndPrint();
    EXPECT_EQ(home.JobOf("l.tvq")->State, TJobState::Waiting);
    home.Later(3600);
    home.TickAndPrint();
    const std::optional<TJobRow> job = home.JobOf("l.tvq");
    EXPECT_EQ(job->State, TJobState::Failed);
    EXPECT_EQ(job->Reason.rfind("waited 72 hours for the print system at ", 0), 0u) << job->Reason;
    EXPECT_TRUE(FileExists(home.Dir / "spool/failed/l.tvq"));
    ASSERT_TRUE(home.Cups().Resume());
}

TEST(JobJournal, APageSentJustBeforeACrashIsFoundAtTheSchedulerNotSentAgain)
{
    TJournalHome home;
    home.Drop("c.tvq", kReport + "^HV_REQCODE~CRASH1^HV_PROCCODE~P2");
    const std::string bytes = ReadFile(home.Dir / "spool/c.tvq");
    home.TickAndPrint();
    ASSERT_EQ(home.JobOf("c.tvq")->State, TJobState::Done);
    ASSERT_EQ(Count(Titles(home.Cups().Jobs("Laser-A", 2)), "CRASH1 P2 Page 2"), 1);

    // As a crash after page 2 was sent, before its record and the request's
    // removal, would leave it.
    const std::int64_t id = home.JobOf("c.tvq")->Id;
    Sql(home.Dir / "journal.db", "UPDATE jobs SET state='running' WHERE id=" + std::to_string(id) +
                                     "; UPDATE outputs SET state='sending', cups_job=0 WHERE page=2");
    WriteFile(home.Dir / "spool/c.tvq", bytes);
    home.TickAndPrint();
    const std::optional<TJobRow> job = home.JobOf("c.tvq");
    EXPECT_EQ(job->Id, id) << "the same job, taken up again";
    EXPECT_EQ(job->State, TJobState::Done);
    EXPECT_EQ(job->Attempts, 2);
    EXPECT_TRUE(home.Log.Has("Printed CRASH1 P2: 2 page(s) done in an earlier attempt"));
    // The scheduler has each page once; the journal has page 2's job number back.
    home.Later(60);
    const std::vector<std::string> titles = Titles(home.Cups().JobsWhenQuiet("Laser-A", 2));
    EXPECT_EQ(Count(titles, "CRASH1 P2 Page 1"), 1);
    EXPECT_EQ(Count(titles, "CRASH1 P2 Page 2"), 1);
    EXPECT_GT(home.Journal().OutputOf(id, "cups", 2, "").Value()->CupsJob, 0);
}

// A page counts as done for its number and its title: a page of that number
// with another title recorded before is not this page.
TEST(JobJournal, APageIsDoneOnlyWithItsOwnTitle)
{
    TJournalHome home;
    home.Drop("t.tvq", kReport + "^HV_REQCODE~TITLE1");
    const std::string bytes = ReadFile(home.Dir / "spool/t.tvq");
    home.TickAndPrint();
    const std::int64_t id = home.JobOf("t.tvq")->Id;
    ASSERT_EQ(home.JobOf("t.tvq")->State, TJobState::Done);
    Sql(home.Dir / "journal.db", "UPDATE jobs SET state='running' WHERE id=" + std::to_string(id) +
                                     "; UPDATE outputs SET title='OTHER P1 Page 1' WHERE job_id=" + std::to_string(id));
    WriteFile(home.Dir / "spool/t.tvq", bytes);
    home.TickAndPrint();
    EXPECT_EQ(home.JobOf("t.tvq")->State, TJobState::Done);
    EXPECT_EQ(Count(Titles(home.Cups().JobsWhenQuiet("Laser-A", 2)), "TITLE1 P1 Page 1"), 2);
}

// A fax is one job for all its pages, with a title of its own: a crash just
// after it was sent finds it at the scheduler.
TEST(JobJournal, AFaxHasATitleAndIsFoundAgainAfterACrash)
{
    TJournalHome home;
    home.Drop("f.tvq", kReport + "^HV_REQCODE~FAX1^HV_PROCCODE~P2^HV_ISFAX~1");
    const std::string bytes = ReadFile(home.Dir / "spool/f.tvq");
    home.TickAndPrint();
    const std::int64_t id = home.JobOf("f.tvq")->Id;
    ASSERT_EQ(home.JobOf("f.tvq")->State, TJobState::Done);
    const std::string job = std::to_string(id);
    Sql(home.Dir / "journal.db", "UPDATE jobs SET state='running' WHERE id=" + job +
                                     "; UPDATE outputs SET state='sending', cups_job=0 WHERE job_id=" + job);
    WriteFile(home.Dir / "spool/f.tvq", bytes);
    home.TickAndPrint();
    EXPECT_EQ(home.JobOf("f.tvq")->State, TJobState::Done);
    const std::vector<TCapturedJob> jobs = home.Cups().JobsWhenQuiet("Laser-A", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Title, "FAX1 P2 Fax");
    EXPECT_EQ(PdfInfoField(jobs[0].Data, "Pages"), "2");
}

// The journal's files made immutable between composing and printing: no page
// goes out without its record, no file is taken; once they can be written
// again the kept steps are written first and each page prints once.
TEST(JobJournal, AJournalThatCannotWriteStopsOutputsAndKeepsItsSteps)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "chattr +i needs root (a journal locked by another process is tried by "
                        "Hostile.AJournalLockedByAnotherProcessStopsTheIntakeNotTheRecords)";
    TJournalHome home;
    home.Drop("j.tvq", kReport + "^HV_REQCODE~JRO1");
    home.S().SpoolTimerTimer();
    ASSERT_TRUE(home.S().State().PrintPending);
    const std::string files = "'" + home.Dir / "journal.db" + "' '" + home.Dir / "journal.db-wal" + "'";
    if (std::system(("chattr +i " + files + " 2>/dev/null").c_str()) != 0) {
        const int undone = std::system(("chattr -i " + files + " 2>/dev/null").c_str());
        GTEST_SKIP() << "(chattr -i: " << undone << ") " << "this file system has no immutable files";
    }
    home.S().printingtimerTimer();
    home.Drop("k.tvq", kReport + "^HV_REQCODE~JRO2");
    home.Later(1);
    home.TickAndPrint();
    EXPECT_EQ(std::system(("chattr -i " + files).c_str()), 0);
    EXPECT_EQ(home.Log.CountStarting("The journal " + home.Dir / "journal.db" + " is down since "), 1);
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"j.tvq"})) << "nothing taken while it cannot record";
    EXPECT_TRUE(home.InSpool("j.tvq"));
    EXPECT_TRUE(home.Cups().Jobs("Laser-A", 1, 2000).empty()) << "no page without its record";

    for (int tick = 0; tick < 6 && (home.InSpool("j.tvq") || home.InSpool("k.tvq")); ++tick) {
        home.Later(11);
        home.TickAndPrint();
    }
    EXPECT_EQ(home.Log.CountStarting("The journal " + home.Dir / "journal.db" + " works again after "), 1);
    EXPECT_TRUE(home.Log.Has("The journal has the 2 step(s) kept while it could not record."))
        << home.Log.Lines.back();
    const std::vector<std::string> titles = Titles(home.Cups().JobsWhenQuiet("Laser-A", 2));
    EXPECT_EQ(Count(titles, "JRO1 P1 Page 1"), 1);
    EXPECT_EQ(Count(titles, "JRO2 P1 Page 1"), 1);
    for (const char* name : {"j.tvq", "k.tvq"}) {
        const std::optional<TJobRow> job = home.JobOf(name);
        ASSERT_TRUE(job) << name;
        EXPECT_EQ(job->State, TJobState::Done) << name;
        EXPECT_EQ(job->Attempts, 1) << name << ": the journal's outage cost no attempt";
    }
}

TEST(JobJournal, ScannedImagesPrintedBeforeAreNotPrintedAgain)
{
    TJournalHome home;
    for (const char* name : {"SC1-1.png", "SC1-2.png"}) {
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::white);
        ASSERT_TRUE(image.save(QString::fromStdString(home.Dir / ("images/" + std::string(name)))));
    }
    home.Drop("scan.tvq", "HV_SCANID~SC1^HV_PRINTER~1");
    const std::string bytes = ReadFile(home.Dir / "spool/scan.tvq");
    home.TickAndPrint();
    const std::int64_t id = home.JobOf("scan.tvq")->Id;
    ASSERT_EQ(home.JobOf("scan.tvq")->State, TJobState::Done);
    ASSERT_EQ(home.Cups().Jobs("Laser-A", 2).size(), 2u);

    // As if the second image had failed: the job waits, its first image is done.
    Sql(home.Dir / "journal.db", "UPDATE jobs SET state='waiting' WHERE id=" + std::to_string(id) +
                                     "; DELETE FROM outputs WHERE page=2");
    WriteFile(home.Dir / "spool/scan.tvq", bytes);
    home.TickAndPrint();
    EXPECT_EQ(home.JobOf("scan.tvq")->State, TJobState::Done);
    const std::vector<std::string> titles = Titles(home.Cups().JobsWhenQuiet("Laser-A", 3));
    EXPECT_EQ(Count(titles, "ImagePrint: " + (home.Dir / "images/SC1-1.png")), 1);
    EXPECT_EQ(Count(titles, "ImagePrint: " + (home.Dir / "images/SC1-2.png")), 2);
}

TEST(JobJournal, EndedRequestsAreNotTakenAgainAndNewBytesAreANewJob)
{
    TJournalHome home;
    const std::string pdf = home.Dir / "results/R1.pdf";
    home.Drop("d.tvq", kReport + "^HV_PDFDOC~" + pdf);
    const std::string bytes = ReadFile(home.Dir / "spool/d.tvq");
    home.TickAndPrint();
    const TJobRow done = *home.JobOf("d.tvq");
    ASSERT_EQ(done.State, TJobState::Done);

    // The very file back, as a crash before its removal leaves it: removed, not saved again.
    WriteFile(home.Dir / "spool/d.tvq", bytes);
    Sql(home.Dir / "journal.db", "UPDATE jobs SET file_id='" + FileIdentity(home.Dir / "spool/d.tvq") +
                                     "' WHERE id=" + std::to_string(done.Id));
    home.TickAndPrint();
    EXPECT_FALSE(home.InSpool("d.tvq"));
    EXPECT_TRUE(home.Log.Has("Spooler file d.tvq was output by job " + std::to_string(done.Id) +
                             " already; it is removed from the spool folder."));
    EXPECT_EQ(home.LogCount("PDF Document created as \"" + pdf + "\""), 1);

    // The same bytes written anew (another file) are a new job; other bytes too.
    WriteFile(home.Dir / "spool/d.tvq", bytes);
    home.TickAndPrint();
    EXPECT_EQ(home.LogCount("PDF Document created as \"" + pdf + "\""), 2);
    EXPECT_EQ(Read(home.Journal().Jobs({})).size(), 2u);

    // A request over the size cap goes to "failed" at once, with its reason.
    home.Drop("huge.tvq", std::string(1024, 'x'));
    const int grown = ::truncate((home.Dir / "spool/huge.tvq").c_str(), static_cast<off_t>(TJobPipeline::kMaxRequestBytes) + 1);
    ASSERT_EQ(grown, 0);
    home.TickAndPrint();
    EXPECT_TRUE(FileExists(home.Dir / "spool/failed/huge.tvq"));
    const std::optional<TJobRow> huge = home.JobOf("huge.tvq");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->State, TJobState::Failed);
    EXPECT_EQ(huge->Reason, "larger than 256 MB (268435457 bytes)");
    home.TickAndPrint();
    EXPECT_EQ(home.Found(), (std::vector<std::string> {"d.tvq", "d.tvq"})) << "the large one is never taken";
}

TEST(JobJournal, ACrashLoopEndsInFailed)
{
    TJournalHome home;
    home.Drop("loop.tvq", kReport + "^HV_REQCODE~LOOP1");
    // Taken, and the server "crashes" before the print run, three times.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        home.S().SpoolTimerTimer();
        ASSERT_TRUE(home.S().State().PrintPending) << attempt;
        home.S().Forget();  // what a restart forgets
    }
    EXPECT_EQ(home.JobOf("loop.tvq")->Attempts, 3);
    home.S().SpoolTimerTimer();
    const TJobRow job = *home.JobOf("loop.tvq");
    EXPECT_EQ(job.State, TJobState::Failed);
    EXPECT_TRUE(FileExists(home.Dir / "spool/failed/loop.tvq"));
    EXPECT_TRUE(home.Log.Has("Spooler file loop.tvq failed after 3 attempt(s): the server stopped during every "
                             "attempt. It is in " +
                             (home.Dir / "spool/failed/") + "; printorb-tool resubmit " + std::to_string(job.Id) +
                             " --home " + IncludeTrailingSlash(home.Dir.Path()) + " sends it again."));
}

TEST(JobJournal, RetentionOnceADay)
{
    TJournalHome home;
    home.Settings.Config.TempDays = 30;
    home.Settings.Config.JournalDays = 400;
    WriteFile(home.Dir / "spool/temp/old.tvq", "old");
    WriteFile(home.Dir / "spool/temp/new.tvq", "new");
    const time_t old = static_cast<time_t>(home.Clock / 1000) - 31 * 86400;
    const struct utimbuf times {old, old};
    ::utime((home.Dir / "spool/temp/old.tvq").c_str(), &times);
    TJobRow ancient;
    ancient.SpoolFile = "ancient.tvq";
    ancient.State = TJobState::Done;
    home.Journal().Now = [&] { return home.Clock - 401LL * 86400 * 1000; };
    ASSERT_TRUE(home.Journal().AddJob(ancient));
    home.Journal().Now = [&] { return home.Clock; };

    home.S().SpoolTimerTimer();
    EXPECT_FALSE(FileExists(home.Dir / "spool/temp/old.tvq"));
    EXPECT_TRUE(FileExists(home.Dir / "spool/temp/new.tvq"));
    EXPECT_TRUE(Read(home.Journal().Jobs({})).empty());
    EXPECT_TRUE(home.Log.Has("Retention: 1 copies older than 30 days removed from " + (home.Dir / "spool/temp/") +
                             ", 1 jobs older than 400 days removed from the journal."));
    home.Later(3600);
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Log.CountStarting("Retention: "), 1) << "once a day";
    home.Later(86400);
    home.S().SpoolTimerTimer();
    EXPECT_EQ(home.Log.CountStarting("Retention: "), 2);
}

// A request that names one of the server's own files, or a place in the
// folders it works in, as its output: nothing is written there, the log says
// which request, which path and why, and the job fails as an output would.
TEST(JobJournal, OutputsOntoTheServersOwnFilesAreRefused)
{
    TJournalHome home;
    ASSERT_TRUE(ForceDir(home.Dir / "spool/unprintable") && ForceDir(home.Dir / "spool/failed") &&
                ForceDir(home.Dir / "overlays"));
    WriteFile(home.Dir / "printserver.inf", "[settings]\r\n");
    // A request that waits in the spool folder for its next attempt.
    home.Drop("zz-waiting.tvq", kReport + "^HV_REQCODE~WAITING^HV_PDFDOC~" + (home.Dir / "gone/x.pdf"));
    home.TickAndPrint();
    ASSERT_EQ(home.JobOf("zz-waiting.tvq")->State, TJobState::Waiting);
    // A link in the results folder leads into the templates, and a hard link
    // there is the tag file itself.
    ASSERT_EQ(::symlink((home.Dir / "templates").c_str(), (home.Dir / "results/link").c_str()), 0);
    ASSERT_EQ(::link((home.Dir / "tags.txt").c_str(), (home.Dir / "results/hard.txt").c_str()), 0);
    const struct {
        std::string field;  // the output the request names
        std::string target;
        std::string why;
    } cases[] = {
        {"HV_PDFDOC~", home.Dir / "tags.txt", "it is the server's own file " + home.Dir / "tags.txt"},
        {"HV_PDFDOC~", home.Dir / "printserver.inf", "it is the server's own file " + home.Dir / "printserver.inf"},
        {"HV_SAVEDOC~rtf_", home.Dir / "printerdriverdata.reg",
         "it is the server's own file " + home.Dir / "printerdriverdata.reg"},
        {"HV_PDFDOC~", home.Dir / "journal.db", "it is the server's own file " + home.Dir / "journal.db"},
        {"HV_SAVEDOC~rtf_", home.Dir / "templates/LH.doc", "it lies in the templates folder " + home.Dir / "templates/"},
        {"HV_PDFDOC~", home.Dir / "results/../templates/P1.tpl", "it lies in the templates folder " + home.Dir / "templates/"},
        {"HV_PDFDOC~", home.Dir / "results/link/new.pdf", "it lies in the templates folder " + home.Dir / "templates/"},
        // The kernel takes the link before "..": the home's own tags.txt.
        {"HV_PDFDOC~", home.Dir / "results/link/../tags.txt", "it is the server's own file " + home.Dir / "tags.txt"},
        {"HV_PDFDOC~", home.Dir / "results/hard.txt", "it is the server's own file " + home.Dir / "tags.txt"},
        {"HV_PDFDOC~", home.Dir / "spool/zz-waiting.tvq", "it lies in the spool folder " + home.Dir / "spool/"},
        {"HV_PDFDOC~", home.Dir / "spool/unprintable/x.pdf", "it lies in the unprintable folder " + home.Dir / "spool/unprintable/"},
        {"HV_PDFDOC~", home.Dir / "spool/failed/x.pdf", "it lies in the failed folder " + home.Dir / "spool/failed/"},
        {"HV_PDFDOC~", home.Dir / "lpd/x.pdf", "it lies in the LPR queue folder " + home.Dir / "lpd/"},
        {"HV_PDFDOC~", home.Dir / "overlays/FORM.prn", "it lies in the overlay folder " + home.Dir / "overlays/"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const bool existed = FileExists(c.target);
        const std::string before = existed ? ReadFile(c.target) : std::string();
        const std::string name = "a" + std::to_string(++n) + ".tvq";
        home.Drop(name, kReport + "^" + c.field + c.target);
        for (int tick = 0; tick < 3 && !home.JobOf(name); ++tick)  // waiting requests are passed over first
            home.TickAndPrint();
        EXPECT_EQ(FileExists(c.target), existed);
        if (existed) {
            EXPECT_EQ(ReadFile(c.target), before);
        }
        const std::string kind = c.field == "HV_PDFDOC~" ? "PDF Document creation FAILED \"" : "RTF Doc creation FAILED \"";
        const std::string line = kind + c.target + "\": refused for spooler file " + name + " (R1): " + c.why;
        EXPECT_EQ(home.LogCount(line), 1) << home.Log.Lines.back();
        // No retry mends a refused path: set aside at once.
        const std::optional<TJobRow> job = home.JobOf(name);
        ASSERT_TRUE(job);
        EXPECT_EQ(job->State, TJobState::Failed);
        EXPECT_EQ(job->Attempts, 1);
        EXPECT_EQ(job->Reason, line);
        EXPECT_TRUE(FileExists(home.Dir / ("spool/failed/" + name)));
    }
    // The folders' own neighbours stay open to the laboratory.
    home.Drop("b.tvq", kReport + "^HV_REQCODE~R2^HV_PDFDOC~" + (home.Dir / "results/R2.pdf"));
    for (int tick = 0; tick < 3 && !home.JobOf("b.tvq"); ++tick)
        home.TickAndPrint();
    EXPECT_TRUE(FileExists(home.Dir / "results/R2.pdf"));
    EXPECT_EQ(home.JobOf("b.tvq")->State, TJobState::Done);
    // A graph the request draws is an output too.
    home.Pipeline.PrepareJobs();  // with the pipeline's own graph drawer, which the home turned off
    const std::string tags = ReadFile(home.Dir / "tags.txt");
    home.Drop("g.tvq", kReport + "^HV_REQCODE~G1^HV_DYNAMICRANGE~" + (home.Dir / "images/bar.bmp") + "," +
                           (home.Dir / "tags.txt") + ",50,50");
    for (int tick = 0; tick < 3 && !home.JobOf("g.tvq"); ++tick)
        home.TickAndPrint();
    EXPECT_EQ(ReadFile(home.Dir / "tags.txt"), tags);
    EXPECT_EQ(home.LogCount("Dynamic range graph \"" + (home.Dir / "tags.txt") +
                            "\" not drawn for spooler file g.tvq: it is the server's own file " + (home.Dir / "tags.txt")),
              1);
}

// A request whose PDF folder is full: its job waits, its request stays and
// nothing claims the PDF; once there is room the next attempt saves it.
TEST(JobJournal, APdfIntoAFullFolderWaitsAndClaimsNothing)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk(2 * 1024 * 1024);  // a folder counts as full below 1 MB free
    ASSERT_TRUE(disk.Mounted());
    TSpoolHome home;  // no scheduler: a saved document needs none
    const std::string pdf = disk / "R1.pdf";
    home.Drop("a.tvq", kReport + "^HV_PDFDOC~" + pdf);
    ASSERT_TRUE(disk.Fill());
    home.TickAndPrint();
    const std::optional<TJobRow> job = home.JobOf("a.tvq");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->State, TJobState::Waiting);
    EXPECT_EQ(job->WaitingFor, "folder:" + disk.Path());
    EXPECT_EQ(job->Attempts, 0) << "a full folder costs no attempt";
    EXPECT_EQ(job->Reason, "PDF Document creation FAILED \"" + pdf + "\": Could not save " + pdf +
                               ": no space left in " + disk.Path());
    EXPECT_TRUE(home.InSpool("a.tvq"));
    EXPECT_EQ(home.Log.CountStarting("PDF Document created as"), 0);
    EXPECT_TRUE(disk.Names().empty());

    // Still full when asked again: it waits on, and its request is not read.
    home.Clock += 6000;
    home.TickAndPrint();
    EXPECT_EQ(home.JobOf("a.tvq")->State, TJobState::Waiting);
    disk.MakeRoom();
    for (int tick = 0; tick < 3 && home.InSpool("a.tvq"); ++tick) {
        home.Clock += 11000;  // the next look at the folder is due
        home.TickAndPrint();
    }
    EXPECT_EQ(home.JobOf("a.tvq")->State, TJobState::Done);
    EXPECT_FALSE(home.InSpool("a.tvq"));
    EXPECT_EQ(ReadFile(pdf).rfind("%PDF", 0), 0u);
    EXPECT_EQ(home.Log.Count("PDF Document created as \"" + pdf + "\""), 1);
}

// Backlog mode: one tick takes file after file, each once the one before has
// its output, in the spool folder's order; without it one file per tick.
TEST(JobJournal, BacklogModeTakesTheNextFileOnlyOnceTheOutputBeforeExists)
{
    for (const bool backlog : {false, true}) {
        SCOPED_TRACE(backlog ? "DRAINBACKLOG=Yes" : "DRAINBACKLOG=No");
        TJournalHome home;
        home.Settings.Config.DrainBacklog = backlog;
        const std::vector<std::string> names = {"a.tvq", "b.tvq", "c.tvq", "d.prn", "e.tvq"};
        for (std::size_t i = 0; i < names.size(); ++i)
            home.Drop(names[i], names[i].ends_with(".prn") ? std::string("\x1b" "E printer file")
                                                           : kReport + "^HV_REQCODE~R" + std::to_string(i + 1));
        home.S().SpoolTimerTimer();
        if (!backlog) {
            EXPECT_EQ(home.Found(), std::vector<std::string> {"a.tvq"});
            EXPECT_TRUE(home.S().State().PrintPending) << "printed by the printing timer, later";
            EXPECT_EQ(home.S().State().TickInterval, TJobPipeline::kSpoolInterval);
            continue;
        }
        EXPECT_EQ(home.Found(), names);
        EXPECT_FALSE(home.S().State().SpoolHeld);
        // Each file was taken after the output of the one before was there.
        std::vector<std::size_t> found, printed;
        for (std::size_t i = 0; i < home.Log.Lines.size(); ++i) {
            const std::string& line = home.Log.Lines[i];
            if (line.rfind("Found file ", 0) == 0)
                found.push_back(i);
            if (line.rfind("Printed R", 0) == 0)
                printed.push_back(i);
        }
        ASSERT_EQ(found.size(), 5u);
        ASSERT_EQ(printed.size(), 4u);
        for (std::size_t i = 0; i + 1 < found.size(); ++i) {
            const std::size_t request = i < 3 ? i : i - 1;  // d.prn is queued, not printed
            if (names[i].ends_with(".tvq")) {
                EXPECT_LT(printed[request], found[i + 1]) << names[i];
            }
        }
        const std::vector<std::string> titles = Titles(home.Cups().JobsWhenQuiet("Laser-A", 4));
        EXPECT_EQ(titles, (std::vector<std::string> {"R1 P1 Page 1", "R2 P1 Page 1", "R3 P1 Page 1", "R5 P1 Page 1"}));
        for (const std::string& name : names)
            EXPECT_FALSE(home.InSpool(name)) << name;
        // The spool folder is empty: the next tick comes at the usual pace.
        EXPECT_EQ(home.S().State().TickInterval, TJobPipeline::kSpoolInterval);
    }
}

// Backlog mode: the LPR queue sends every waiting file in its tick, not only
// the first five attempts' worth.
TEST(JobJournal, BacklogModeSendsTheWholeLprQueueInOneTick)
{
    for (const bool backlog : {false, true}) {
        SCOPED_TRACE(backlog ? "DRAINBACKLOG=Yes" : "DRAINBACKLOG=No");
        TJournalHome home;
        home.Settings.Config.DrainBacklog = backlog;
        ASSERT_TRUE(ForceDir(home.Dir / "temp"));  // where the LPR queue prepares its copies
        for (int i = 1; i <= 7; ++i)
            WriteFile(home.Dir / ("lpd/_1_LAB" + std::to_string(i) + ".prn"), "\x1b" "E file " + std::to_string(i));
        home.S().DispatchLprQueue();
        const int left = static_cast<int>(QDir(QString::fromStdString(home.Dir / "lpd")).entryList(QDir::Files).size());
        EXPECT_EQ(left, backlog ? 0 : 7 - kPassesPerTick);
        EXPECT_EQ(home.Cups().JobsWhenQuiet("Laser-A", backlog ? 7 : kPassesPerTick).size(),
                  static_cast<std::size_t>(backlog ? 7 : kPassesPerTick));
    }
}

// A warning that comes while the journal cannot record is kept with the
// other steps and written, once, when it records again.
TEST(JobJournal, AWarningWhileTheJournalIsLockedIsKeptAndWrittenLater)
{
    TJournalHome home;
    const std::string warning = "ERROR: Request for OVERLAY failed GONE.prn does not exist.";
    home.Drop("w.tvq", kReport + "^HV_REQCODE~WARN1^HV_PRNFILENAME~GONE.prn");
    // Another writer takes the journal as the report is composed, before its
    // overlay is looked up, and holds it through the print run.
    sqlite3* other = nullptr;
    bool locked = false;
    home.S().Engine().OnChanged = [&] {
        if (other)
            return;
        locked = sqlite3_open((home.Dir / "journal.db").c_str(), &other) == SQLITE_OK &&
                 sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    home.S().SpoolTimerTimer();
    home.S().Engine().OnChanged = nullptr;
    ASSERT_TRUE(locked);
    ASSERT_TRUE(home.S().State().PrintPending);
    home.S().printingtimerTimer();
    EXPECT_EQ(home.Log.Count(warning), 1) << "logged as ever";
    EXPECT_EQ(home.Log.CountStarting("The journal " + home.Dir / "journal.db" + " is down since "), 1);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    std::optional<TJobRow> job = home.JobOf("w.tvq");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->Warnings, 0) << "not written while locked";

    for (int tick = 0; tick < 6 && home.InSpool("w.tvq"); ++tick) {
        home.Later(11);
        home.TickAndPrint();
    }
    EXPECT_FALSE(home.InSpool("w.tvq"));
    EXPECT_EQ(home.Log.CountStarting("The journal has the "), 1);
    job = home.JobOf("w.tvq");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->State, TJobState::Done);
    EXPECT_EQ(job->Warnings, 1) << "the attempt after the outage found it again: counted once";
    const std::vector<TEventRow> warnings = Read(home.Journal().Warnings(job->Id));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].What, warning);
}
