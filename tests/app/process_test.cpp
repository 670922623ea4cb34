// The server as a process: exit codes, standard error, signals.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QElapsedTimer>
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

std::string Program()
{
    return BinaryDir() + "/bin/printorb";
}

}  // namespace

TEST(ServerProcess, MissingSetupFileExitsWithStatusOneAndSaysWhy)
{
    TTempDir home;
    QProcess process;
    process.setProcessEnvironment(HeadlessEnvironment(home.Path()));
    QElapsedTimer timer;
    timer.start();
    process.start(QString::fromStdString(Program()), {});
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_NE(err.find("Warning. Setup file is missing."), std::string::npos) << err;
    EXPECT_NE(err.find("A critical value was not set.  Tovaspooler will close."), std::string::npos) << err;
    const std::string log = ReadFile(home / "spoolerLog.txt");
    EXPECT_NE(log.find(">Warning. Setup file is missing.\r\n"), std::string::npos);
    EXPECT_NE(log.find(">A critical value was not set.  Tovaspooler will close.\r\n"), std::string::npos);
}

TEST(ServerProcess, TerminationClosesTheWindowCleanly)
{
    for (const auto signal : {"TERM", "INT"}) {
        TTempDir home;
        for (const char* sub : {"spool", "results", "templates"})
            QDir().mkpath(QString::fromStdString(home / sub));
        WriteFile(home / "printserver.inf", "RESULTS=" + (home / "results") + "\r\nSPOOLER=" + (home / "spool") +
                                                "\r\nTEMPLATES=" + (home / "templates") +
                                                "\r\nDEFLETTERHEAD=LH\r\nPRINTER1=Laser A\r\n");
        QProcess process;
        process.setProcessEnvironment(HeadlessEnvironment(home.Path()));
        process.start(QString::fromStdString(Program()), {});
        ASSERT_TRUE(process.waitForStarted(5000));
        // Running: it stays up until told to stop.
        EXPECT_FALSE(process.waitForFinished(1500)) << signal;
        QProcess::execute("kill", {QString("-%1").arg(signal), QString::number(process.processId())});
        ASSERT_TRUE(process.waitForFinished(5000)) << signal;
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(process.exitCode(), 0) << signal;
        EXPECT_TRUE(DirExists(home / "lpdspooler")) << signal;
        const std::string log = ReadFile(home / "spoolerLog.txt");
        EXPECT_NE(log.find("started in " + home.Path()), std::string::npos) << log;
        EXPECT_NE(log.find(">Print server closed.\r\n"), std::string::npos) << log;
    }
}
