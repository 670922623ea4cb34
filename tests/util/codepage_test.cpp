#include "util/codepage.h"

#include "support/testsupport.h"
#include "util/fileutil.h"
#include "util/spoolfiles.h"

#include <gtest/gtest.h>

TEST(CodePage, EveryByteSurvivesTheRoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(FromUnicode(ToUnicode(all)), all);
}

TEST(CodePage, MapsTheWindowsRangeAndMarksWhatItCannotHold)
{
    EXPECT_EQ(ToUnicode("\x80"), QString(QChar(0x20AC)));
    EXPECT_EQ(ToUnicode("\xA5"), QString(QChar(0x00A5)));  // the marker character
    EXPECT_EQ(ToUnicode("\x93q\x94"), QString::fromUtf8("\u201Cq\u201D"));
    EXPECT_EQ(FromUnicode(QString::fromUtf8("\u20AC\u0416x")), std::string("\x80?x"));
    EXPECT_EQ(FromUnicode(QString::fromUtf8("\U0001F600")), "?");
    EXPECT_EQ(NativePath("/srv/caf\xE9/"), "/srv/caf\xC3\xA9/");
    EXPECT_EQ(SystemName("caf\xC3\xA9.tvq"), "caf\xE9.tvq");
}

// Names a Windows share writes in its code page are bytes that are not
// UTF-8: they are read as Windows-1252 and opened again by those bytes.
TEST(CodePage, NamesThatAreNotUtf8AreReadAsWindows1252AndOpenedByTheirBytes)
{
    TTempDir dir;
    const std::string raw = dir / "caf\xE9.tvq";  // the byte 0xE9 alone, as on the share
    WriteFile(raw, "request");
    EXPECT_EQ(SystemName("caf\xE9.tvq"), "caf\xE9.tvq");
    EXPECT_TRUE(ReadableName("caf\xE9.tvq"));
    // The system text is the same bytes; the file is found by them.
    EXPECT_EQ(NativePath(dir / "caf\xE9.tvq"), raw);
    EXPECT_TRUE(FileExists(dir / "caf\xE9.tvq"));
    EXPECT_EQ(ReadFileBytes(dir / "caf\xE9.tvq", 100).ValueOr(""), "request");

    // A file spelled in UTF-8 is the one meant when both exist, and a new
    // file is made in UTF-8.
    WriteFile(dir / "caf\xC3\xA9.tvq", "utf-8");
    EXPECT_EQ(NativePath(dir / "caf\xE9.tvq"), dir / "caf\xC3\xA9.tvq");
    EXPECT_EQ(NativePath(dir / "new\xE9.pdf"), dir / "new\xC3\xA9.pdf");

    // UTF-8 that Windows-1252 cannot hold cannot be opened by its system text.
    EXPECT_FALSE(ReadableName("\xC5\x81\xC3\xB3""d\xC5\xBA.tvq"));  // Łódź
    EXPECT_TRUE(ReadableName("caf\xC3\xA9.tvq"));
}

TEST(CodePage, TheSpoolListingTakesEveryNameItCanOpenAndReportsTheRest)
{
    TTempDir dir;
    WriteFile(dir / "a.tvq", "1");
    WriteFile(dir / "caf\xE9.tvq", "22");
    WriteFile(dir / "\xC5\x81\xC3\xB3""d\xC5\xBA.tvq", "333");
    std::vector<std::string> listed, unreadable;
    ListSpoolFiles(dir / "*.tvq", listed, &unreadable);
    EXPECT_EQ(listed, (std::vector<std::string> {"a.tvq;1", "caf\xE9.tvq;2"}));
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0], "?\xF3""d?.tvq");
}
