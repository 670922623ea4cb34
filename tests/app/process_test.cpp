// The server as a process: exit codes, standard error, signals.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

QProcessEnvironment HeadlessEnvironment(const std::string& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("PRINTORB_HOME", QString::fromStdString(home));
    env.insert("CUPS_SERVER", "127.0.0.1:1");  // no scheduler: start-up must not wait on one
    return env;
}

// The window's program without a display and the unattended one behave alike.
const char* const kServers[] = {"printorb", "printorbd"};

std::string Program(const std::string& name)
{
    return BinaryDir() + "/bin/" + name;
}

}  // namespace

TEST(ServerProcess, MissingSetupFileExitsWithTheRefusalStatusAndSaysWhy)
{
    for (const std::string server : kServers) {
        TTempDir parent;
        const std::string home = parent / "home";  // named, but not there
        QProcess process;
        process.setProcessEnvironment(HeadlessEnvironment(home));
        QElapsedTimer timer;
        timer.start();
        process.start(QString::fromStdString(Program(server)), {});
        ASSERT_TRUE(process.waitForFinished(5000)) << server;
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), server == "printorbd" ? 78 : 1) << server;  // 78: EX_CONFIG
        const std::string err = process.readAllStandardError().toStdString();
        EXPECT_NE(err.find("Warning. Setup file is missing."), std::string::npos) << err;
        EXPECT_NE(err.find("A critical value was not set.  Tovaspooler will close."), std::string::npos) << err;
        EXPECT_NE(err.find("No settings read from " + (home + "/printserver.inf") + ": no such file"),
                  std::string::npos)
            << err;
        // A refused start-up creates nothing: no home, no log, no temp folder.
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(home))) << server;
    }
}

TEST(ServerProcess, RefusalsNameTheSettingOrPathConcerned)
{
    const struct {
        std::string settings;
        std::string says;
    } cases[] = {
        {"RESULTS=/tmp/\r\nTEMPLATES=/tmp/\r\n", "Not set in @/printserver.inf: SPOOLER, DEFLETTERHEAD"},
        {"RESULTS=/tmp/\r\nSPOOLER=/tmp/\r\nTEMPLATES=/tmp/\r\nDEFLETTERHEAD=LH\r\n",
         "No printer entries in @/printserver.inf: the server needs at least one PRINTER<n>=<printer name> line"},
    };
    for (const std::string server : kServers)
    for (const auto& c : cases) {
        TTempDir home;
        WriteFile(home / "printserver.inf", c.settings);
        WriteFile(home / "spoolerLog.txt", "an earlier line\r\n");  // the operator's history is added to
        const std::string homeDir = home.Path().substr(0, home.Path().size() - 1);
        const TProgramRun run = RunProgram(server, {}, {"PRINTORB_HOME=" + homeDir, "QT_QPA_PLATFORM=offscreen",
                                                        "CUPS_SERVER=127.0.0.1:1"});
        EXPECT_EQ(run.Status, server == "printorbd" ? 78 : 1) << server;
        const std::string says = QString::fromStdString(c.says).replace("@", QString::fromStdString(homeDir)).toStdString();
        EXPECT_NE(run.Err.find(says), std::string::npos) << run.Err;
        EXPECT_NE(ReadFile(home / "spoolerLog.txt").find(says), std::string::npos);
    }
}

TEST(ServerProcess, HelpAndVersionPrintWithoutStarting)
{
    for (const std::string server : kServers) {
        TTempDir home;  // no settings: a start would fail
        const std::vector<std::string> env = {"PRINTORB_HOME=" + home.Path(), "QT_QPA_PLATFORM=offscreen"};
        const TProgramRun help = RunProgram(server, {"--help"}, env);
        EXPECT_EQ(help.Status, 0);
        EXPECT_EQ(help.Out.rfind("usage: " + server + " [--help | --version]\n", 0), 0u) << help.Out;
        const TProgramRun version = RunProgram(server, {"--version"}, env);
        EXPECT_EQ(version.Status, 0);
        EXPECT_EQ(version.Out, server + " " PACKAGE_VERSION "\n");
        const TProgramRun wrong = RunProgram(server, {"--start"}, env);
        EXPECT_EQ(wrong.Status, 2);
        EXPECT_EQ(wrong.Err.rfind(server + ": unknown argument '--start'\n", 0), 0u) << wrong.Err;
        EXPECT_FALSE(FileExists(home / "spoolerLog.txt")) << "nothing started";
    }

    const TProgramRun toolHelp = RunProgram("printorb-tool", {"--help"});
    EXPECT_EQ(toolHelp.Status, 0);
    EXPECT_NE(toolHelp.Out.find("\n  tags     list the tags of a template"), std::string::npos) << toolHelp.Out;
    EXPECT_EQ(toolHelp.Err, "");
    EXPECT_EQ(RunProgram("printorb-tool", {"--version"}).Out, "printorb-tool " PACKAGE_VERSION "\n");
    const TProgramRun unknown = RunProgram("printorb-tool", {"prnt"});
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_EQ(unknown.Err.rfind("printorb-tool: unknown command 'prnt'\nusage: printorb-tool COMMAND", 0), 0u)
        << unknown.Err;
    const TProgramRun lpdHelp = RunProgram("printorb-tool", {"lpd", "--help"});
    EXPECT_EQ(lpdHelp.Status, 0);
    EXPECT_EQ(lpdHelp.Out.rfind("usage: printorb-tool lpd HOST[:PORT] FILE", 0), 0u) << lpdHelp.Out;
    const TProgramRun badOption = RunProgram("printorb-tool", {"macros", "X", "--hmoe", "/tmp"});
    EXPECT_EQ(badOption.Status, 2);
    EXPECT_EQ(badOption.Err.rfind("printorb-tool macros: unknown option --hmoe\n", 0), 0u) << badOption.Err;
}

TEST(ServerProcess, TerminationStopsTheServerCleanly)
{
    for (const std::string server : kServers)
    for (const auto signal : {"TERM", "INT"}) {
        TTempDir home;
        for (const char* sub : {"spool", "results", "templates"})
            QDir().mkpath(QString::fromStdString(home / sub));
        WriteFile(home / "printserver.inf", "RESULTS=" + (home / "results") + "\r\nSPOOLER=" + (home / "spool") +
                                                "\r\nTEMPLATES=" + (home / "templates") +
                                                "\r\nDEFLETTERHEAD=LH\r\nSETTLESECONDS=0\r\nPRINTER1=Laser A\r\n");
        QProcess process;
        process.setProcessEnvironment(HeadlessEnvironment(home.Path()));
        process.start(QString::fromStdString(Program(server)), {});
        ASSERT_TRUE(process.waitForStarted(5000));
        // Running: it stays up until told to stop.
        EXPECT_FALSE(process.waitForFinished(1500)) << signal;
        QProcess::execute("kill", {QString("-%1").arg(signal), QString::number(process.processId())});
        ASSERT_TRUE(process.waitForFinished(5000)) << signal;
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(process.exitCode(), 0) << server << " " << signal;
        EXPECT_TRUE(DirExists(home / "lpdspooler")) << signal;
        const std::string log = ReadFile(home / "spoolerLog.txt");
        EXPECT_NE(log.find("started in " + home.Path()), std::string::npos) << log;
        EXPECT_NE(log.find(">Print server closed.\r\n"), std::string::npos) << log;
    }
}

TEST(ServerProcess, TheUnattendedServerLoadsNoWidgets)
{
    const TProgramRun ldd = RunProgram("/usr/bin/ldd", {Program("printorbd")});
    ASSERT_EQ(ldd.Status, 0) << ldd.Err;
    EXPECT_NE(ldd.Out.find("libQt6Gui"), std::string::npos) << ldd.Out;
    EXPECT_EQ(ldd.Out.find("libQt6Widgets"), std::string::npos) << ldd.Out;
    // The window's program does load them: the check can tell.
    EXPECT_NE(RunProgram("/usr/bin/ldd", {Program("printorb")}).Out.find("libQt6Widgets"), std::string::npos);
}
