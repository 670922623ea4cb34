// printorb-tool never reports what did not happen: inputs it cannot read fail
// before anything goes out, a printer that stops reading is a time-out, and
// what a command cannot use is refused, each with the path and the reason.
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TProgramRun Tool(const std::vector<std::string>& args)
{
    return RunProgram("printorb-tool", args);
}

int FilesIn(const std::string& dir)
{
    return static_cast<int>(QDir(QString::fromStdString(dir)).entryList(QDir::Files).size());
}

std::string RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

}  // namespace

TEST(ToolTruth, InputsThatCannotBeReadFailBeforeAnythingGoesOut)
{
    TTempDir dir;
    TPeerProcess printer("lpd-peer.py", {"ok", dir / "lpd"});
    TPeerProcess raw("raw-listener.py", {"keep", dir / "raw"});
    const std::string lpd = "127.0.0.1:" + std::to_string(printer.Port());
    const std::string rawPort = std::to_string(raw.Port());
    const std::string ftpPort = std::to_string(ClosedPort());
    WriteFile(dir / "page.prn", "\x1b*p0x0Y page \x0c\x1b" "E");
    WriteFile(dir / "tags.txt", "3|PATSUR\r\n");
    ASSERT_TRUE(ForceDir(dir / "folder.prn"));

    const struct {
        std::string input;
        std::string reason;
    } inputs[] = {{dir / "none.prn", "no such file"}, {dir / "folder.prn", "is a directory"}};
    for (const auto& input : inputs) {
        const std::string& in = input.input;
        const std::vector<std::vector<std::string>> commands = {
            {"lpd", lpd, in},
            {"ftp", "127.0.0.1", in, "--raw-port", rawPort, "--ftp-port", ftpPort},
            {"overlay", in, dir / "out.prn", "--macro", "1"},
            {"overlay", dir / "page.prn", dir / "out.prn", "--merge", in},
            {"convert", in, dir / "out.pdf"},
            {"parse", in, "--tags", dir / "tags.txt"},
            {"pclview", in, dir / "out.png"},
        };
        for (const auto& args : commands) {
            SCOPED_TRACE(args[0] + " " + input.reason);
            const TProgramRun run = Tool(args);
            EXPECT_EQ(run.Status, 1);
            EXPECT_EQ(run.Out, "");
            EXPECT_EQ(run.Err, "printorb-tool: cannot read " + in + ": " + input.reason + "\n");
        }
    }
    EXPECT_FALSE(FileExists(dir / "out.prn"));
    EXPECT_FALSE(FileExists(dir / "out.pdf"));
    EXPECT_FALSE(FileExists(dir / "out.png"));

    // A file this user may not read, as a user who is not root: nothing is
    // sent, where before an empty transfer was reported delivered.
    WriteFile(dir / "secret.prn", "PCL for someone else");
    std::vector<std::string> command = {"ftp", "127.0.0.1", dir / "secret.prn", "--raw-port", rawPort,
                                        "--ftp-port", ftpPort};
    std::string program = "printorb-tool";
    if (::geteuid() == 0) {
        // The build folder may be closed to others: the tool runs from a copy.
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
        ASSERT_TRUE(QFile::copy(QString::fromStdString(BinaryDir() + "/bin/printorb-tool"),
                                QString::fromStdString(dir / "printorb-tool")));
        ASSERT_EQ(::chmod((dir / "printorb-tool").c_str(), 0755), 0);
        ASSERT_EQ(::chown((dir / "secret.prn").c_str(), 0, 0), 0);
        command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", dir / "printorb-tool"});
        program = "/usr/bin/setpriv";
    }
    // Root's own file for the other user; for a user, one closed to its owner.
    ASSERT_EQ(::chmod((dir / "secret.prn").c_str(), ::geteuid() == 0 ? 0600 : 0000), 0);
    const TProgramRun denied = RunProgram(program, command);
    EXPECT_EQ(denied.Status, 1);
    EXPECT_EQ(denied.Out, "");
    EXPECT_EQ(denied.Err, "printorb-tool: cannot read " + (dir / "secret.prn") + ": permission denied\n");

    // Neither printer was so much as connected to.
    EXPECT_EQ(FilesIn(dir / "lpd"), 0);
    EXPECT_EQ(FilesIn(dir / "raw"), 0);
}

TEST(ToolTruth, APrinterThatStopsReadingIsATimeOutNamingWhere)
{
    TTempDir dir;
    WriteFile(dir / "big.prn", RandomBytes(2200000, 1));

    // LPD: the printer took the commands and 64 KB, then kept the
    // connection open without reading.
    TPeerProcess lpd("lpd-peer.py", {"stall-data", dir / "lpd"});
    const TProgramRun stalled =
        Tool({"lpd", "127.0.0.1:" + std::to_string(lpd.Port()), dir / "big.prn", "--timeout", "2"});
    EXPECT_EQ(stalled.Status, 1);
    EXPECT_EQ(stalled.Out, "-6 -6 Data file failed to send\n");
    EXPECT_EQ(stalled.Err.rfind("printorb-tool: 127.0.0.1:" + std::to_string(lpd.Port()) + ": no progress for 2 s (", 0),
              0u)
        << stalled.Err;

    // Port 9100 the same, and FTP (nothing listens) after it.
    TPeerProcess raw("raw-listener.py", {"stall", dir / "raw"});
    const std::string ftpPort = std::to_string(ClosedPort());
    const TProgramRun rawStalled = Tool({"ftp", "127.0.0.1", dir / "big.prn", "--raw-port", std::to_string(raw.Port()),
                                         "--ftp-port", ftpPort, "--timeout", "2"});
    EXPECT_EQ(rawStalled.Status, 1);
    EXPECT_NE(rawStalled.Err.find("raw 127.0.0.1:" + std::to_string(raw.Port()) + ": no progress for 2 s ("),
              std::string::npos)
        << rawStalled.Err;
    EXPECT_NE(rawStalled.Err.find("FTP 127.0.0.1:" + ftpPort), std::string::npos) << rawStalled.Err;
}

TEST(ToolTruth, WhatACommandCannotUseIsRefusedAndNothingIsWritten)
{
    TTempDir dir;
    const std::string page = "\x1b" "E\x1b*p0x0Y<page>\x0c\x1b" "E";
    WriteFile(dir / "page.prn", page);
    WriteFile(dir / "garbage.prn", RandomBytes(2000, 2));
    WriteFile(dir / "form.prn", "\x1b" "E<head>\x1b*p0x0Y<form>\x0c\x1b" "E");
    WriteFile(dir / "nohome.prn", "\x1b" "E<no cursor home>\x0c\x1b" "E");
    WriteFile(dir / "noend.prn", "\x1b" "E\x1b*p0x0Y<no page end>");

    const struct {
        std::string overlay;
        std::string why;
    } overlays[] = {
        {dir / "garbage.prn", "it does not start with a PCL escape sequence"},
        {dir / "nohome.prn", "it has no cursor home (ESC*p0x0Y or ESC*p0Y)"},
        {dir / "noend.prn", "it has no page end (FF ESC E or FF ESC%-12345X) after its cursor home"},
    };
    for (const auto& o : overlays) {
        const TProgramRun run = Tool({"overlay", dir / "page.prn", dir / "out.prn", "--merge", o.overlay});
        EXPECT_EQ(run.Status, 1) << o.overlay;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err, "printorb-tool: " + o.overlay + " is not a PCL page that can be merged: " + o.why + "\n");
        EXPECT_FALSE(FileExists(dir / "out.prn"));
    }
    const TProgramRun merged = Tool({"overlay", dir / "page.prn", dir / "out.prn", "--merge", dir / "form.prn"});
    EXPECT_EQ(merged.Status, 0);
    EXPECT_EQ(merged.Out, "OK\n");
    EXPECT_NE(ReadFile(dir / "out.prn").find("<page>"), std::string::npos);
    EXPECT_NE(ReadFile(dir / "out.prn").find("<form>"), std::string::npos);

    // Random bytes are neither RTF nor text; text is a document.
    const TProgramRun binary = Tool({"convert", dir / "garbage.prn", dir / "out.pdf"});
    EXPECT_EQ(binary.Status, 1);
    EXPECT_NE(binary.Err.find(dir / "garbage.prn" + ": binary data ("), std::string::npos) << binary.Err;
    EXPECT_NE(binary.Err.find("neither RTF nor text"), std::string::npos);
    EXPECT_FALSE(FileExists(dir / "out.pdf"));
    WriteFile(dir / "note.txt", "Caf\xE9 results\r\n\tindented line\r\n");
    EXPECT_EQ(Tool({"convert", dir / "note.txt", dir / "out.pdf"}).Status, 0);
    EXPECT_TRUE(FileExists(dir / "out.pdf"));
}
