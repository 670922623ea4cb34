// printorb-tool lpd, ftp and overlay, as IT staff test a printer route.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QImage>
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

TEST(ToolRoutes, MacrosShowsWhatTheOverlayLookupFinds)
{
    TTempDir dir;
    // As an administrator brings it from an old Windows server: a Unicode export.
    std::string exported = "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Lexmark T640\\"
                           "PrinterDriverData]\r\n\"MANUFACTURER\"=\"Lexmark International\"\r\n\"Macro\"=hex:";
    std::string records;
    for (const auto& [number, name] : {std::pair<int, std::string> {1, "LETTERHEAD"}, {12, "PATHOLOGY FORM"}}) {
        std::string r(40, '\0');
        r[0] = 40;
        r[6] = static_cast<char>(number);
        r.replace(13, name.size(), name);
        records += r;
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(records[i]));
        exported += hex;
        exported += i + 1 < records.size() ? "," : "\r\n";
    }
    std::string utf16 = "\xFF\xFE";
    for (char c : exported + "\r\n")
        utf16 += std::string {c, '\0'};
    WriteFile(dir / "printerdriverdata.reg", utf16);

    const TRun list = Tool({"macros", "lexmark t640", "--home", Q(dir.Path())});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, "1\tLETTERHEAD\r\n12\tPATHOLOGY FORM\r\n");
    const TRun missing = Tool({"macros", "Other Printer", "--home", Q(dir.Path())});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Out, "ERROR: Key failed to open: SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\"
                           "Other Printer\\PrinterDriverData\n");
    EXPECT_EQ(Tool({"macros"}).Status, 2);
}

TEST(ToolRoutes, PclViewDrawsPageFiles)
{
    TTempDir dir;
    // One raster page: a black bar 16 dots wide on row 2 (mode 0).
    WriteFile(dir / "page.prn", std::string("\x1b" "E\x1b&l26A\x1b*t300R\x1b*p0x0Y\x1b*p6815Y\x1b*p0x2Y\x1b*r32S\x1b*r1A"
                                            "\x1b*b0M\x1b*b2W\xff\xff\x1b*rC\x0c\x1b" "E"));
    const TRun run = Tool({"pclview", Q(dir / "page.prn"), Q(dir / "page.png")});
    EXPECT_EQ(run.Status, 0);
    QImage image(QString::fromStdString(dir / "page.png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(qGray(image.pixel(5, 2)), 0);
    EXPECT_EQ(qGray(image.pixel(20, 2)), 255);
    EXPECT_EQ(qGray(image.pixel(5, 3)), 255);
    WriteFile(dir / "text.prn", "\x1b" "E plain text\x0c");
    EXPECT_EQ(Tool({"pclview", Q(dir / "text.prn"), Q(dir / "t.png")}).Status, 1);
}
