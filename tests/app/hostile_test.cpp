// printorbd in a hostile world, as a process against a private scheduler:
// the scheduler gone for longer than every attempt lasts, a printer that
// rejects jobs, a request written in two halves, a journal another process
// holds, a name in Windows-1252, an empty printer file, a second server on
// the same home. Nothing is lost, nothing comes out twice, and the status
// says what is wrong while it is.
#include "app/daemonhome.h"
#include "journal/journal.h"
#include "support/readrows.h"
#include "support/notifysocket.h"
#include "support/smallfs.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

std::vector<std::string> Titles(const std::vector<TCapturedJob>& jobs)
{
    std::vector<std::string> titles;
    for (const TCapturedJob& job : jobs)
        titles.push_back(job.Title);
    std::sort(titles.begin(), titles.end());
    return titles;
}

std::string Request(const std::string& code, const std::string& extra = {})
{
    return "HV_TEMPLATE~LH^HV_REQCODE~" + code + "^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH" + extra;
}

// lpadmin's siblings against the private scheduler.
bool CupsCommand(const TCupsPeer& cups, const std::string& command, const std::string& queue)
{
    QProcess process;
    process.start(QString::fromStdString(command), {"-h", QString("127.0.0.1:%1").arg(cups.Port()),
                                                    QString::fromStdString(queue)});
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

}  // namespace

TEST(Hostile, ASecondServerOnTheSameHomeRefusesAndTouchesNothing)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    TDaemonHome home;
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog(" started in ", 10000));
    home.Drop("one.tvq", Request("ONCE1"));

    // By hand beside the service, and the window beside it (offscreen).
    for (const char* program : {"printorbd", "printorb"}) {
        SCOPED_TRACE(program);
        const TProgramRun second =
            RunProgram(program, {}, {"PRINTORB_HOME=" + home.Dir.Path(), "DISPLAY=", "WAYLAND_DISPLAY="}, 30000);
        EXPECT_EQ(second.Status, std::string(program) == "printorbd" ? 75 : 1) << second.Err;
        EXPECT_NE(second.Err.find("Not started: another server (process " + std::to_string(home.Server.processId()) +
                                  ") runs on the home " + home.Dir.Path()),
                  std::string::npos)
            << second.Err;
    }
    ASSERT_TRUE(home.WaitForLog("Printed ONCE1 P1: 1 page(s) on Laser-A"));
    home.Stop();
    EXPECT_EQ(Titles(cups.JobsWhenQuiet("Laser-A", 1)), (std::vector<std::string> {"ONCE1 P1 Page 1"}));
    EXPECT_EQ(home.LogCount("Found file one.tvq"), 1);

    // A server killed outright leaves no lock behind.
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(WaitFor([&] { return home.LogCount(" started in ") == 2; }, 10000));
    ::kill(static_cast<pid_t>(home.Server.processId()), SIGKILL);
    home.Server.waitForFinished(5000);
    ASSERT_TRUE(home.Start());
    EXPECT_TRUE(WaitFor([&] { return home.LogCount(" started in ") == 3; }, 10000)) << home.LogText();
}

// Two attempts a minute apart would end a failing request in "failed" within
// a minute; the scheduler is gone for longer and nothing goes there.
TEST(Hostile, APrintSystemOutageWaitsAndEverythingPrintsOnceAfterIt)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    TDaemonHome home("JOBRETRIES=2\r\nJOBRETRYDELAY=1\r\n");
    ASSERT_TRUE(cups.Stop());
    ASSERT_TRUE(home.Start());
    for (const char* code : {"OUT1", "OUT2", "OUT3"})
        home.Drop(std::string(code) + ".tvq", Request(code));
    home.Drop("pdf.tvq", Request("OUT4", "^HV_PDFDOC~" + (home.Dir / "results/out4.pdf")));

    // A document to save needs no print system; the others wait.
    ASSERT_TRUE(home.WaitForLog("PDF Document created as \"" + (home.Dir / "results/out4.pdf") + "\"", 40000))
        << home.LogText();
    ASSERT_TRUE(home.WaitForLog("The print system at 127.0.0.1:" + std::to_string(cups.Port()) + " is down since "));
    WaitFor([] { return false; }, 25000);
    EXPECT_EQ(home.LogCount(" is down since "), 1) << home.LogText();
    EXPECT_FALSE(QDir(QString::fromStdString(home.Dir / "spool/failed")).exists()) << home.LogText();
    const TProgramRun during = home.Tool({"status"});
    EXPECT_EQ(during.Status, 1);
    const std::string down = "the print system at 127.0.0.1:" + std::to_string(cups.Port()) + " is down since ";
    EXPECT_EQ(during.Out.rfind("not ok: " + down, 0), 0u)
        << during.Out;
    for (const char* code : {"OUT1", "OUT2", "OUT3"})
        EXPECT_NE(during.Out.find(std::string(code) + ".tvq: waits for the print system"), std::string::npos)
            << during.Out;

    ASSERT_TRUE(cups.Resume());
    ASSERT_TRUE(home.WaitForLog("The print system at 127.0.0.1:" + std::to_string(cups.Port()) + " works again after ",
                                90000))
        << home.LogText();
    ASSERT_TRUE(WaitFor(
        [&] { return !home.InSpool("OUT1.tvq") && !home.InSpool("OUT2.tvq") && !home.InSpool("OUT3.tvq"); }, 30000))
        << home.LogText();
    home.Stop();
    EXPECT_EQ(Titles(cups.JobsWhenQuiet("Laser-A", 3)),
              (std::vector<std::string> {"OUT1 P1 Page 1", "OUT2 P1 Page 1", "OUT3 P1 Page 1"}));
    TJournal journal;
    ASSERT_TRUE(journal.OpenReadOnly(home.Dir / "journal.db"));
    for (const TJobRow& job : Read(journal.Jobs({}))) {
        EXPECT_EQ(job.State, TJobState::Done) << job.SpoolFile << ": " << job.Reason;
        EXPECT_EQ(job.Attempts, 1) << job.SpoolFile << ": the outage cost no attempt";
    }
    EXPECT_EQ(home.Tool({"status"}).Out.find("the print system"), std::string::npos);
}

TEST(Hostile, APrinterThatRejectsJobsHoldsItsRequestsUntilItAcceptsThem)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.AddQueue("Laser-B"));
    TDaemonHome home("PRINTER2=Laser-B\r\nJOBRETRIES=1\r\n");
    ASSERT_TRUE(CupsCommand(cups, "cupsreject", "Laser-A"));
    ASSERT_TRUE(home.Start());
    home.Drop("a.tvq", Request("REJ1"));
    home.Drop("b.tvq", Request("REJ2", "^HV_PRINTER~2"));
    ASSERT_TRUE(home.WaitForLog("Printed REJ2 P1: 1 page(s) on Laser-B")) << home.LogText();
    ASSERT_TRUE(home.WaitForLog("Printer Laser-A is down since ")) << home.LogText();
    EXPECT_TRUE(home.InSpool("a.tvq"));
    const TProgramRun during = home.Tool({"status"});
    EXPECT_EQ(during.Out.rfind("not ok: printer Laser-A is down since ", 0), 0u) << during.Out;
    EXPECT_NE(during.Out.find("it is not accepting jobs"), std::string::npos) << during.Out;

    ASSERT_TRUE(CupsCommand(cups, "cupsaccept", "Laser-A"));
    ASSERT_TRUE(home.WaitForLog("Printed REJ1 P1: 1 page(s) on Laser-A", 90000)) << home.LogText();
    EXPECT_TRUE(home.WaitForLog("Printer Laser-A works again after "));
    home.Stop();
    EXPECT_EQ(Titles(cups.JobsWhenQuiet("Laser-A", 1)), (std::vector<std::string> {"REJ1 P1 Page 1"}));
    EXPECT_FALSE(QDir(QString::fromStdString(home.Dir / "spool/failed")).exists());
}

// A writer on a network share that pauses halfway: the half is never taken.
TEST(Hostile, ARequestWrittenInTwoHalvesIsTakenOnlyWhole)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    TDaemonHome home("", false);
    WriteFile(home.Dir / "tags.txt", "3|PATSUR\r\n4|PATGIVEN\r\n");
    WriteFile(home.Dir / "templates/P1.tpl", "{\\rtf1 Result for <<PATSUR>> <<PATGIVEN>>\\par}");
    ASSERT_TRUE(home.Start());
    const std::string whole = Request("HALF1", "^HV_PATGIVEN~JANE");
    const std::string first = whole.substr(0, whole.find("SMITH") + 4);  // "...PATSUR~SMIT"
    const int fd = ::open((home.Dir / "spool/half.tvq").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    WaitFor([] { return false; }, 7000);
    const std::string rest = whole.substr(first.size());
    ASSERT_EQ(::write(fd, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
    ::close(fd);
    EXPECT_EQ(home.LogCount("Found file half.tvq"), 0) << "not taken while it was being written";
    ASSERT_TRUE(home.WaitForLog("Printed HALF1 P1: 1 page(s) on Laser-A", 40000)) << home.LogText();
    home.Stop();
    const std::vector<TCapturedJob> jobs = cups.JobsWhenQuiet("Laser-A", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(TextOfPdf(jobs[0].Data).find("Result for SMITH JANE"), std::string::npos) << TextOfPdf(jobs[0].Data);
    EXPECT_EQ(home.LogCount("Found file half.tvq"), 1);
}

// Another process holds the journal: no file is taken, and none is printed
// without its row; afterwards every job has its row and every page came once.
TEST(Hostile, AJournalLockedByAnotherProcessStopsTheIntakeNotTheRecords)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    TDaemonHome home;
    ASSERT_TRUE(home.Start());
    home.Drop("j1.tvq", Request("JRN1"));
    ASSERT_TRUE(home.WaitForLog("Printed JRN1 P1: 1 page(s) on Laser-A")) << home.LogText();

    QProcess holder;
    holder.start("/usr/bin/python3",
                 {"-c", QString::fromStdString("import sqlite3,sys,time\n"
                                               "c=sqlite3.connect('" + home.Dir / "journal.db" +
                                               "', isolation_level=None)\n"
                                               "c.execute('BEGIN EXCLUSIVE')\n"
                                               "print('held', flush=True)\n"
                                               "time.sleep(25)\n")});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    for (int n = 2; n <= 6; ++n)
        home.Drop("j" + std::to_string(n) + ".tvq", Request("JRN" + std::to_string(n)));
    ASSERT_TRUE(home.WaitForLog("The journal " + home.Dir / "journal.db" + " is down since ", 20000)) << home.LogText();
    const TProgramRun during = home.Tool({"status"});
    EXPECT_EQ(during.Status, 1) << during.Out;
    EXPECT_NE(during.Out.find("the journal " + home.Dir / "journal.db" + " cannot be written"), std::string::npos)
        << during.Out;
    ASSERT_TRUE(holder.waitForFinished(40000));

    ASSERT_TRUE(home.WaitForLog("The journal " + home.Dir / "journal.db" + " works again after ", 90000))
        << home.LogText();
    ASSERT_TRUE(WaitFor(
        [&] {
            for (int n = 2; n <= 6; ++n)
                if (home.InSpool("j" + std::to_string(n) + ".tvq"))
                    return false;
            return true;
        },
        60000))
        << home.LogText();
    home.Stop();
    const std::vector<std::string> titles = Titles(cups.JobsWhenQuiet("Laser-A", 6));
    EXPECT_EQ(titles.size(), 6u);
    EXPECT_EQ(std::set<std::string>(titles.begin(), titles.end()).size(), 6u) << "each page once";
    TJournal journal;
    ASSERT_TRUE(journal.OpenReadOnly(home.Dir / "journal.db"));
    const std::vector<TJobRow> jobs = Read(journal.Jobs({}));
    EXPECT_EQ(jobs.size(), 6u);
    for (const TJobRow& job : jobs) {
        EXPECT_EQ(job.State, TJobState::Done) << job.SpoolFile;
        const std::vector<TOutputRow> outputs = Read(journal.Outputs(job.Id));
        ASSERT_EQ(outputs.size(), 1u) << job.SpoolFile;
        EXPECT_GT(outputs[0].CupsJob, 0) << job.SpoolFile;
    }
}

// A Windows share writes names in its code page; a name the server cannot
// spell is reported, not silently left.
TEST(Hostile, ANameInWindows1252IsTakenAndOneThatCannotBeOpenedIsReported)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A"));
    TDaemonHome home;
    home.Drop("caf\xE9.tvq", Request("CP1252"));
    home.Drop("\xC5\x81\xC3\xB3""d\xC5\xBA.tvq", Request("LODZ"));
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Printed CP1252 P1: 1 page(s) on Laser-A", 60000)) << home.LogText();
    EXPECT_FALSE(FileExists(home.Dir / "spool/caf\xE9.tvq"));
    // The log is in the system's code page, as every line is.
    EXPECT_EQ(home.LogCount("Found file caf\xE9.tvq"), 1);
    ASSERT_TRUE(home.WaitForLog("?\xF3""d?.tvq cannot be taken: its name has characters outside Windows-1252", 60000))
        << home.LogText();
    const TProgramRun status = home.Tool({"status"});
    EXPECT_EQ(status.Status, 1);
    EXPECT_NE(status.Out.find("the spool file ?\xC3\xB3""d?.tvq cannot be taken"), std::string::npos) << status.Out;
    WaitFor([] { return false; }, 6000);
    EXPECT_EQ(home.LogCount("cannot be taken: its name"), 1) << "reported once";
    home.Stop();
    TJournal journal;
    ASSERT_TRUE(journal.OpenReadOnly(home.Dir / "journal.db"));
    ASSERT_EQ(Read(journal.Jobs({})).size(), 1u);
    EXPECT_EQ(Read(journal.Jobs({}))[0].SpoolFile, "caf\xE9.tvq");
    EXPECT_EQ(Read(journal.Jobs({}))[0].State, TJobState::Done);
}

TEST(Hostile, AnEmptyPrinterFileIsNotSent)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home;
    home.Drop("1_EMPTY.prn", "");
    home.Drop("1_FULL.prn", "\x1b" "E page");
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Spooler file 1_EMPTY.prn failed after 1 attempt(s): the printer file is empty."))
        << home.LogText();
    ASSERT_TRUE(home.WaitForLog("_1_FULL.prn sent raw through CUPS to Laser-A")) << home.LogText();
    home.Stop();
    EXPECT_TRUE(FileExists(home.Dir / "spool/failed/1_EMPTY.prn"));
    EXPECT_FALSE(FileExists(home.Dir / "lpdspooler/_1_EMPTY.prn"));
    const std::vector<TCapturedJob> jobs = cups.JobsWhenQuiet("Laser-A", 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Data, "\x1b" "E page");
}

// A printer that answers each step after a second, in backlog mode where one
// round would send every file: the watchdog is fed as each delivery ends,
// not only when the next tick begins.
TEST(Hostile, ASlowPrinterDoesNotStarveTheWatchdog)
{
    TTempDir peerDir;
    TPeerProcess slow("lpd-peer.py", {"ok", peerDir / "out", "1000"});
    TDaemonHome home("PRINTER1=Not-Installed\r\nHOSTIP-1=127.0.0.1:" + std::to_string(slow.Port()) +
                     "\r\nDRAINBACKLOG=Yes\r\n");
    constexpr int kFiles = 5;
    ASSERT_TRUE(ForceDir(home.Dir / "lpdspooler"));
    for (int n = 1; n <= kFiles; ++n)
        WriteFile(home.Dir / ("lpdspooler/_1_SLOW" + std::to_string(n) + ".prn"), "\x1b" "E page " + std::to_string(n));
    TNotifySocket notify(home.Dir / "notify");
    ASSERT_TRUE(notify.Bound());
    // The test's own CUPS_SERVER is a closed port: the spooler route fails at once.
    ASSERT_TRUE(home.Start({"NOTIFY_SOCKET=" + notify.Path(), "WATCHDOG_USEC=120000000"}));
    ASSERT_TRUE(notify.WaitFor("READY=1", 10000));
    const std::string last = "Sent LPD Job _1_SLOW" + std::to_string(kFiles) + ".prn OK";
    // Read often, so each message is stamped close to its arrival.
    ASSERT_TRUE(WaitFor(
        [&] {
            notify.Messages();
            return home.LogText().find(last) != std::string::npos;
        },
        120000))
        << home.LogText();
    home.Stop();
    std::vector<long long> pings;
    for (const auto& message : notify.With("WATCHDOG=1"))
        pings.push_back(message.At);
    long long longest = 0;
    for (std::size_t i = 1; i < pings.size(); ++i)
        longest = std::max(longest, pings[i] - pings[i - 1]);
    std::cout << pings.size() << " watchdog pings while " << kFiles << " files went to a slow printer; the longest gap "
              << longest << " ms\n";
    // No gap is much longer than one delivery: a round of several is not one gap.
    TJournal journal;
    ASSERT_TRUE(journal.OpenReadOnly(home.Dir / "journal.db"));
    long long slowest = 0;
    for (const TDeliveryRow& delivery : Read(journal.Deliveries(0)))
        slowest = std::max<long long>(slowest, delivery.DurationMs);
    ASSERT_GT(slowest, 3000) << "the printer answered slowly";
    EXPECT_LT(longest, slowest + 2000) << "the slowest delivery took " << slowest << " ms";
    for (int n = 1; n <= kFiles; ++n)
        EXPECT_EQ(home.LogCount("Sent LPD Job _1_SLOW" + std::to_string(n) + ".prn OK"), 1);
}

// The folder a request's PDF goes to is full: the request waits (a fault
// would have used its only attempt), nothing claims a PDF, and once there is
// room again each PDF comes out whole, once.
TEST(Hostile, AFullResultsFolderHoldsItsReportsUntilThereIsRoom)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk(2 * 1024 * 1024);
    ASSERT_TRUE(disk.Mounted());
    ASSERT_TRUE(disk.Fill());
    TDaemonHome home("JOBRETRIES=1\r\n");
    home.Drop("f1.tvq", Request("FULL1", "^HV_PDFDOC~" + (disk / "full1.pdf")));
    home.Drop("f2.tvq", Request("FULL2", "^HV_PDFDOC~" + (disk / "full2.pdf")));
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("The folder " + disk.Path() + " is down since ")) << home.LogText();
    ASSERT_TRUE(home.WaitForLog("Spooler file f2.tvq waits in the spool folder until the folder " + disk.Path()))
        << home.LogText();
    EXPECT_EQ(home.LogCount("PDF Document created as"), 0);
    EXPECT_EQ(disk.Names(), std::vector<std::string>()) << "nothing half-made left in the full folder";
    EXPECT_TRUE(home.InSpool("f1.tvq") && home.InSpool("f2.tvq"));
    EXPECT_FALSE(QDir(QString::fromStdString(home.Dir / "spool/failed")).exists());
    const TProgramRun during = home.Tool({"status"});
    EXPECT_EQ(during.Status, 1);
    EXPECT_NE(during.Out.find("the folder " + disk.Path() + " is down since "), std::string::npos) << during.Out;

    disk.MakeRoom();
    ASSERT_TRUE(home.WaitForLog("PDF Document created as \"" + (disk / "full2.pdf") + "\"", 90000)) << home.LogText();
    ASSERT_TRUE(WaitFor([&] { return !home.InSpool("f1.tvq") && !home.InSpool("f2.tvq"); }, 10000));
    home.Stop();
    for (const char* pdf : {"full1.pdf", "full2.pdf"})
        EXPECT_EQ(PdfInfoField(ReadFile(disk / pdf), "Pages"), "1") << pdf;
    EXPECT_EQ(disk.Names(), (std::vector<std::string> {"full1.pdf", "full2.pdf"}));
    EXPECT_EQ(home.LogCount("PDF Document created as"), 2);
    EXPECT_TRUE(home.WaitForLog("The folder " + disk.Path() + " works again after ", 0));
}

// Printer 1's LPD refuses every connection; printer 2's files behind its
// files go out all the same, and printer 1's failure is said once.
TEST(Hostile, ADeadPrinterHoldsOnlyItsOwnQueuedFiles)
{
    TTempDir peerDir;
    TPeerProcess lpd("lpd-peer.py", {"ok", peerDir / "out"});
    const std::string port = std::to_string(lpd.Port());
    // The peer listens on 127.0.0.1 only: 127.0.0.2 refuses on the same port.
    TDaemonHome home("PRINTER1=Not-Installed\r\nHOSTIP-1=127.0.0.2:" + port +
                     "\r\nPRINTER2=Not-Installed\r\nHOSTIP-2=127.0.0.1:" + port + "\r\n");
    ASSERT_TRUE(ForceDir(home.Dir / "lpdspooler"));
    for (const char* name : {"_1_a.prn", "_1_b.prn", "_2_c.prn", "_2_d.prn"})
        WriteFile(home.Dir / ("lpdspooler/" + std::string(name)), "\x1b" "E " + std::string(name));
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Sent LPD Job _2_d.prn OK", 30000)) << home.LogText();
    ASSERT_TRUE(home.WaitForLog("Printer 1 (127.0.0.2:" + port + ") of the LPR queue is down since "));
    WaitFor([] { return false; }, 20000);  // several more ticks
    EXPECT_EQ(home.LogCount(">LPD Print result was -3"), 1) << home.LogText();  // a line of its own once
    EXPECT_TRUE(FileExists(home.Dir / "lpdspooler/_1_a.prn") && FileExists(home.Dir / "lpdspooler/_1_b.prn"));
    const TProgramRun status = home.Tool({"status"});
    EXPECT_EQ(status.Status, 1);
    EXPECT_NE(status.Out.find("printer 1 (127.0.0.2:" + port + ") of the LPR queue is down since "), std::string::npos)
        << status.Out;
    EXPECT_NE(status.Out.find("LPR queue: 2 file(s)"), std::string::npos) << status.Out;
    home.Stop();
}
