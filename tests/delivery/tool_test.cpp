// printorb-tool lpd, ftp and overlay, as IT staff test a printer route.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

TProgramRun Tool(const std::vector<std::string>& args)
{
    return RunProgram("printorb-tool", args);
}

}  // namespace

TEST(ToolRoutes, LpdToAPrinterAndToAServerThatRefuses)
{
    TTempDir dir;
    TPeerProcess printer("lpd-peer.py", {"ok", dir / "ok"});
    TPeerProcess refusing("lpd-peer.py", {"refuse-data", dir / "refuse"});
    WriteFile(dir / "page.prn", "PCL page");
    const TProgramRun ok = Tool({"lpd", "127.0.0.1:" + std::to_string(printer.Port()), dir / "page.prn"});
    EXPECT_EQ(ok.Status, 0);
    EXPECT_EQ(ok.Out, "0 +OK\n");
    ASSERT_TRUE(WaitFor([&] { return FileExists(dir / "ok/conn-1.bin"); }));
    EXPECT_NE(ReadFile(dir / "ok/conn-1.bin").find("Hprintorb.tovaorb.local\nPprintorb\nfdfA001"), std::string::npos);

    const TProgramRun refused = Tool({"lpd", "localhost:" + std::to_string(refusing.Port()), dir / "page.prn", "--queue", "Q1"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Out, "-105 \\x01\n");
    EXPECT_EQ(refused.Err, "printorb-tool: localhost:" + std::to_string(refusing.Port()) +
                               ": the printer refused the data file command (answer 0x01)\n");

    // Wrong ports are wrong command lines; an unreachable printer says where and why.
    for (const std::string& bad : {std::string("abc"), std::string("99999"), std::string("0"), std::string("")}) {
        const TProgramRun run = Tool({"lpd", "127.0.0.1:" + bad, dir / "page.prn"});
        EXPECT_EQ(run.Status, 2) << bad;
        EXPECT_NE(run.Err.find("must be a port from 1 to 65535, not '" + bad + "'"), std::string::npos) << run.Err;
    }
    const int closedPort = ClosedPort();
    const TProgramRun off = Tool({"lpd", "127.0.0.1:" + std::to_string(closedPort), dir / "page.prn"});
    EXPECT_EQ(off.Status, 1);
    EXPECT_EQ(off.Out, "-3 -3 Could not connect to Printer.\n");
    EXPECT_EQ(off.Err, "printorb-tool: 127.0.0.1:" + std::to_string(closedPort) +
                           ": Socket Error #10061: Connection refused.\n");
    const TProgramRun unknown = Tool({"lpd", "no-such-printer.invalid", dir / "page.prn"});
    EXPECT_EQ(unknown.Status, 1);
    EXPECT_NE(unknown.Err.find("no-such-printer.invalid:515: Socket Error #11001"), std::string::npos) << unknown.Err;
    EXPECT_EQ(Tool({"lpd", "127.0.0.1", dir / "page.prn", "--timeout", "soon"}).Status, 2);

    // A printer that never reads: the transfer gives up after --timeout.
    TPeerProcess deaf("lpd-peer.py", {"no-read", dir / "deaf"});
    WriteFile(dir / "big.prn", std::string(48 << 20, 'b'));
    const TProgramRun stuck =
        Tool({"lpd", "127.0.0.1:" + std::to_string(deaf.Port()), dir / "big.prn", "--timeout", "1"});
    EXPECT_EQ(stuck.Status, 1);
    EXPECT_EQ(stuck.Out, "-6 -6 Data file failed to send\n");
    EXPECT_NE(stuck.Err.find("127.0.0.1:" + std::to_string(deaf.Port()) + ": no progress for 1 s"), std::string::npos)
        << stuck.Err;
}

TEST(ToolRoutes, FtpFailoverAndOverlays)
{
    TTempDir dir;
    TPeerProcess raw("raw-listener.py", {"keep", dir / "raw"});
    WriteFile(dir / "page.prn", "PCL\x1b*p6815Y!");
    const TProgramRun sent = Tool({"ftp", "127.0.0.1", dir / "page.prn", "--raw-port", std::to_string(raw.Port()),
                            "--ftp-port", "1"});
    EXPECT_EQ(sent.Status, 0);
    EXPECT_EQ(sent.Out, "0 \n");
    const TProgramRun missing = Tool({"ftp", "127.0.0.1", dir / "none.prn"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Out, "");
    EXPECT_EQ(missing.Err, "printorb-tool: cannot read " + (dir / "none.prn") + ": no such file\n");
    // Both routes refused: each says where and why.
    const TProgramRun refused = Tool({"ftp", "127.0.0.1", dir / "page.prn", "--raw-port", "1", "--ftp-port", "2"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Out, "-6 No error description available\n");
    EXPECT_EQ(refused.Err, "printorb-tool: raw 127.0.0.1:1: Socket Error #10061: Connection refused.; FTP "
                           "127.0.0.1:2: Couldn't connect to server\n");
    EXPECT_EQ(Tool({"ftp", "127.0.0.1", dir / "page.prn", "--raw-port", "x"}).Status, 2);

    EXPECT_EQ(Tool({"overlay", dir / "page.prn", dir / "out.prn", "--macro", "12"}).Out, "OK\n");
    EXPECT_EQ(ReadFile(dir / "out.prn"), "PCL\x1b&f12Y\x1b&f3X\x1b*p6815Y!");
    // What the overlay cannot do fails, and leaves no output behind.
    WriteFile(dir / "plain.prn", "PCL without a mark");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"overlay", dir / "none.prn", dir / "x.prn", "--merge", dir / "page.prn"},
         "printorb-tool: cannot read " + (dir / "none.prn") + ": no such file\n"},
        {{"overlay", dir / "plain.prn", dir / "x.prn", "--macro", "3"},
         "printorb-tool: " + (dir / "plain.prn") +
             " has no insertion mark (ESC*p6815Y): a macro call would not be placed\n"},
        {{"overlay", dir / "page.prn", dir / "missing/x.prn", "--macro", "3"},
         "printorb-tool: the folder of " + (dir / "missing/x.prn") + " does not exist\n"},
    };
    for (const auto& c : cases) {
        const TProgramRun run = Tool(c.args);
        EXPECT_EQ(run.Status, 1) << c.err;
        EXPECT_EQ(run.Err, c.err);
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_FALSE(FileExists(dir / "x.prn"));
    EXPECT_FALSE(QDir(QString::fromStdString(dir / "missing")).exists()) << "no folder is made";
    EXPECT_EQ(Tool({"overlay", dir / "page.prn", dir / "x.prn"}).Status, 2);
    for (const std::string& number : {std::string("abc"), std::string("32768"), std::string("-1")}) {
        const TProgramRun run = Tool({"overlay", dir / "page.prn", dir / "x.prn", "--macro", number});
        EXPECT_EQ(run.Status, 2) << number;
        EXPECT_EQ(run.Err.rfind("printorb-tool overlay: --macro wants a macro number from 0 to 32767, not '" + number +
                                    "'\n",
                                0),
                  0u)
            << run.Err;
    }
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

    const TProgramRun list = Tool({"macros", "lexmark t640", "--home", dir.Path()});
    EXPECT_EQ(list.Status, 0);
    EXPECT_EQ(list.Out, "1\tLETTERHEAD\n12\tPATHOLOGY FORM\n");
    const TProgramRun missing = Tool({"macros", "Other Printer", "--home", dir.Path()});
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
    const TProgramRun run = Tool({"pclview", dir / "page.prn", dir / "page.png"});
    EXPECT_EQ(run.Status, 0);
    QImage image(QString::fromStdString(dir / "page.png"));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(qGray(image.pixel(5, 2)), 0);
    EXPECT_EQ(qGray(image.pixel(20, 2)), 255);
    EXPECT_EQ(qGray(image.pixel(5, 3)), 255);
    WriteFile(dir / "text.prn", "\x1b" "E plain text\x0c");
    EXPECT_EQ(Tool({"pclview", dir / "text.prn", dir / "t.png"}).Status, 1);
}
