// The unattended server killed with SIGKILL, and started again: once in each
// window where a kill could make an output twice or lose it (a page the
// scheduler took but the journal does not know yet, a document on disk not
// yet renamed, a page file half written), and at random moments while it
// works through fifty requests. At the end every request is done and every
// output exists once.
#include "journal/journal.h"
#include "support/readrows.h"
#include "support/regfiles.h"
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>

namespace {

constexpr int kRequests = 50;
constexpr int kKills = 20;

std::string Code(int n)
{
    return "K" + std::string(n < 10 ? "0" : "") + std::to_string(n);
}

// A home with a letterhead, a template and the tags, and its settings after
// the critical ones (files are dropped whole: no settle time).
void MakeHome(const TTempDir& home, const std::string& settings)
{
    for (const char* sub : {"spool", "results", "templates"})
        ASSERT_TRUE(ForceDir(home / sub));
    WriteFile(home / "tags.txt", "3|PATSUR\r\n");
    WriteFile(home / "templates/LH.doc", "{\\rtf1 Laboratory\\par}");
    WriteFile(home / "templates/P1.tpl", "{\\rtf1 Result for <<PATSUR>>\\par}");
    WriteFile(home / "printserver.inf", "RESULTS=" + (home / "results") + "\r\nSPOOLER=" + (home / "spool") +
                                            "\r\nTEMPLATES=" + (home / "templates") +
                                            "\r\nDEFLETTERHEAD=LH\r\nSETTLESECONDS=0\r\n" + settings);
}

// Whether the process has stopped itself (state T in /proc).
bool Stopped(qint64 pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
}

}  // namespace

// Each window is aimed at with PRINTORB_STOP_AT: the server stops itself
// there, and is killed while it stands. Each window must be hit.
TEST(CrashSafety, AKillInEachWindowLosesNothingAndOutputsNothingTwice)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.AddQueue("HP-Laser"));
    const struct {
        const char* Window;
        const char* Request;  // after the codes
    } windows[] = {
        {"page-accepted", "^HV_PRINTER~1"},
        {"output-synced", "^HV_PRINTER~1^HV_PDFDOC~@results/W.pdf"},
        {"output-half", "^HV_PRINTER~2^HV_PMASK~12"},
    };
    // One window after the other; a failed check in one does not skip the next.
    const auto aim = [&](const auto& w) {
        SCOPED_TRACE(w.Window);
        TTempDir home;
        MakeHome(home, "PRINTER1=Laser-A\r\nPRINTER2=HP-Laser\r\n");
        WriteFile(home / "printerdriverdata.reg", "REGEDIT4\r\n\r\n" + PrinterKey("HP-Laser") + "\"HPDUMMY\"=\"\"\r\n");
        std::string request = "HV_TEMPLATE~LH^HV_REQCODE~WIN^HV_PROCCODE~P1^HV_PATSUR~SMITH" + std::string(w.Request);
        if (const auto at = request.find('@'); at != std::string::npos)
            request.replace(at, 1, home.Path());
        WriteFile(home / "spool/w.tvq", request);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("PRINTORB_HOME", QString::fromStdString(home.Path()));
        QProcess server;
        env.insert("PRINTORB_STOP_AT", w.Window);
        server.setProcessEnvironment(env);
        server.start(QString::fromStdString(BinaryDir() + "/bin/printorbd"), {});
        ASSERT_TRUE(server.waitForStarted(5000));
        const bool hit = WaitFor([&] { return Stopped(server.processId()); }, 40000);
        ::kill(static_cast<pid_t>(server.processId()), SIGKILL);
        ASSERT_TRUE(server.waitForFinished(5000));
        ASSERT_TRUE(hit) << "the window was never reached: " << ReadFile(home / "spoolerLog.txt");

        env.remove("PRINTORB_STOP_AT");
        QProcess again;
        again.setProcessEnvironment(env);
        again.start(QString::fromStdString(BinaryDir() + "/bin/printorbd"), {});
        ASSERT_TRUE(again.waitForStarted(5000));
        const bool emptied = WaitFor([&] { return !FileExists(home / "spool/w.tvq"); }, 40000);
        // Quiet: two more ticks in which a second copy would come.
        WaitFor([] { return false; }, 11000);
        again.terminate();
        again.waitForFinished(10000);
        ASSERT_TRUE(emptied) << ReadFile(home / "spoolerLog.txt");

        TJournal journal;
        ASSERT_TRUE(journal.OpenReadOnly(home / "journal.db"));
        ASSERT_EQ(Read(journal.Jobs({})).size(), 1u);
        const TJobRow job = Read(journal.Jobs({}))[0];
        EXPECT_EQ(job.State, TJobState::Done) << job.Reason;
        EXPECT_EQ(job.Attempts, 2);
        const std::string window = w.Window;
        if (window == "page-accepted") {
            const std::vector<TCapturedJob> printed = cups.JobsWhenQuiet("Laser-A", 1);
            ASSERT_EQ(printed.size(), 1u);
            EXPECT_EQ(printed[0].Title, "WIN P1 Page 1");
            bool found = false;
            for (const TEventRow& event : Read(journal.Events(job.Id)))
                found = found || event.What.find("was found at Laser-A") != std::string::npos;
            EXPECT_TRUE(found) << "the page was found at the scheduler, not sent again";
        } else if (window == "output-synced") {
            EXPECT_EQ(PdfInfoField(ReadFile(home / "results/W.pdf"), "Pages"), "1");
            EXPECT_EQ(QDir(QString::fromStdString(home / "results")).entryList(QDir::Files | QDir::Hidden).size(), 1)
                << "no half-made file left beside it";
        } else {
            // The page file went to the printer once, whole: its page end is there.
            const std::vector<TCapturedJob> sent = cups.JobsWhenQuiet("HP-Laser", 1);
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_TRUE(sent[0].Data.ends_with("\x0c\x1b" "E")) << sent[0].Data.size() << " bytes";
            EXPECT_NE(sent[0].Data.find("\x1b&f12Y"), std::string::npos) << "with its macro call";
        }
    };
    for (const auto& w : windows)
        aim(w);
}

TEST(CrashSafety, KilledTwentyTimesWhilePrintingFiftyRequestsItLosesNothingAndPrintsNothingTwice)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TTempDir home;
    // Every kill may cost an attempt; none is to be given up.
    MakeHome(home, "PRINTER1=Laser-A\r\nJOBRETRIES=100\r\nJOBRETRYDELAY=0\r\n");
    ASSERT_TRUE(ForceDir(home / "spool/temp"));
    for (int n = 1; n <= kRequests; ++n)
        WriteFile(home / ("spool/" + Code(n) + ".tvq"),
                  "HV_TEMPLATE~LH^HV_REQCODE~" + Code(n) + "^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("PRINTORB_HOME", QString::fromStdString(home.Path()));
    auto start = [&](QProcess& server) {
        server.setProcessEnvironment(env);
        server.setStandardErrorFile(QString::fromStdString(home / "stderr.txt"), QIODevice::Append);
        server.start(QString::fromStdString(BinaryDir() + "/bin/printorbd"), {});
        return server.waitForStarted(5000);
    };

    // The seed is printed, and PRINTORB_KILL_SEED repeats a run.
    const char* given = std::getenv("PRINTORB_KILL_SEED");
    const unsigned seed = given ? static_cast<unsigned>(std::strtoul(given, nullptr, 10)) : std::random_device()();
    std::cout << "kill moments from seed " << seed << '\n';
    std::mt19937 random(seed);
    // The first tick comes five seconds after the start-up and the print run
    // 1.5 s later: kills land while a file is taken, composed, waits, is
    // printed, recorded or removed.
    std::uniform_int_distribution<int> moment(4800, 7200);
    auto starts = [&] {
        const std::string log = ReadFile(home / "spoolerLog.txt");
        int count = 0;
        for (auto at = log.find(" started in "); at != std::string::npos; at = log.find(" started in ", at + 1))
            ++count;
        return count;
    };
    for (int kill = 0; kill < kKills; ++kill) {
        QProcess server;
        const int before = starts();
        ASSERT_TRUE(start(server));
        // Timed from the end of the start-up, when the spool timer runs.
        ASSERT_TRUE(WaitFor([&] { return starts() > before; }, 20000));
        const int wait = moment(random);
        EXPECT_FALSE(server.waitForFinished(wait)) << "it ran until killed";
        ::kill(static_cast<pid_t>(server.processId()), SIGKILL);
        ASSERT_TRUE(server.waitForFinished(5000));
    }

    // What is left is drained in backlog mode, a file as soon as the one
    // before has its output, rather than one each tick.
    WriteFile(home / "printserver.inf", ReadFile(home / "printserver.inf") + "DRAINBACKLOG=Yes\r\n");
    QProcess server;
    ASSERT_TRUE(start(server));
    const QDir spool(QString::fromStdString(home / "spool"));
    const bool emptied = WaitFor([&] { return spool.entryList({"*.tvq"}, QDir::Files).isEmpty(); },
                                 (kRequests * 5 + 60) * 1000);
    server.terminate();
    server.waitForFinished(10000);
    ASSERT_TRUE(emptied) << spool.entryList({"*.tvq"}, QDir::Files).join(' ').toStdString();

    // Every request done, each one job.
    TJournal journal;
    ASSERT_TRUE(journal.OpenReadOnly(home / "journal.db"));
    std::map<std::string, int> jobs;
    int takenAgain = 0, interrupted = 0, foundAtScheduler = 0;
    for (const TJobRow& job : Read(journal.Jobs({}))) {
        ++jobs[job.SpoolFile];
        EXPECT_EQ(job.State, TJobState::Done) << job.SpoolFile << ": " << job.Reason;
        takenAgain += job.Attempts > 1 ? 1 : 0;
        interrupted += job.Attempts - 1;
        for (const TEventRow& event : Read(journal.Events(job.Id)))
            foundAtScheduler += event.What.find("was found at") != std::string::npos ? 1 : 0;
    }
    const std::string log = ReadFile(home / "spoolerLog.txt");
    int leftovers = 0;
    for (auto at = log.find("already; it is removed"); at != std::string::npos; at = log.find("already; it is removed", at + 1))
        ++leftovers;
    std::cout << kKills << " kills: " << interrupted << " attempts interrupted, in " << takenAgain
              << " jobs taken up again; " << foundAtScheduler
              << " pages found at the scheduler instead of sent again, " << leftovers
              << " requests removed whose output existed\n";
    EXPECT_EQ(jobs.size(), static_cast<std::size_t>(kRequests));
    for (const auto& [file, count] : jobs)
        EXPECT_EQ(count, 1) << file;

    // Every page reached the print system exactly once.
    const std::vector<TCapturedJob> printed = cups.JobsWhenQuiet("Laser-A", kRequests, 30000);
    std::map<std::string, int> titles;
    for (const TCapturedJob& job : printed)
        ++titles[job.Title];
    for (int n = 1; n <= kRequests; ++n)
        EXPECT_EQ(titles[Code(n) + " P1 Page 1"], 1) << Code(n) << " (seed " << seed << ")";
    EXPECT_EQ(printed.size(), static_cast<std::size_t>(kRequests)) << "seed " << seed;
}
