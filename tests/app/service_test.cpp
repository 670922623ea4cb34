// printorbd as systemd runs it: readiness and watchdog messages on a
// notification socket the test binds as systemd would, the exit status that
// stops the restarts, and log lines in the journal's format.
#include "app/serverfixture.h"
#include "support/notifysocket.h"
#include "util/fileutil.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A home printorbd accepts, and printorbd on it with systemd's variables.
struct TServiceRun {
    TServiceRun() { Home.WriteSettings(Home.Critical() + "PRINTER1=Laser A\r\n"); }
    ~TServiceRun()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
    // environment: NAME=value lines added to the test's own environment;
    // through a shell when the child must know its own pid.
    bool Start(const std::vector<std::string>& environment, const std::string& shellPrefix = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID",
                                 "JOURNAL_STREAM"})
            env.remove(name);
        env.insert("PRINTORB_HOME", QString::fromStdString(Home.Dir.Path()));
        for (const std::string& setting : environment) {
            const auto eq = setting.find('=');
            env.insert(QString::fromStdString(setting.substr(0, eq)), QString::fromStdString(setting.substr(eq + 1)));
        }
        Process.setProcessEnvironment(env);
        const std::string program = BinaryDir() + "/bin/printorbd";
        if (shellPrefix.empty())
            Process.start(QString::fromStdString(program), {});
        else
            Process.start("/bin/sh", {"-c", QString::fromStdString(shellPrefix + " exec '" + program + "'")});
        return Process.waitForStarted(5000);
    }
    std::string Log() const { return ReadFile(Home.Dir / "spoolerLog.txt"); }
    // The spool ticks so far: the first one's retention line, then one "Found file" per spool file.
    bool Ticked() const { return Log().find(">Retention: ") != std::string::npos; }
    int Stop()
    {
        Process.terminate();
        if (!Process.waitForFinished(10000))
            return -1;
        return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    }

    TTestHome Home;
    QProcess Process;
};

// "device:inode" of a file, as systemd writes JOURNAL_STREAM for the stream it gives.
std::string StreamOf(const std::string& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}

}  // namespace

TEST(Service, ReadyOnlyAfterTheStartUpThenAWatchdogPingWithEachTick)
{
    TTempDir sockets;
    TNotifySocket notify(sockets / "notify");
    ASSERT_TRUE(notify.Bound());
    TServiceRun run;
    // systemd's interval: twice the five-second tick.
    const long long watchdogMs = 10000;
    ASSERT_TRUE(run.Start({"NOTIFY_SOCKET=" + notify.Path(), "WATCHDOG_USEC=" + std::to_string(watchdogMs * 1000)}));

    ASSERT_TRUE(WaitFor([&] { return !notify.With("READY=1").empty(); }, 15000)) << run.Log();
    // The start-up was done and logged before systemd heard of it.
    EXPECT_NE(run.Log().find(" started in " + run.Home.Dir.Path()), std::string::npos) << run.Log();
    EXPECT_EQ(notify.Last("STATUS").rfind("Spooling from " + run.Home.Dir.Path() + "spool", 0), 0u)
        << notify.Last("STATUS");

    // Ticks every five seconds, each with its ping: three pings, spread out,
    // none later than systemd's interval allows. The gaps are between the
    // pings' arrivals at the socket, however late the test reads them.
    ASSERT_TRUE(WaitFor([&] { return notify.With("WATCHDOG=1").size() >= 3; }, 40000))
        << notify.With("WATCHDOG=1").size();
    const auto pings = notify.With("WATCHDOG=1");
    const long long ready = notify.With("READY=1").front().At;
    EXPECT_GE(pings.front().At, ready);
    EXPECT_LT(pings.front().At - ready, watchdogMs) << "the first ping after READY=1";
    for (std::size_t i = 1; i < pings.size(); ++i) {
        EXPECT_GT(pings[i].At - pings[i - 1].At, 3500) << "a ping per tick, not a timer of its own";
        EXPECT_LT(pings[i].At - pings[i - 1].At, watchdogMs) << "ping " << i;
    }
    EXPECT_TRUE(run.Ticked());

    EXPECT_EQ(run.Stop(), 0);
    EXPECT_FALSE(notify.With("STOPPING=1").empty());
    EXPECT_EQ(notify.With("READY=1").size(), 1u);
    const std::string err = run.Process.readAllStandardError().toStdString();
    EXPECT_EQ(err.find("propagateSizeHints"), std::string::npos) << err;
}

TEST(Service, TheWatchdogIsFedOnlyWhenSystemdAsksThisProcessForIt)
{
    struct {
        std::vector<std::string> env;
        std::string shell;
        bool pings;
    } cases[] = {
        {{"WATCHDOG_USEC=30000000"}, "WATCHDOG_PID=$$", true},  // the child's own pid
        {{"WATCHDOG_USEC=30000000", "WATCHDOG_PID=1"}, "", false},  // another process's watchdog
        {{}, "", false},  // the unit has no watchdog
    };
    for (const auto& c : cases) {
        TTempDir sockets;
        TNotifySocket notify(sockets / "notify");
        ASSERT_TRUE(notify.Bound());
        TServiceRun run;
        std::vector<std::string> env = c.env;
        env.push_back("NOTIFY_SOCKET=" + notify.Path());
        ASSERT_TRUE(run.Start(env, c.shell));
        ASSERT_TRUE(WaitFor([&] { return !notify.With("READY=1").empty(); }, 15000)) << c.shell;
        // Two ticks: the first one's ping has had time to arrive.
        ASSERT_TRUE(WaitFor([&] { return run.Ticked(); }, 15000));
        WaitFor([] { return false; }, 5500);
        EXPECT_EQ(!notify.With("WATCHDOG=1").empty(), c.pings) << c.shell << " " << c.env.size();
        EXPECT_EQ(run.Stop(), 0);
    }
}

TEST(Service, ARefusedStartUpExits78SaysWhyAndIsNeverReady)
{
    TTempDir sockets;
    TNotifySocket notify(sockets / "notify");
    ASSERT_TRUE(notify.Bound());
    TServiceRun run;
    run.Home.WriteSettings("RESULTS=" + (run.Home.Dir / "results") + "\r\n");  // the rest missing
    const std::string err = run.Home.Dir / "stderr.txt";
    WriteFile(err, "");
    run.Process.setStandardErrorFile(QString::fromStdString(err));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(run.Start({"NOTIFY_SOCKET=" + notify.Path(), "JOURNAL_STREAM=" + StreamOf(err)}));
    ASSERT_TRUE(run.Process.waitForFinished(10000));
    EXPECT_EQ(run.Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.Process.exitCode(), 78);

    const std::string why =
        "Not set in " + run.Home.Dir.Path() + "printserver.inf: SPOOLER, TEMPLATES, DEFLETTERHEAD";
    EXPECT_TRUE(notify.With("READY=1").empty());
    EXPECT_TRUE(WaitFor([&] { return !notify.Last("STATUS").empty(); }, 2000));
    EXPECT_EQ(notify.Last("STATUS"), "Start-up refused: " + why);

    // The journal's format: the priority first, no time stamp of ours.
    const std::string text = ReadFile(err);
    EXPECT_NE(text.find("<3>" + why + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("<3>A critical value was not set.  Tovaspooler will close.\n"), std::string::npos) << text;
    std::size_t lines = 0;
    for (std::size_t start = 0; start < text.size(); start = text.find('\n', start) + 1, ++lines) {
        const std::string line = text.substr(start, text.find('\n', start) - start);
        EXPECT_TRUE(line.size() > 3 && line[0] == '<' && line[2] == '>' && std::strchr("346", line[1])) << line;
        EXPECT_FALSE(QString::fromStdString(line).contains(QRegularExpression("^<\\d>\\d\\d-\\d\\d \\d\\d:"))) << line;
    }
    EXPECT_GE(lines, 2u);
    // A refused start-up makes no log file; one that exists gets the lines, with our stamps.
    EXPECT_FALSE(FileExists(run.Home.Dir / "spoolerLog.txt"));
}

TEST(Service, OutsideTheJournalStandardErrorKeepsOurStamps)
{
    TServiceRun run;
    run.Home.WriteSettings("RESULTS=" + (run.Home.Dir / "results") + "\r\n");
    const std::string err = run.Home.Dir / "stderr.txt";
    WriteFile(err, "");
    const std::string other = run.Home.Dir / "other.txt";
    WriteFile(other, "");
    run.Process.setStandardErrorFile(QString::fromStdString(err));
    // Inherited from a service shell, but standard error is a file of its own.
    ASSERT_TRUE(run.Start({"JOURNAL_STREAM=" + StreamOf(other)}));
    ASSERT_TRUE(run.Process.waitForFinished(10000));
    EXPECT_EQ(run.Process.exitCode(), 78);
    const std::string text = ReadFile(err);
    EXPECT_TRUE(QString::fromStdString(text).contains(
        QRegularExpression("(^|\n)\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d>Not set in ")))
        << text;
    EXPECT_EQ(text.find("<3>"), std::string::npos) << text;
}

TEST(Service, TheUsageNamesTheStatusThatStopsTheRestarts)
{
    const TProgramRun help = RunProgram("printorbd", {"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("78 (EX_CONFIG) when the start-up refuses to run"), std::string::npos) << help.Out;
    EXPECT_EQ(help.Out.find("1 when the start-up refuses"), std::string::npos) << help.Out;
}

TEST(Service, EverySpoolTickCallsTheAliveHook)
{
    TTestHome home;
    home.WriteSettings(home.Critical() + "PRINTER1=Laser A\r\n");
    auto server = home.MakeServer();
    ASSERT_TRUE(server->StartUp());
    int alive = 0;
    server->Pipeline().SetAliveHook([&] { ++alive; });
    server->Pipeline().SpoolTimerTimer();
    const int idle = alive;
    EXPECT_GE(idle, 1);
    server->Pipeline().HoldSpool();  // a busy tick is a tick all the same
    server->Pipeline().SpoolTimerTimer();
    EXPECT_EQ(alive, idle + 1);
}
