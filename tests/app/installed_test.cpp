// The server and the tool as an administrator meets them on an installed
// system: the tool finds the home without being told, the commands the
// server names work as written, a request the tool puts back belongs to the
// server, and status says what is wrong on its first line. The package's
// home is a test folder: PRINTORB_PKG_ROOT stands for /.
#include "app/daemonhome.h"
#include "util/fileutil.h"

#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string kRequest = TDaemonHome::kRequest;

// The words of "printorb-tool ... sends it again." in the log, run as a
// shell would run them.
TProgramRun RunHint(const std::string& log, const std::vector<std::string>& env)
{
    const auto end = log.find(" sends it again.");
    const auto start = log.rfind("printorb-tool ", end);
    if (end == std::string::npos || start == std::string::npos)
        return {};
    const std::string words = log.substr(start + std::string("printorb-tool ").size(), end - start - 14);
    return RunProgram("/bin/sh", {"-c", "exec \"$TOOL\" " + words}, env);
}

struct TOwner {
    unsigned Uid = 0;
    unsigned Gid = 0;
    unsigned Mode = 0;
};

TOwner OwnerOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {~0u, ~0u, 0};
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

}  // namespace

TEST(InstalledHome, TheToolFindsItsHomeInTheDocumentedOrder)
{
    // Four homes, each named by what the tool says of it: the package's,
    // one in PRINTORB_HOME, one beside a copy of the tool, one by --home.
    TTempDir root, env, beside, given, bare;
    const std::string package = root / "var/lib/printorb";  // as the tool names it
    ASSERT_TRUE(ForceDir(package));
    for (const std::string& home : {package, env.Path(), beside.Path(), given.Path()})
        WriteFile(home + "/printserver.inf", "SPOOLER=" + home + "/spool/\r\n");
    for (const std::string& folder : {beside.Path(), bare.Path()})
        ASSERT_TRUE(QFile::copy(QString::fromStdString(BinaryDir() + "/bin/printorb-tool"),
                                QString::fromStdString(folder + "/printorb-tool")));
    const std::string pkgRoot = "PRINTORB_PKG_ROOT=" + root.Path();
    struct TCase {
        const char* What;
        std::string Tool;
        std::vector<std::string> Args;
        std::vector<std::string> Env;
        std::string Home;
    };
    const TCase cases[] = {
        {"installed tool, nothing said", "printorb-tool", {}, {pkgRoot}, package},
        {"a tool beside no settings", bare / "printorb-tool", {}, {pkgRoot}, package},
        {"a tool beside its settings", beside / "printorb-tool", {}, {pkgRoot}, beside.Path()},
        {"PRINTORB_HOME first", beside / "printorb-tool", {}, {pkgRoot, "PRINTORB_HOME=" + env.Path()}, env.Path()},
        {"--home before all", beside / "printorb-tool", {"--home", given.Path()},
         {pkgRoot, "PRINTORB_HOME=" + env.Path()}, given.Path()},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args = {"status"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const TProgramRun status = RunProgram(c.Tool, args, c.Env);
        const std::string home = IncludeTrailingSlash(c.Home);
        EXPECT_EQ(status.Status, 1) << c.What;
        // No server ever ran in these homes: the first line names the home read.
        EXPECT_EQ(status.Out.rfind("not ok: " + home + "journal.db does not exist (the server has not run in " + home +
                                       ")\n",
                                   0),
                  0u)
            << c.What << ": " << status.Out << status.Err;
    }
}

TEST(InstalledHome, TheCommandTheServerNamesWorksAsWrittenAndTheResubmittedJobClearsTheStatus)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TTempDir root;
    const std::string package = root / "var/lib/printorb";
    ASSERT_TRUE(ForceDir(root / "var/lib"));
    // The service's home at the package's path, and a home anywhere else.
    for (const bool atPackagePath : {true, false}) {
        SCOPED_TRACE(atPackagePath ? "the package's home" : "a home elsewhere");
        TDaemonHome home("JOBRETRIES=1\r\n");
        const std::string homePath = atPackagePath ? package : home.Dir.Path();
        if (atPackagePath)
            fs::create_directory_symlink(home.Dir.Path(), package);
        const std::vector<std::string> env = {"PRINTORB_PKG_ROOT=" + root.Path(),
                                              "TOOL=" + BinaryDir() + "/bin/printorb-tool"};
        const std::string pdf = home.Dir / "out/R1.pdf";
        home.Drop("r1.tvq", kRequest + "^HV_PDFDOC~" + pdf);
        ASSERT_TRUE(home.Start({"PRINTORB_HOME=" + homePath, "PRINTORB_PKG_ROOT=" + root.Path()}));
        ASSERT_TRUE(home.WaitForLog(" sends it again.")) << home.LogText();
        const std::string log = home.LogText();
        EXPECT_EQ(log.find("--home") == std::string::npos, atPackagePath) << log;

        // As the administrator types it, with no home in the environment.
        ASSERT_TRUE(ForceDir(home.Dir / "out"));
        const TProgramRun resubmitted = RunHint(log, env);
        EXPECT_EQ(resubmitted.Status, 0) << resubmitted.Out << resubmitted.Err;
        ASSERT_TRUE(home.WaitForLog("PDF Document created as \"" + pdf + "\"")) << home.LogText();
        ASSERT_TRUE(WaitFor([&] { return !home.InSpool("r1.tvq"); }, 10000));

        // The failure was mended: the monitor is content again.
        const std::vector<std::string> args =
            atPackagePath ? std::vector<std::string> {"status"} : std::vector<std::string> {"status", "--home", homePath};
        const TProgramRun status = RunProgram("printorb-tool", args, env);
        EXPECT_EQ(status.Status, 0) << status.Out;
        EXPECT_EQ(status.Out.rfind("ok: ", 0), 0u) << status.Out;
        home.Stop();
        if (atPackagePath)
            fs::remove(package);
    }
}

TEST(InstalledHome, ARequestPutBackByRootBelongsToTheServerAndAnUnopenableOneIsReported)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "runs the server as the user daemon, which only root can do";
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home("JOBRETRIES=1\r\n");
    const std::string pdf = home.Dir / "out/R1.pdf";
    home.Drop("r1.tvq", kRequest + "^HV_PDFDOC~" + pdf);
    // The service's own user owns its home, 0750, as the package makes it.
    for (const auto& entry : fs::recursive_directory_iterator(home.Dir.Path()))
        ASSERT_EQ(::chown(entry.path().c_str(), 1, 1), 0);
    ASSERT_EQ(::chown(home.Dir.Path().c_str(), 1, 1), 0);
    ASSERT_EQ(::chmod((home.Dir / "spool").c_str(), 0750), 0);
    home.RunAs = {"/usr/bin/setpriv", "--reuid=1", "--regid=1", "--clear-groups", "--"};
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Spooler file r1.tvq failed after 1 attempt(s)")) << home.LogText();

    // root puts it back: the file is the server's, and it prints.
    ASSERT_TRUE(ForceDir(home.Dir / "out"));
    ASSERT_EQ(::chown((home.Dir / "out").c_str(), 1, 1), 0);
    // Not through a link the service's user left in its place.
    fs::create_symlink(home.Dir / "elsewhere.tvq", home.Dir / "spool/r1.tvq");
    const TProgramRun linked = home.Tool({"resubmit", "1"});
    EXPECT_EQ(linked.Status, 1) << linked.Out;
    EXPECT_NE(linked.Err.find("symbolic link"), std::string::npos) << linked.Err;
    EXPECT_FALSE(fs::exists(home.Dir / "elsewhere.tvq"));
    EXPECT_TRUE(FileExists(home.Dir / "spool/failed/r1.tvq")) << "the kept request stays";
    fs::remove(home.Dir / "spool/r1.tvq");

    const TProgramRun resubmitted = home.Tool({"resubmit", "1"});
    ASSERT_EQ(resubmitted.Status, 0) << resubmitted.Err;
    const TOwner given = OwnerOf(home.Dir / "spool/r1.tvq");
    if (given.Mode != 0) {  // not yet taken
        EXPECT_EQ(given.Uid, 1u);
        EXPECT_EQ(given.Gid, 1u);
        EXPECT_EQ(given.Mode, 0640u);
    }
    ASSERT_TRUE(home.WaitForLog("PDF Document created as \"" + pdf + "\"")) << home.LogText();

    // A file the server cannot open says why, once, in the log and in status.
    home.Drop("x.tvq", kRequest);
    ASSERT_EQ(::chmod((home.Dir / "spool/x.tvq").c_str(), 0600), 0);
    const std::string why = "Spooler file x.tvq: it cannot be opened for reading and writing: Permission denied "
                            "(the file is root:root 0600, the server runs as daemon:daemon)";
    ASSERT_TRUE(home.WaitForLog(why)) << home.LogText();
    WaitFor([] { return false; }, 11000);  // two more ticks
    EXPECT_EQ(home.LogCount(why), 1) << home.LogText();
    EXPECT_EQ(home.LogCount("Spooler file x.tvq is locked by another process"), 0);
    const TProgramRun status = home.Tool({"status"});
    EXPECT_EQ(status.Status, 1);
    EXPECT_EQ(status.Out.rfind("not ok: the spool file x.tvq cannot be read: it cannot be opened for reading and "
                               "writing: Permission denied (the file is root:root 0600",
                               0),
              0u)
        << status.Out;
    home.Stop();

    // With the server stopped, a member of its group still reads the
    // journal; anyone else is told why not.
    ASSERT_EQ(::chmod(home.Dir.Path().c_str(), 0750), 0);
    ASSERT_EQ(::chmod((home.Dir / "journal.db").c_str(), 0640), 0);
    const std::string tool = BinaryDir() + "/bin/printorb-tool";
    const TProgramRun member = RunProgram(
        "/usr/bin/setpriv", {"--reuid=2", "--regid=2", "--groups=1", "--", tool, "jobs", "--home", home.Dir.Path()});
    EXPECT_EQ(member.Status, 0) << member.Err;
    EXPECT_NE(member.Out.find("r1.tvq"), std::string::npos) << member.Out;
    const TProgramRun stranger = RunProgram(
        "/usr/bin/setpriv", {"--reuid=2", "--regid=2", "--clear-groups", "--", tool, "jobs", "--home", home.Dir.Path()});
    EXPECT_EQ(stranger.Status, 1);
    EXPECT_NE(stranger.Err.find("journal.db: Permission denied"), std::string::npos) << stranger.Err;
    // One who may not enter the home is told whose it is, not to look elsewhere.
    ASSERT_EQ(::chmod(home.Dir.Path().c_str(), 0700), 0);
    const TProgramRun outsider = RunProgram(
        "/usr/bin/setpriv", {"--reuid=2", "--regid=2", "--clear-groups", "--", tool, "status", "--home", home.Dir.Path()});
    EXPECT_EQ(outsider.Status, 1);
    EXPECT_EQ(outsider.Out.rfind("not ok: no settings: ", 0), 0u) << outsider.Out;
    EXPECT_NE(outsider.Out.find(" 0700; run printorb-tool as root, as its owner or as a member of its group)"),
              std::string::npos)
        << outsider.Out;
}

TEST(InstalledHome, StatusPutsItsVerdictFirstInEveryCase)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    // No settings at all: still a verdict on standard output.
    TTempDir empty;
    const TProgramRun none = RunProgram("printorb-tool", {"status", "--home", empty.Path()});
    EXPECT_EQ(none.Status, 1);
    EXPECT_EQ(none.Out.rfind("not ok: no settings: " + (empty / "printserver.inf"), 0), 0u) << none.Out << none.Err;

    TDaemonHome home;
    home.Drop("r1.tvq", kRequest);
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Printed R1 P1: 1 page(s) on Laser-A")) << home.LogText();
    home.Stop();
    const TProgramRun healthy = home.Tool({"status"});
    ASSERT_EQ(healthy.Status, 0) << healthy.Out;

    struct TCase {
        const char* What;
        std::vector<std::string> Args;
        std::vector<std::string> Env;
        std::string Says;
    };
    WriteFile(home.Dir / "lpdspooler/_late.prn", "\x1b" "E");
    const TCase cases[] = {
        {"the print system does not answer", {}, {"CUPS_SERVER=127.0.0.1:9"},
         "not ok: the print system at 127.0.0.1:9 does not answer"},
        {"a printer file waits too long", {"--late-after", "0"}, {},
         "not ok: the printer file _late.prn has waited 0 s in the LPR queue " + (home.Dir / "lpdspooler/")},
        {"within the limit", {}, {}, "ok: "},
    };
    for (const TCase& c : cases) {
        const TProgramRun status = RunProgram("printorb-tool", [&] {
            std::vector<std::string> args = {"status", "--home", home.Dir.Path()};
            args.insert(args.end(), c.Args.begin(), c.Args.end());
            return args;
        }(), c.Env);
        EXPECT_EQ(status.Status, c.Says.starts_with("ok") ? 0 : 1) << c.What << ": " << status.Out;
        EXPECT_EQ(status.Out.rfind(c.Says, 0), 0u) << c.What << ": " << status.Out;
    }
    // A spool file too: reported after the printer file, as another line.
    home.Drop("late.tvq", kRequest);
    const TProgramRun both = home.Tool({"status", "--late-after", "0"});
    EXPECT_NE(both.Out.find("\nalso: the spool file late.tvq has waited 0 s in " + (home.Dir / "spool/")),
              std::string::npos)
        << both.Out;
}

TEST(InstalledHome, JobsHaveAHeaderAndAlignedColumnsAndStoriesSayWhatWasMade)
{
    TCupsPeer cups;
    ASSERT_TRUE(cups.Started() && cups.AddQueue("Laser-A") && cups.SetDefault("Laser-A"));
    TDaemonHome home("JOBRETRIES=1\r\n");
    const std::string pdf = home.Dir / "results/R2.pdf";
    home.Drop("r1.tvq", kRequest);
    home.Drop("r2.tvq", std::string(kRequest) + "^HV_PDFDOC~" + pdf);
    home.Drop("r3.tvq", std::string(kRequest) + "^HV_PDFDOC~" + (home.Dir / "missing/R3.pdf"));
    ASSERT_TRUE(home.Start());
    ASSERT_TRUE(home.WaitForLog("Spooler file r3.tvq failed")) << home.LogText();
    ASSERT_TRUE(WaitFor([&] { return !home.InSpool("r1.tvq") && !home.InSpool("r2.tvq"); }, 20000));
    home.Stop();

    const TProgramRun jobs = home.Tool({"jobs"});
    ASSERT_EQ(jobs.Status, 0) << jobs.Err;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < jobs.Out.size();) {
        const auto end = jobs.Out.find('\n', at);
        lines.push_back(jobs.Out.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 4u) << jobs.Out;
    EXPECT_EQ(lines[0].rfind("TAKEN", 0), 0u) << jobs.Out;
    // Every column starts where its heading starts.
    for (const char* heading : {"FILE", "STATE", "PRINTER", "OUTPUT"}) {
        const auto column = lines[0].find(heading);
        ASSERT_NE(column, std::string::npos) << heading;
        for (std::size_t i = 1; i < lines.size(); ++i)
            EXPECT_TRUE(column > 0 && lines[i][column - 1] == ' ' && lines[i][column] != ' ')
                << heading << " in line " << i << ":\n" << jobs.Out;
    }

    const std::map<std::string, std::string> says = {
        {"1", "  output: page 1 printed \"R1 P1 Page 1\" on Laser-A as CUPS job "},
        {"2", "  output: saved as " + pdf + "\n"},
        {"3", "  output: none\n"},
    };
    for (const auto& [id, output] : says) {
        const TProgramRun story = home.Tool({"job", id});
        EXPECT_NE(story.Out.find(output), std::string::npos) << "job " << id << ":\n" << story.Out;
        // A saved document went to no printer.
        if (id != "1") {
            EXPECT_EQ(story.Out.find("Laser-A"), std::string::npos) << story.Out;
        }
    }
}
