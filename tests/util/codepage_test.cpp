#include "util/codepage.h"

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
