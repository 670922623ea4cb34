// printorb-tool lpd, ftp and overlay, as IT staff test a printer route.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct TRun {
    int Status = -1;
    std::string Out;
};

TRun Tool(const QStringList& args)
{
    QProcess tool;
    tool.start(QString::fromStdString(BinaryDir() + "/bin/printorb-tool"), args);
    TRun run;
    if (tool.waitForFinished(60000)) {
        run.Status = tool.exitCode();
        run.Out = tool.readAllStandardOutput().toStdString();
    }
    return run;
}

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

TEST(ToolRoutes, LpdToAPrinterAndToAServerThatRefuses)
{
    TTempDir dir;
    TPeerProcess printer("lpd-peer.py", {"ok", dir / "ok"});
    TPeerProcess refusing("lpd-peer.py", {"refuse-data", dir / "refuse"});
    WriteFile(dir / "page.prn", "PCL page");
    const TRun ok = Tool({"lpd", Q("127.0.0.1:" + std::to_string(printer.Port())), Q(dir / "page.prn")});
    EXPECT_EQ(ok.Status, 0);
    EXPECT_EQ(ok.Out, "0 +OK\n");
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir / "ok/conn-1.bin"); }));
    EXPECT_NE(ReadFile(dir / "ok/conn-1.bin").find("Hprintorb.tovaorb.local\nPprintorb\nfdfA001"), std::string::npos);

    const TRun refused = Tool({"lpd", Q("localhost:" + std::to_string(refusing.Port())), Q(dir / "page.prn"), "--queue", "Q1"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Out, "-105 \\x01\n");
}

TEST(ToolRoutes, FtpFailoverAndOverlays)
{
    TTempDir dir;
    TPeerProcess raw("raw-listener.py", {"keep", dir / "raw"});
    WriteFile(dir / "page.prn", "PCL\x1b*p6815Y!");
    const TRun sent = Tool({"ftp", "127.0.0.1", Q(dir / "page.prn"), "--raw-port", Q(std::to_string(raw.Port())),
                            "--ftp-port", "1"});
    EXPECT_EQ(sent.Status, 0);
    EXPECT_EQ(sent.Out, "0 \n");
    const TRun missing = Tool({"ftp", "127.0.0.1", Q(dir / "none.prn")});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Out, "-1 -1 Data file does not exist.\n");

    EXPECT_EQ(Tool({"overlay", Q(dir / "page.prn"), Q(dir / "out.prn"), "--macro", "12"}).Out, "OK\n");
    EXPECT_EQ(ReadFile(dir / "out.prn"), "PCL\x1b&f12Y\x1b&f3X\x1b*p6815Y!");
    const TRun bad = Tool({"overlay", Q(dir / "none.prn"), Q(dir / "x.prn"), "--merge", Q(dir / "page.prn")});
    EXPECT_EQ(bad.Status, 1);
    EXPECT_EQ(bad.Out, "ERROR: Cant open file " + (dir / "none.prn") + "\n");
    EXPECT_EQ(Tool({"overlay", Q(dir / "page.prn"), Q(dir / "x.prn")}).Status, 2);
}
