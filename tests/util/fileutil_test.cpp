#include "util/fileutil.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <set>

TEST(FileHelpers, MoveFileToResults)
{
    TTempDir dir;
    ASSERT_TRUE(ForceDir(dir / "dst"));
    WriteFile(dir / "a.tvq", "A");
    WriteFile(dir / "dst/a.tvq", "old");

    EXPECT_EQ(MoveFileTo(dir.Path(), "  ", dir / "dst", "").Reason(), "no source filename");
    EXPECT_EQ(MoveFileTo(dir.Path(), "missing.tvq", dir / "dst", "").Reason(), "no source file");
    const TOutcome exists = MoveFileTo(dir.Path(), "a.tvq", dir / "dst", "a.tvq");
    EXPECT_FALSE(exists);
    EXPECT_EQ(exists.Reason(), "destination exists");
    EXPECT_EQ(exists.Detail(), dir / "dst/a.tvq");
    EXPECT_EQ(ReadFile(dir / "a.tvq"), "A");
    EXPECT_EQ(ReadFile(dir / "dst/a.tvq"), "old");

    // All-space destination: moved under its own name; directories without "/".
    WriteFile(dir / "b.tvq", "B");
    EXPECT_TRUE(MoveFileTo(dir.Path().substr(0, dir.Path().size() - 1), "b.tvq", dir / "dst", "   "));
    EXPECT_FALSE(FileExists(dir / "b.tvq"));
    EXPECT_EQ(ReadFile(dir / "dst/b.tvq"), "B");

    EXPECT_EQ(MoveFileTo(dir.Path(), "a.tvq", dir / "nowhere/", "a.tvq").Reason().rfind("system error ", 0), 0u);
    EXPECT_TRUE(FileExists(dir / "a.tvq"));
}

TEST(FileHelpers, ScanSubPathAndEscape)
{
    EXPECT_EQ(ScanSubPath("AB12345", "**"), "AB/AB12345");
    EXPECT_EQ(ScanSubPath("AB12345", "--**"), "12/AB12345");
    EXPECT_EQ(ScanSubPath("AB12345", ""), "/AB12345");
    EXPECT_EQ(ScanSubPath("AB", "****"), "AB/AB");
    EXPECT_EQ(EscapeFileName("C:\\out\\a?b.pdf"), "C%3A%5Cout%5Ca%3Fb.pdf");
    EXPECT_EQ(EscapeFileName("50%"), "50%");
    EXPECT_EQ(EscapeFileName("a/b*\"<>|"), "a%2Fb%2A%22%3C%3E%7C");
}

TEST(FileHelpers, ListFilesFormatAndFilter)
{
    TTempDir dir;
    WriteFile(dir / "one.TVQ", "1");
    WriteFile(dir / "two.tvq", "22");
    WriteFile(dir / "x.prn", "3");
    ASSERT_TRUE(ForceDir(dir / "sub.tvq"));  // a directory that matches the mask

    const std::string listing = ListFiles(dir / "*.tvq", 0, 2);
    ASSERT_EQ(listing.substr(0, listing.find('\r')), "2");
    std::set<std::string> names;
    std::string rest = listing.substr(listing.find('\r') + 1);
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        ASSERT_NE(lf, std::string::npos);
        names.insert(rest.substr(0, lf));
        ASSERT_EQ(rest[lf + 1], '\r');
        rest = rest.substr(lf + 2);
    }
    EXPECT_EQ(names, (std::set<std::string> {"one.TVQ", "two.tvq"}));

    EXPECT_EQ(ListFiles(dir / "*.doc", 0, 2), "0\r");
    EXPECT_EQ(ListFiles(dir / "missing/*.tvq", 0, 2), "0\r");
    EXPECT_EQ(ListFiles(dir / "x.prn", 0, 2 | 32), "1\rx.prn\n1\n\r");
    // A filter of directories picks the directory only.
    EXPECT_EQ(ListFiles(dir / "*.tvq", faDirectory, 2), "1\rsub.tvq\n\r");
}

TEST(FileHelpers, DirectoriesAndMasks)
{
    TTempDir dir;
    EXPECT_FALSE(ForceDir(""));
    EXPECT_TRUE(ForceDir(dir / "a/b/c"));
    WriteFile(dir / "file", "x");
    const TOutcome inFile = ForceDir(dir / "file/sub");
    EXPECT_FALSE(inFile);
    EXPECT_EQ(inFile.Reason().rfind(dir / "file/sub: ", 0), 0u) << inFile.Reason();
    EXPECT_TRUE(DirExists(dir / "a/b/c/"));
    EXPECT_FALSE(FileExists(dir / "a/b"));
    EXPECT_TRUE(MatchesMask("REPORT.TPL", "*.tpl"));
    EXPECT_TRUE(MatchesMask("a.b.tvq", "*.tvq"));
    EXPECT_FALSE(MatchesMask("a.tvqx", "*.tvq"));
    EXPECT_TRUE(MatchesMask("x1y", "x?y"));
    EXPECT_EQ(IncludeTrailingSlash("/srv/spool"), "/srv/spool/");
    EXPECT_EQ(IncludeTrailingSlash(""), "");
    EXPECT_EQ(ExtractFileExt("/a.b/c.TVQ"), ".TVQ");
    EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
}

TEST(FileHelpers, AtomicWriteReplacesWholeAndLeavesNoTemporary)
{
    TTempDir dir;
    WriteFile(dir / "out.pdf", "old");
    EXPECT_TRUE(WriteFileAtomic(dir / "out.pdf", "new contents"));
    EXPECT_EQ(ReadFile(dir / "out.pdf"), "new contents");
    EXPECT_EQ(ListFiles(dir / "*", 0, 2), "1\rout.pdf\n\r");
    const TOutcome nowhere = WriteFileAtomic(dir / "no/such/dir/out.pdf", "x");
    EXPECT_FALSE(nowhere);
    EXPECT_FALSE(nowhere.Reason().empty());
    EXPECT_EQ(nowhere.Detail(), dir / "no/such/dir/out.pdf");

    const TResult<std::string> back = ReadFileBytes(dir / "out.pdf", 100);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, "new contents");
    // Each failure names the file and the cause.
    struct Case {
        std::string path;
        std::uint64_t bound;
        const char* cause;
    };
    const Case failures[] = {{dir / "out.pdf", 5, "larger than 5 bytes"},
                             {dir.Path(), 100, "is a directory"},
                             {dir / "missing", 100, "no such file"}};
    for (const Case& c : failures) {
        const TResult<std::string> read = ReadFileBytes(c.path, c.bound);
        EXPECT_FALSE(read) << c.path;
        EXPECT_EQ(read.Reason(), c.path + ": " + c.cause);
    }
}
