// The package's maintainer scripts, run for real (/bin/sh) against a root
// folder that stands for / (PRINTORB_PKG_ROOT). They are the only code that
// deletes a laboratory's files. The service manager and the user database
// cannot be used by a test: chown, getent, adduser, systemd-sysusers,
// systemctl, deb-systemd-helper and deb-systemd-invoke are stand-ins on a
// PATH of their own that record their calls; every other tool is the real one.
#include "support/testsupport.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// The real tools the scripts use.
const char* const kRealTools[] = {"sed", "grep", "cat", "chmod", "sha256sum", "mkdir",
                                  "find", "sort", "ls", "readlink", "rm", "rmdir"};

// Stand-ins: each records "name args" in $STUB_LOG. The user database is the
// file $STUB_USERS, which the user-making commands add to.
const char* const kRecorder = "#!/bin/sh\necho \"${0##*/} $*\" >>\"$STUB_LOG\"\n";
const char* const kMakesUser = "#!/bin/sh\necho \"${0##*/} $*\" >>\"$STUB_LOG\"\necho printorb >>\"$STUB_USERS\"\n";
const char* const kGetent =
    "#!/bin/sh\necho \"getent $*\" >>\"$STUB_LOG\"\n"
    "if [ \"$1\" = passwd ] && grep -qx \"$2\" \"$STUB_USERS\" 2>/dev/null; then\n"
    "    echo \"$2:x:999:999::/var/lib/printorb:/usr/sbin/nologin\"; exit 0\nfi\nexit 2\n";
// The unit was never installed or enabled before: the queries say no.
const char* const kSystemdHelper =
    "#!/bin/sh\necho \"deb-systemd-helper $*\" >>\"$STUB_LOG\"\n"
    "case \" $* \" in *\" debian-installed \"* | *\" was-enabled \"*) exit 1 ;; esac\nexit 0\n";

std::string Sha256(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

int Mode(const fs::path& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return static_cast<int>(st.st_mode & 07777);
}

// Everything under a folder, links not followed: type, mode and contents.
std::map<std::string, std::string> Tree(const fs::path& top)
{
    std::map<std::string, std::string> tree;
    if (!fs::exists(fs::symlink_status(top)))
        return tree;
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path& path = it->path();
        const std::string name = fs::relative(path, top).string();
        const std::string mode = " mode " + std::to_string(Mode(path));
        if (it->is_symlink())
            tree[name] = "link to " + fs::read_symlink(path).string();
        else if (it->is_directory())
            tree[name] = "folder" + mode;
        else
            tree[name] = "file" + mode + " " + Sha256(ReadFile(path.string()));
    }
    return tree;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

bool Exists(const fs::path& path)
{
    return fs::exists(fs::symlink_status(path));
}

// A root folder as the scripts see it, with the example home installed as
// the package installs it (the demo without its sources).
class TPackageRoot {
public:
    explicit TPackageRoot(bool withSysusers = true)
    {
        const fs::path example = Example();
        fs::create_directories(example);
        fs::copy(SourceDir() + "/demo", example, fs::copy_options::recursive);
        fs::remove_all(example / "sources");
        fs::create_directories(Tools());
        for (const char* tool : kRealTools) {
            const std::string found = RunProgram("/bin/sh", {"-c", std::string("command -v ") + tool}).Out;
            fs::create_symlink(found.substr(0, found.find('\n')), Tools() / tool);
        }
        Stub("chown", kRecorder);
        Stub("systemctl", kRecorder);
        Stub("deb-systemd-invoke", kRecorder);
        Stub("deb-systemd-helper", kSystemdHelper);
        Stub("getent", kGetent);
        Stub("adduser", kMakesUser);
        if (withSysusers)
            Stub("systemd-sysusers", kMakesUser);
    }

    fs::path Root() const { return FDir.Path() + "root"; }
    fs::path Home() const { return Root() / "var/lib/printorb"; }
    fs::path Example() const { return Root() / "usr/share/printorb/example-home"; }
    fs::path State() const { return Root() / "var/lib/printorb-package"; }
    fs::path Tools() const { return FDir.Path() + "tools"; }
    // A folder outside the root, for links that lead out of the home.
    fs::path Outside() const { return FDir.Path() + "outside"; }

    void SystemdRuns() const { fs::create_directories(Root() / "run/systemd/system"); }
    void RemoveTool(const char* name) const { fs::remove(Tools() / name); }

    // One of packaging/'s scripts with its arguments; the stand-ins' calls
    // of this run are in Calls.
    TProgramRun Run(const std::string& script, const std::vector<std::string>& args)
    {
        fs::remove(Log());
        std::vector<std::string> command {SourceDir() + "/packaging/" + script};
        command.insert(command.end(), args.begin(), args.end());
        TProgramRun run = RunProgram("/bin/sh", command,
                                     {"PATH=" + Tools().string(), "PRINTORB_PKG_ROOT=" + Root().string(),
                                      "STUB_LOG=" + Log(), "STUB_USERS=" + FDir.Path() + "users"});
        Calls = Lines(Exists(Log()) ? ReadFile(Log()) : std::string());
        return run;
    }

    // The stand-ins' calls that start with prefix.
    std::vector<std::string> CallsOf(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& call : Calls)
            if (call.rfind(prefix, 0) == 0)
                found.push_back(call);
        return found;
    }

    std::vector<std::string> Calls;

private:
    std::string Log() const { return FDir.Path() + "calls.log"; }
    void Stub(const char* name, const char* text) const
    {
        WriteFile((Tools() / name).string(), text);
        fs::permissions(Tools() / name, fs::perms::owner_all);
    }

    TTempDir FDir;
};

// The example's files and folders, relative to it.
std::set<std::string> ExampleEntries(const TPackageRoot& root, bool folders)
{
    std::set<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root.Example()))
        if (entry.is_directory() == folders)
            entries.insert(fs::relative(entry.path(), root.Example()).string());
    return entries;
}

// The lines of the note a purge leaves in a home it keeps, without its comments.
const char* const kNote = ".removed-by-purge";

std::set<std::string> NoteEntries(const TPackageRoot& root)
{
    std::set<std::string> entries;
    for (const std::string& line : Lines(ReadFile(root.Home() / kNote)))
        if (!line.empty() && line[0] != '#')
            entries.insert(line);
    return entries;
}

// The paths of the stand-in chown's calls, each after "chown printorb:printorb ".
std::set<std::string> Chowned(const TPackageRoot& root)
{
    std::set<std::string> paths;
    for (const std::string& call : root.CallsOf("chown "))
        paths.insert(call.substr(call.find(' ', 6) + 1));
    return paths;
}

std::string LastLine(const std::string& text)
{
    const std::vector<std::string> lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
}

void Install(TPackageRoot& root)
{
    const TProgramRun run = root.Run("postinst", {"configure"});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    ASSERT_TRUE(fs::is_directory(root.Home()));
}

}  // namespace

// First install: the home is the example with @HOME@ filled in, owned by
// printorb (folders 0750, files 0640), the working folders beside it, and
// every file and folder it made recorded, files with their checksums.
TEST(MaintainerScripts, FirstInstallMakesTheHomeFromTheExampleAndRecordsWhatItMade)
{
    TPackageRoot root;
    const TProgramRun run = root.Run("postinst", {"configure"});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("made the system user printorb"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("made " + root.Home().string() + " from the example home"), std::string::npos) << run.Out;
    EXPECT_EQ(root.CallsOf("systemd-sysusers"), std::vector<std::string> {"systemd-sysusers printorb.conf"});
    EXPECT_TRUE(root.CallsOf("adduser").empty());
    // Installed, not enabled and not started: the settings come first.
    EXPECT_TRUE(root.CallsOf("deb-systemd-invoke").empty());
    for (const std::string& call : root.CallsOf("deb-systemd-helper"))
        EXPECT_EQ(call.find(" enable "), std::string::npos) << call;

    std::set<std::string> chowned;
    for (const std::string& call : root.CallsOf("chown ")) {
        ASSERT_EQ(call.rfind("chown printorb:printorb " + root.Home().string(), 0), 0u) << call;
        chowned.insert(call.substr(std::string("chown printorb:printorb ").size()));
    }

    std::map<std::string, std::string> recordedFiles;
    for (const std::string& line : Lines(ReadFile(root.State() / "created-files"))) {
        const auto gap = line.find("  ");
        ASSERT_NE(gap, std::string::npos) << line;
        recordedFiles[line.substr(gap + 2)] = line.substr(0, gap);
    }
    const std::set<std::string> files = ExampleEntries(root, false);
    ASSERT_EQ(recordedFiles.size(), files.size());
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const fs::path made = root.Home() / file;
        std::string expected = ReadFile(root.Example() / file);
        for (std::size_t at; (at = expected.find("@HOME@")) != std::string::npos;)
            expected.replace(at, 6, root.Home().string());
        EXPECT_EQ(ReadFile(made), expected);
        EXPECT_EQ(Mode(made), 0640);
        EXPECT_EQ(recordedFiles[file], Sha256(expected));
        EXPECT_TRUE(chowned.count(made.string()));
    }
    EXPECT_NE(ReadFile(root.Home() / "printserver.inf").find(root.Home().string()), std::string::npos);

    std::set<std::string> folders = ExampleEntries(root, true);
    for (const char* own : {"spool", "spool/temp", "results", "overlays", "images", "templates"})
        folders.insert(own);
    const std::vector<std::string> recorded = Lines(ReadFile(root.State() / "created-dirs"));
    EXPECT_EQ(std::set<std::string>(recorded.begin(), recorded.end()).size(), recorded.size()) << "each once";
    std::set<std::string> expectedRecord = folders;
    expectedRecord.insert(".");
    EXPECT_EQ(std::set<std::string>(recorded.begin(), recorded.end()), expectedRecord);
    EXPECT_EQ(Mode(root.Home()), 0750);
    EXPECT_TRUE(chowned.count(root.Home().string()));
    for (const std::string& folder : folders) {
        EXPECT_TRUE(fs::is_directory(root.Home() / folder)) << folder;
        EXPECT_EQ(Mode(root.Home() / folder), 0750) << folder;
        EXPECT_TRUE(chowned.count((root.Home() / folder).string())) << folder;
    }
    EXPECT_EQ(chowned.size(), 1 + folders.size() + files.size());
}

// An empty home is the laboratory's folder: filled, but not recorded as
// made, so that a purge leaves the folder itself. A home with anything in
// it and no settings is only told where the example is.
TEST(MaintainerScripts, AnExistingHomeIsFilledOnlyWhenEmptyAndNeverRecordedAsMade)
{
    TPackageRoot empty;
    fs::create_directories(empty.Home());
    Install(empty);
    ASSERT_EQ(empty.Run("postinst", {"configure"}).Status, 0);
    EXPECT_TRUE(fs::exists(empty.Home() / "printserver.inf"));
    const std::vector<std::string> dirs = Lines(ReadFile(empty.State() / "created-dirs"));
    EXPECT_EQ(std::count(dirs.begin(), dirs.end(), "."), 0);
    EXPECT_TRUE(std::find(dirs.begin(), dirs.end(), "templates") != dirs.end());
    EXPECT_TRUE(empty.CallsOf("chown").empty()) << "the second configure changes no owner";
    ASSERT_EQ(empty.Run("postrm", {"purge"}).Status, 0);
    EXPECT_TRUE(fs::is_directory(empty.Home()));
    EXPECT_TRUE(fs::is_empty(empty.Home()));

    TPackageRoot used;
    fs::create_directories(used.Home() / "results");
    WriteFile(used.Home() / "results/old.pdf", "%PDF old");
    const auto before = Tree(used.Root() / "var/lib");
    const TProgramRun run = used.Run("postinst", {"configure"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_NE(run.Out.find("has no printserver.inf; the example is in " + used.Example().string()), std::string::npos)
        << run.Out;
    EXPECT_EQ(Tree(used.Root() / "var/lib"), before);
    EXPECT_TRUE(used.CallsOf("chown").empty());
}

// An upgrade (a second configure) leaves the home exactly as the
// laboratory keeps it: edited, deleted and added files, modes and owners.
TEST(MaintainerScripts, AnUpgradeChangesNothingInTheHome)
{
    TPackageRoot root;
    Install(root);
    WriteFile(root.Home() / "printserver.inf", "SPOOLER=/srv/lab/spool\r\nPRINTER1=Laser A\r\n");
    fs::remove(root.Home() / "templates/FBE.tpl");
    fs::remove(root.Home() / "requests/scan_images.tvq");
    fs::remove(root.Home() / "overlays");
    WriteFile(root.Home() / "templates/LAB.tpl", "{\\rtf1 our own}");
    WriteFile(root.Home() / "results/r1.pdf", "%PDF");
    fs::permissions(root.Home() / "tags.txt", fs::perms::owner_read | fs::perms::owner_write);
    const auto before = Tree(root.Root() / "var/lib");

    for (const char* previous : {"4.4.3", "4.4.4"}) {
        SCOPED_TRACE(previous);
        const TProgramRun run = root.Run("postinst", {"configure", previous});
        ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
        EXPECT_EQ(Tree(root.Root() / "var/lib"), before);
        EXPECT_TRUE(root.CallsOf("chown").empty());
        EXPECT_TRUE(root.CallsOf("systemd-sysusers").empty()) << "the user exists";
        EXPECT_TRUE(root.CallsOf("adduser").empty());
    }
}

// Purge: what the installation made and nobody changed goes; everything the
// laboratory edited, added or the server wrote stays, and the message names
// what stayed.
TEST(MaintainerScripts, PurgeRemovesOnlyUnchangedExampleFilesAndEmptyFoldersItMade)
{
    enum TChange { Unchanged, Edited, Added, AddedFolder };
    struct TEntry {
        const char* Path;
        TChange Change;
        bool Kept;
    };
    const TEntry entries[] = {
        {"tags.txt", Unchanged, false},
        {"printerdriverdata.reg", Unchanged, false},
        {"templates/HISTO.tpl", Unchanged, false},
        {"images/logo.png", Unchanged, false},
        {"printserver.inf", Edited, true},  // the laboratory's settings
        {"templates/Letterhead.doc", Edited, true},
        {"requests/fbe_interim.tvq", Edited, true},
        {"templates/LAB.tpl", Added, true},
        {"results/26-0001.pdf", Added, true},
        {"spoolerLog.txt", Added, true},
        {"spoolerLog.txt-20250101.gz", Added, true},
        {"journal.db", Added, true},
        {"journal.db-wal", Added, true},
        {"lpdspooler/_1_LAB.prn", Added, true},  // the LPR queue
        {"spool/failed/bad.tvq", Added, true},
        {"archive", AddedFolder, true},  // empty, but the laboratory's
        // Empty folders the installation or the server made go.
        {"overlays", Unchanged, false},
        {"spool/temp", Unchanged, false},
        {"temp", AddedFolder, false},
        {"spool/unprintable", AddedFolder, false},
    };
    TPackageRoot root;
    Install(root);
    for (const TEntry& e : entries) {
        const fs::path path = root.Home() / e.Path;
        if (e.Change == Edited)
            WriteFile(path, ReadFile(path) + "edited\r\n");
        else if (e.Change == Added) {
            fs::create_directories(path.parent_path());
            WriteFile(path, std::string("the laboratory's ") + e.Path);
        } else if (e.Change == AddedFolder)
            fs::create_directories(path);
    }
    fs::remove(root.Home() / "templates/FBE.tpl");  // gone already: nothing to do
    const auto before = Tree(root.Home());

    const TProgramRun run = root.Run("postrm", {"purge"});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    for (const TEntry& e : entries) {
        SCOPED_TRACE(e.Path);
        EXPECT_EQ(Exists(root.Home() / e.Path), e.Kept);
        if (e.Kept && before.count(e.Path)) {
            EXPECT_EQ(Tree(root.Home())[e.Path], before.at(e.Path)) << "kept as it was";
        }
    }
    // What was made and left unchanged is gone, apart from the folders that
    // still hold the laboratory's files.
    for (const auto& [path, what] : before) {
        const bool kept = std::any_of(std::begin(entries), std::end(entries), [&](const TEntry& e) {
            return e.Kept && (path == e.Path || std::string(e.Path).rfind(path + "/", 0) == 0);
        });
        EXPECT_EQ(Exists(root.Home() / path), kept) << path;
    }
    // The message names each thing kept at the top of the home.
    const std::vector<std::string> out = Lines(run.Out);
    std::set<std::string> listed;
    for (const std::string& line : out)
        if (line.rfind("  ", 0) == 0)
            listed.insert(line.substr(2));
    std::set<std::string> top;
    for (const auto& entry : fs::directory_iterator(root.Home()))
        if (entry.path().filename() != kNote)
            top.insert(entry.path().filename().string());
    EXPECT_EQ(listed, top) << run.Out;
    // The note names exactly what the purge removed of what the installation
    // made; the server's own folders it makes again itself.
    std::set<std::string> removed;
    for (const auto& [path, what] : before)
        if (!Exists(root.Home() / path) && path != "temp" && path != "spool/unprintable")
            removed.insert((what.rfind("folder", 0) == 0 ? "dir " : "file ") + path);
    EXPECT_EQ(NoteEntries(root), removed);
    EXPECT_NE(run.Out.find((root.Home() / kNote).string() + " lists the example files and folders removed"),
              std::string::npos)
        << run.Out;
    EXPECT_NE(run.Out.find("purge kept " + root.Home().string()), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("rm -r " + root.Home().string()), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("the system user printorb stays"), std::string::npos) << run.Out;
    EXPECT_FALSE(Exists(root.State())) << "the records go";
}

// A home nobody used goes whole, with the server's empty working folders;
// one made by a version without records keeps everything.
TEST(MaintainerScripts, PurgeOfAnUnusedHomeRemovesItAndOfAnUnrecordedHomeKeepsIt)
{
    TPackageRoot unused;
    Install(unused);
    for (const char* folder : {"lpdspooler", "temp", "spool/failed", "spool/unprintable"})
        fs::create_directories(unused.Home() / folder);
    TProgramRun run = unused.Run("postrm", {"purge"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_FALSE(Exists(unused.Home())) << run.Out;
    EXPECT_EQ(run.Out.find("purge kept"), std::string::npos) << run.Out;
    EXPECT_FALSE(Exists(unused.State()));

    TPackageRoot old;
    Install(old);
    fs::remove_all(old.State());  // 4.4.3 kept no records
    const auto before = Tree(old.Home());
    run = old.Run("postrm", {"purge"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Tree(old.Home()), before);
    EXPECT_NE(run.Out.find("purge kept"), std::string::npos) << run.Out;
}

// Links inside the home are never followed to delete anything: not through
// a recorded folder or a folder on the way replaced by a link, not a
// recorded file replaced by one (the link is the laboratory's and stays),
// not the home itself, and not a record that names a path outside.
TEST(MaintainerScripts, PurgeNeverFollowsALinkOutOfTheHome)
{
    struct TCase {
        const char* Name;
        std::function<void(TPackageRoot&)> Arrange;
        std::vector<std::string> Stays;  // in the home
    };
    const TCase cases[] = {
        {"a recorded folder is a link",
         [](TPackageRoot& r) {
             // The same files, unchanged, behind a link where the folder was.
             fs::rename(r.Home() / "templates", r.Outside() / "templates");
             fs::create_symlink(r.Outside() / "templates", r.Home() / "templates");
         },
         {"templates"}},
        {"a folder on the way is a link",
         [](TPackageRoot& r) {
             // Empty folders as the installation and the server made them, elsewhere.
             fs::remove_all(r.Home() / "spool");
             for (const char* folder : {"spool/temp", "spool/failed", "spool/unprintable"})
                 fs::create_directories(r.Outside() / folder);
             fs::create_symlink(r.Outside() / "spool", r.Home() / "spool");
         },
         {"spool"}},
        {"a recorded file is a link",
         [](TPackageRoot& r) {
             fs::rename(r.Home() / "tags.txt", r.Outside() / "tags.txt");
             fs::create_symlink(r.Outside() / "tags.txt", r.Home() / "tags.txt");
         },
         {"tags.txt"}},
        {"the home is a link",
         [](TPackageRoot& r) {
             fs::remove_all(r.Outside());
             fs::rename(r.Home(), r.Outside());
             fs::create_symlink(r.Outside(), r.Home());
         },
         {"."}},
        {"the note of an earlier purge is a link",
         [](TPackageRoot& r) {
             WriteFile(r.Home() / "printserver.inf", "edited\r\n");  // so that the home stays
             WriteFile(r.Outside() / "passwd", "root:x:0:0::/root:/bin/sh\n");
             fs::create_symlink(r.Outside() / "passwd", r.Home() / ".removed-by-purge");
         },
         {"printserver.inf"}},
        {"records name paths outside",
         [](TPackageRoot& r) {
             fs::create_directories(r.Outside() / "data");
             WriteFile(r.Outside() / "data/keep.txt", "outside");
             WriteFile(r.Outside() / "empty.txt", "");
             const std::string up = fs::relative(r.Outside(), r.Home()).string();
             std::string files = ReadFile(r.State() / "created-files");
             files += Sha256("outside") + "  " + up + "/data/keep.txt\n";
             files += Sha256("outside") + "  " + (r.Outside() / "data/keep.txt").string() + "\n";
             files += Sha256("") + "  templates/../" + up + "/empty.txt\n";
             WriteFile(r.State() / "created-files", files);
             fs::create_directories(r.Outside() / "void");
             std::string dirs = ReadFile(r.State() / "created-dirs");
             dirs += up + "/void\n" + (r.Outside() / "void").string() + "\n..\n";
             WriteFile(r.State() / "created-dirs", dirs);
         },
         {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPackageRoot root;
        Install(root);
        fs::create_directories(root.Outside());
        c.Arrange(root);
        const auto outside = Tree(root.Outside());
        ASSERT_FALSE(outside.empty());
        const TProgramRun run = root.Run("postrm", {"purge"});
        ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
        EXPECT_EQ(Tree(root.Outside()), outside);
        for (const std::string& path : c.Stays)
            EXPECT_TRUE(Exists(root.Home() / path)) << path;
        EXPECT_TRUE(Exists(root.Root() / "var/lib")) << "nothing above the home goes";
    }
}

// remove (with prerm before it) keeps every file; only the unit is masked
// and the running service stopped.
TEST(MaintainerScripts, RemoveKeepsEverything)
{
    TPackageRoot root;
    root.SystemdRuns();
    Install(root);
    WriteFile(root.Home() / "printserver.inf", "edited\r\n");
    WriteFile(root.Home() / "spoolerLog.txt", "a log line\r\n");
    const auto before = Tree(root.Root() / "var/lib");

    TProgramRun run = root.Run("prerm", {"remove"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(root.CallsOf("deb-systemd-invoke"),
              std::vector<std::string> {"deb-systemd-invoke stop printorb.service"});
    run = root.Run("postrm", {"remove"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(Tree(root.Root() / "var/lib"), before);
    EXPECT_EQ(root.CallsOf("deb-systemd-helper"),
              std::vector<std::string> {"deb-systemd-helper mask printorb.service"});
}

// The service manager's part: an upgrade restarts a running service and
// nothing else does; an upgrade's prerm does not stop it. Without systemd,
// or without its helpers, the scripts do their file work and succeed.
TEST(MaintainerScripts, TheServiceIsRestartedOnlyOnAnUpgradeAndItsAbsenceFailsNothing)
{
    struct TCase {
        const char* Script;
        std::vector<std::string> Args;
        std::vector<std::string> Invoked;  // deb-systemd-invoke's calls with systemd running
    };
    const TCase cases[] = {
        {"postinst", {"configure"}, {}},
        {"postinst", {"configure", "4.4.3"}, {"deb-systemd-invoke try-restart printorb.service"}},
        {"prerm", {"upgrade", "4.4.5"}, {}},
        {"prerm", {"remove"}, {"deb-systemd-invoke stop printorb.service"}},
        {"postrm", {"remove"}, {}},
        {"postrm", {"purge"}, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Script) + " " + c.Args.front());
        TPackageRoot root;
        root.SystemdRuns();
        ASSERT_EQ(root.Run(c.Script, c.Args).Status, 0);
        EXPECT_EQ(root.CallsOf("deb-systemd-invoke"), c.Invoked);
        const bool reloads = std::string(c.Script) != "prerm";
        EXPECT_EQ(root.CallsOf("systemctl"), reloads ? std::vector<std::string> {"systemctl --system daemon-reload"}
                                                     : std::vector<std::string> {});

        TPackageRoot bare;  // no systemd running: no service manager call at all
        ASSERT_EQ(bare.Run(c.Script, c.Args).Status, 0);
        EXPECT_TRUE(bare.CallsOf("deb-systemd-invoke").empty());
        EXPECT_TRUE(bare.CallsOf("systemctl").empty());

        TPackageRoot without;  // running, but none of its helpers installed
        without.SystemdRuns();
        for (const char* tool : {"systemctl", "deb-systemd-helper", "deb-systemd-invoke"})
            without.RemoveTool(tool);
        const TProgramRun run = without.Run(c.Script, c.Args);
        EXPECT_EQ(run.Status, 0) << run.Err;
    }

    // Without systemd-sysusers the user is made by adduser.
    TPackageRoot old(false);
    Install(old);
    ASSERT_EQ(old.CallsOf("adduser").size(), 1u);
    EXPECT_NE(old.CallsOf("adduser")[0].find("--system --group"), std::string::npos);
    EXPECT_NE(old.CallsOf("adduser")[0].find("--no-create-home"), std::string::npos);
}

// Reinstalling after a purge that kept an edited home: what the purge removed
// comes back as the installation first made it, recorded again, so that the
// next purge can tell it from the laboratory's files. Nothing present is
// written over or changes owner, and what the laboratory deleted before the
// purge stays away.
TEST(MaintainerScripts, ReinstallAfterPurgePutsBackWhatThePurgeRemovedAndNothingElse)
{
    struct TCase {
        const char* Name;
        std::function<void(TPackageRoot&)> Between;  // the laboratory, after the purge
        std::vector<std::string> Laboratory;         // paths it made in between
    };
    const TCase cases[] = {
        {"nothing added in between", [](TPackageRoot&) {}, {}},
        {"the laboratory put its own tags.txt and overlays folder in between",
         [](TPackageRoot& r) {
             WriteFile(r.Home() / "tags.txt", "1|OURTAG|\r\n");
             fs::permissions(r.Home() / "tags.txt", fs::perms::owner_read | fs::perms::owner_write);
             fs::create_directory(r.Home() / "overlays");
             fs::permissions(r.Home() / "overlays", fs::perms::owner_all);
         },
         {"tags.txt", "overlays"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPackageRoot root;
        Install(root);
        WriteFile(root.Home() / "printserver.inf",
                  ReadFile(root.Home() / "printserver.inf") + "PRINTER3=Ward\r\nHOSTIP-3=10.1.2.3\r\n");
        WriteFile(root.Home() / "results/26-0001.pdf", "%PDF the laboratory's");
        fs::remove(root.Home() / "templates/FBE.tpl");  // deleted by the laboratory: stays deleted
        const auto edited = Tree(root.Home());

        TProgramRun run = root.Run("postrm", {"purge"});
        ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
        ASSERT_FALSE(Exists(root.Home() / "tags.txt")) << run.Out;
        ASSERT_FALSE(Exists(root.State()));
        const std::set<std::string> noted = NoteEntries(root);
        c.Between(root);
        auto between = Tree(root.Home());

        // After a purge dpkg passes an empty version.
        run = root.Run("postinst", {"configure", ""});
        ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
        auto expected = edited;
        for (const std::string& path : c.Laboratory)
            expected[path] = between.at(path);
        EXPECT_EQ(Tree(root.Home()), expected) << run.Out;

        // Only what was put back changes owner, and only it is recorded.
        std::set<std::string> putBack;
        std::set<std::string> putBackFiles;
        std::set<std::string> putBackDirs;
        for (const auto& [path, what] : edited) {
            if (between.count(path))
                continue;
            putBack.insert((root.Home() / path).string());
            const bool folder = what.rfind("folder", 0) == 0;
            if (folder)
                putBackDirs.insert(path);
            else
                putBackFiles.insert(Sha256(ReadFile(root.Home() / path)) + "  " + path);
            EXPECT_NE(run.Out.find("\n  " + path + (folder ? "/\n" : "\n")), std::string::npos) << path << run.Out;
        }
        ASSERT_TRUE(putBack.count((root.Home() / "tags.txt").string()) || !c.Laboratory.empty());
        EXPECT_EQ(Chowned(root), putBack);
        const std::vector<std::string> files = Lines(ReadFile(root.State() / "created-files"));
        EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), putBackFiles);
        const std::vector<std::string> dirs = Lines(ReadFile(root.State() / "created-dirs"));
        EXPECT_EQ(std::set<std::string>(dirs.begin(), dirs.end()), putBackDirs);
        for (const std::string& path : c.Laboratory)
            EXPECT_NE(run.Out.find("  " + path + ": present, kept as it is"), std::string::npos) << run.Out;
        EXPECT_NE(run.Out.find("putting back into " + root.Home().string()), std::string::npos) << run.Out;
        EXPECT_EQ(LastLine(run.Out), "printorb: check " + (root.Home() / "printserver.inf").string() +
                                         ", then start the service: sudo systemctl enable --now printorb");

        // The next purge removes what was put back, and only that, again.
        run = root.Run("postrm", {"purge"});
        ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
        auto after = Tree(root.Home());
        after.erase(kNote);
        between.erase(kNote);
        EXPECT_EQ(after, between);
        std::set<std::string> notedAgain = noted;
        for (const std::string& path : c.Laboratory)
            notedAgain.erase(notedAgain.count("dir " + path) ? "dir " + path : "file " + path);
        EXPECT_EQ(NoteEntries(root), notedAgain);
    }
}

// The note lies in a folder the service user can write: it is only a list
// of names to look up in the example. A name that leaves the home, passes
// through a link, or is not in the example makes nothing; an upgrade does
// not read the note at all.
TEST(MaintainerScripts, TheNoteOfAPurgeNeverLeadsOutOfTheHomeOrOverAFile)
{
    struct TCase {
        const char* Name;
        std::function<std::string(TPackageRoot&)> Arrange;  // returns the note's lines
        std::vector<std::string> Args;
    };
    const TCase cases[] = {
        {"names outside the home",
         [](TPackageRoot& r) {
             const std::string up = fs::relative(r.Outside(), r.Home()).string();
             return "file " + up + "/tags.txt\nfile " + (r.Outside() / "tags.txt").string() +
                    "\nfile templates/../" + up + "/tags.txt\ndir " + up + "/templates\nfile ./tags.txt\n";
         },
         {"configure", ""}},
        {"a folder on the way is a link",
         [](TPackageRoot& r) {
             fs::remove_all(r.Home() / "templates");
             fs::create_symlink(r.Outside(), r.Home() / "templates");
             return std::string("file templates/HISTO.tpl\ndir templates/sub\n");
         },
         {"configure", ""}},
        {"names not in the example",
         [](TPackageRoot& r) {
             fs::remove(r.Home() / "tags.txt");
             return std::string("file results/26-0001.pdf\nfile tags.txt/x\ndir archive\nfile templates\n");
         },
         {"configure", ""}},
        {"an upgrade",
         [](TPackageRoot& r) {
             fs::remove(r.Home() / "tags.txt");
             return std::string("file tags.txt\n");
         },
         {"configure", "4.4.3"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPackageRoot root;
        Install(root);
        fs::remove_all(root.State());
        fs::create_directories(root.Outside());
        WriteFile(root.Home() / kNote, c.Arrange(root));
        const auto outside = Tree(root.Outside());
        auto home = Tree(root.Home());
        const TProgramRun run = root.Run("postinst", c.Args);
        ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
        EXPECT_EQ(Tree(root.Outside()), outside);
        EXPECT_TRUE(root.CallsOf("chown").empty()) << run.Out;
        if (c.Args[1].empty())
            home.erase(kNote);  // read once
        EXPECT_EQ(Tree(root.Home()), home) << run.Out;
    }

    // A note that is a link is not read, and what it leads to stays.
    TPackageRoot root;
    Install(root);
    fs::create_directories(root.Outside());
    WriteFile(root.Outside() / "list", "file tags.txt\n");
    fs::remove(root.Home() / "tags.txt");
    fs::create_symlink(root.Outside() / "list", root.Home() / kNote);
    const auto before = Tree(root.Root());
    ASSERT_EQ(root.Run("postinst", {"configure", ""}).Status, 0);
    EXPECT_EQ(Tree(root.Root()), before);
}

// The installation ends with what to do next, for each kind of home; an
// upgrade of a home with settings says nothing (the service was running).
TEST(MaintainerScripts, TheLastLineSaysHowToStartTheService)
{
    const std::string start = ", then start the service: sudo systemctl enable --now printorb";
    struct TCase {
        const char* Name;
        std::function<void(TPackageRoot&)> Arrange;
        std::vector<std::string> Args;
        std::string Last;  // after the home's path
    };
    const TCase cases[] = {
        {"no home", [](TPackageRoot&) {}, {"configure"}, "/printserver.inf (printers, folders)"},
        {"an empty home", [](TPackageRoot& r) { fs::create_directories(r.Home()); }, {"configure"},
         "/printserver.inf (printers, folders)"},
        {"a home with settings",
         [](TPackageRoot& r) {
             fs::create_directories(r.Home());
             WriteFile(r.Home() / "printserver.inf", "SPOOLER=/srv/spool/\r\n");
         },
         {"configure"}, "/printserver.inf"},
        {"a home without settings",
         [](TPackageRoot& r) {
             fs::create_directories(r.Home() / "results");
         },
         {"configure"}, "/printserver.inf"},
        {"an upgrade of a home without settings",
         [](TPackageRoot& r) {
             fs::create_directories(r.Home() / "results");
         },
         {"configure", "4.4.3"}, "/printserver.inf"},
        {"an upgrade",
         [](TPackageRoot& r) {
             fs::create_directories(r.Home());
             WriteFile(r.Home() / "printserver.inf", "SPOOLER=/srv/spool/\r\n");
         },
         {"configure", "4.4.3"}, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPackageRoot root;
        root.SystemdRuns();
        c.Arrange(root);
        const TProgramRun run = root.Run("postinst", c.Args);
        ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
        if (c.Last.empty()) {
            EXPECT_EQ(run.Out.find("systemctl"), std::string::npos) << run.Out;
            continue;
        }
        const std::string verb = std::string(c.Name).find("without") != std::string::npos ? "write "
                                 : c.Last.find("(printers") != std::string::npos          ? "edit "
                                                                                           : "check ";
        EXPECT_EQ(LastLine(run.Out), "printorb: " + verb + root.Home().string() + c.Last + start) << run.Out;
    }
}

// The unit keeps the home private when systemd sets up its state folder, and
// names only manual pages the package installs.
TEST(MaintainerScripts, TheUnitKeepsTheHomePrivateAndNamesShippedManualPages)
{
    const std::vector<std::string> unit = Lines(ReadFile(SourceDir() + "/packaging/printorb.service"));
    EXPECT_NE(std::find(unit.begin(), unit.end(), "StateDirectory=printorb"), unit.end());
    EXPECT_NE(std::find(unit.begin(), unit.end(), "StateDirectoryMode=0750"), unit.end());
    const std::string packaging = ReadFile(SourceDir() + "/cmake/Packaging.cmake");
    std::set<std::string> named;
    for (const std::string& line : unit) {
        if (line.rfind("Documentation=", 0) != 0)
            continue;
        for (std::size_t at = 0; (at = line.find("man:", at)) != std::string::npos; at += 4) {
            const std::string page = line.substr(at + 4, line.find(')', at) - at - 3);  // "name(5)"
            const std::string name = page.substr(0, page.find('('));
            const std::string section = page.substr(page.find('(') + 1, 1);
            const std::string source = "man/" + name + "." + section;
            named.insert(source);
            EXPECT_TRUE(fs::is_regular_file(SourceDir() + "/packaging/" + source)) << source;
            EXPECT_NE(packaging.find(source), std::string::npos) << source << " is not installed";
            EXPECT_NE(packaging.find("man" + section), std::string::npos) << source;
        }
    }
    std::set<std::string> shipped;
    for (const auto& entry : fs::directory_iterator(SourceDir() + "/packaging/man"))
        shipped.insert("man/" + entry.path().filename().string());
    EXPECT_EQ(named, shipped);
}
