// Files written for others: kept off the server's own files and folders by
// what the kernel opens, not by the path's text, and whole on disk or
// failed, with nothing left behind.
#include "util/outputfile.h"

#include "support/smallfs.h"
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QDir>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A server home: its own files, the folders it works in, and a results
// folder with links into them.
struct TGuardedHome {
    TTempDir Dir;
    TProtectedPlaces Places;
    const std::string D = Dir.Path();

    TGuardedHome()
    {
        for (const char* sub : {"spool/temp", "spool/failed", "templates/sub", "results"})
            EXPECT_TRUE(ForceDir(D + sub));
        WriteFile(D + "tags.txt", "3|PATSUR\r\n");
        WriteFile(D + "printserver.inf", "SPOOLER=spool/\r\n");
        WriteFile(D + "templates/LH.doc", "{\\rtf1 letterhead\\par}");
        for (const char* name : {"printserver.inf", "tags.txt", "journal.db", "journal.db-wal"})
            Places.AddFile(D + name);
        Places.AddFolder("the failed folder", D + "spool/failed/");
        Places.AddFolder("the spool folder", D + "spool/");
        Places.AddFolder("the templates folder", D + "templates/");
        EXPECT_EQ(::symlink((D + "spool").c_str(), (D + "results/link").c_str()), 0);
        EXPECT_EQ(::symlink((D + "templates/sub").c_str(), (D + "results/deep").c_str()), 0);
        EXPECT_EQ(::symlink((D + "tags.txt").c_str(), (D + "results/tags-link").c_str()), 0);
        EXPECT_EQ(::symlink((D + "results/elsewhere.pdf").c_str(), (D + "results/other-link").c_str()), 0);
        EXPECT_EQ(::link((D + "tags.txt").c_str(), (D + "results/hard.txt").c_str()), 0);
    }
};

// Every name in a folder, hidden ones too, sorted.
std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    const QDir folder(QString::fromStdString(dir));
    for (const QString& name :
         folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
        names.push_back(name.toStdString());
    return names;
}

// Relative paths are taken from here until the test ends.
class TWorkingFolder {
public:
    explicit TWorkingFolder(const std::string& dir) : FOld(QDir::currentPath()) { EXPECT_EQ(::chdir(dir.c_str()), 0); }
    ~TWorkingFolder() { EXPECT_TRUE(QDir::setCurrent(FOld)); }

private:
    QString FOld;
};

}  // namespace

TEST(OutputFile, TheGuardHoldsOnTheFolderOpenedNotOnThePathsText)
{
    TGuardedHome home;
    const std::string& d = home.D;
    const TWorkingFolder inHome(d);
    const std::string ownTags = "it is the server's own file " + d + "tags.txt";
    const struct {
        std::string path;
        std::string refusal;
    } cases[] = {
        // The kernel takes the link first, then "..": the home's tags.txt.
        {d + "results/link/../tags.txt", ownTags},
        {"results/link/../tags.txt", ownTags},  // relative, from the home
        {d + "results/tags-link", ownTags},     // a link as the last part
        {d + "results/hard.txt", ownTags},      // a hard link: the same inode
        {d + "journal.db-wal", "it is the server's own file " + d + "journal.db-wal"},  // not there yet
        {d + "results/deep/../x.pdf", "it lies in the templates folder " + d + "templates/"},
        {d + "results/link/x.pdf", "it lies in the spool folder " + d + "spool/"},
        {"results/link/x.pdf", "it lies in the spool folder " + d + "spool/"},
        {d + "spool/temp/x.pdf", "it lies in the spool folder " + d + "spool/"},
        {d + "results/link/failed/x.pdf", "it lies in the failed folder " + d + "spool/failed/"},
        {d + "results/other-link", "it is a symbolic link"},  // could be changed to lead anywhere
        {"", "it names no file"},
    };
    const std::string tags = ReadFile(d + "tags.txt");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const TOutcome written = WriteOutputFile(c.path, "%PDF-1.4 the request's bytes", home.Places);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.Kind(), TFailureKind::Final);
        EXPECT_EQ(written.Reason(), c.refusal);
        EXPECT_EQ(written.Detail(), c.path);
        const TOutcome checked = home.Places.Check(c.path);
        EXPECT_EQ(checked.Reason(), c.refusal);
        EXPECT_EQ(checked.Kind(), TFailureKind::Final);
        EXPECT_EQ(ReadFile(d + "tags.txt"), tags);
    }
    // Nothing was made anywhere, not even a temporary file.
    EXPECT_EQ(Names(d), (std::vector<std::string> {"printserver.inf", "results", "spool", "tags.txt", "templates"}));
    EXPECT_EQ(Names(d + "spool"), (std::vector<std::string> {"failed", "temp"}));
    EXPECT_TRUE(Names(d + "spool/temp").empty());
    EXPECT_TRUE(Names(d + "spool/failed").empty());
    EXPECT_EQ(Names(d + "templates"), (std::vector<std::string> {"LH.doc", "sub"}));
    EXPECT_EQ(Names(d + "results"),
              (std::vector<std::string> {"deep", "hard.txt", "link", "other-link", "tags-link"}));

    // Beside them, the laboratory's paths are written, relative ones too.
    for (const std::string& path : {d + "results/R1.pdf", std::string("results/R2.pdf")}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(home.Places.Check(path));
        ASSERT_TRUE(WriteOutputFile(path, "%PDF-1.4 report", home.Places));
        EXPECT_EQ(ReadFile(path), "%PDF-1.4 report");
    }
    EXPECT_EQ(Names(d + "results"), (std::vector<std::string> {"R1.pdf", "R2.pdf", "deep", "hard.txt", "link",
                                                                "other-link", "tags-link"}));
}

// The check and the write are one: the file is made in the folder that was
// opened and checked, whatever its path leads to afterwards.
TEST(OutputFile, AFolderSwappedForALinkAfterTheCheckDoesNotLeadTheWrite)
{
    TGuardedHome home;
    const std::string& d = home.D;
    TOutputFile file;
    ASSERT_TRUE(file.Open(d + "results/R1.pdf", home.Places));
    ASSERT_EQ(::rename((d + "results").c_str(), (d + "moved").c_str()), 0);
    ASSERT_EQ(::symlink((d + "spool").c_str(), (d + "results").c_str()), 0);
    ASSERT_TRUE(file.Write("%PDF-1.4 report"));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadFile(d + "moved/R1.pdf"), "%PDF-1.4 report");
    EXPECT_EQ(Names(d + "spool"), (std::vector<std::string> {"failed", "temp"}));
    // Asked now, the same path is refused.
    EXPECT_EQ(WriteOutputFile(d + "results/R1.pdf", "x", home.Places).Reason(),
              "it lies in the spool folder " + d + "spool/");
}

// The settings file may be a link to where the laboratory keeps it: an
// unguarded write goes there and keeps the file's permissions; a guarded
// one refuses a link as its last part.
TEST(OutputFile, AnUnguardedWriteFollowsALinkAndKeepsThePermissions)
{
    TTempDir dir;
    ASSERT_TRUE(ForceDir(dir / "etc"));
    WriteFile(dir / "etc/printserver.inf", "RESULTS=/old/\r\n");
    ASSERT_EQ(::chmod((dir / "etc/printserver.inf").c_str(), 0640), 0);
    ASSERT_EQ(::symlink((dir / "etc/printserver.inf").c_str(), (dir / "printserver.inf").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomic(dir / "printserver.inf", "RESULTS=/new/\r\n"));
    struct stat st {};
    ASSERT_EQ(::lstat((dir / "printserver.inf").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(dir / "etc/printserver.inf"), "RESULTS=/new/\r\n");
    ASSERT_EQ(::stat((dir / "etc/printserver.inf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(dir / "etc"), (std::vector<std::string> {"printserver.inf"}));

    TProtectedPlaces places;
    places.AddFolder("the spool folder", dir / "spool/");
    const TOutcome guarded = WriteOutputFile(dir / "printserver.inf", "x", places);
    EXPECT_EQ(guarded.Reason(), "it is a symbolic link");
    EXPECT_EQ(ReadFile(dir / "etc/printserver.inf"), "RESULTS=/new/\r\n");
}

// A full folder: every writer fails as an outage naming the folder, leaves
// neither its file nor a temporary one (an older file stays as it was), and
// writes whole once there is room.
TEST(OutputFile, AFullFolderIsAnOutageAndLeavesNothingBehind)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk;
    ASSERT_TRUE(disk.Mounted());
    TTempDir source;
    const std::string printerFile = "\x1b" "E" + std::string(3000, 'P');
    WriteFile(source / "job.prn", printerFile);
    const std::string report(5000, 'R');
    TProtectedPlaces places;
    places.AddFolder("the spool folder", source / "spool/");
    WriteFile(disk / "printserver.inf", "old settings");
    const struct {
        const char* what;
        std::function<TOutcome()> write;
        std::string file;
        std::string bytes;
        std::string reason;
    } cases[] = {
        {"WriteOutputFile", [&] { return WriteOutputFile(disk / "R1.pdf", report, places); }, "R1.pdf", report,
         "no space left in " + disk.Path()},
        {"WriteFileAtomic, a few bytes", [&] { return WriteFileAtomic(disk / "t.tvq", "HV_REQCODE~1"); }, "t.tvq",
         "HV_REQCODE~1", "no space left in " + disk.Path()},
        {"WriteFileAtomic over a file", [&] { return WriteFileAtomic(disk / "printserver.inf", report); },
         "printserver.inf", report, "no space left in " + disk.Path()},
        {"CopyFileAtomic", [&] { return CopyFileAtomic(source / "job.prn", disk / "_job.prn"); }, "_job.prn",
         printerFile, disk / "_job.prn: no space left in " + disk.Path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> before = disk.Names();
        const std::string old = FileExists(disk / c.file) ? ReadFile(disk / c.file) : std::string();
        ASSERT_TRUE(disk.Fill());
        const TOutcome full = c.write();
        ASSERT_FALSE(full);
        EXPECT_EQ(full.Kind(), TFailureKind::Outage);
        EXPECT_EQ(full.Reason(), c.reason);
        EXPECT_EQ(disk.Names(), before);
        if (!old.empty()) {
            EXPECT_EQ(ReadFile(disk / c.file), old);
        }
        disk.MakeRoom();
        ASSERT_TRUE(c.write());
        EXPECT_EQ(ReadFile(disk / c.file), c.bytes);
        ASSERT_TRUE(DeleteFileAt(disk / c.file));
    }
    EXPECT_TRUE(disk.Names().empty());
}
