#include "request/base64.h"

#include "support/testsupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

TEST(Base64, GroupsPadsAndStrayCharacters)
{
    const std::pair<std::string, std::string> cases[] = {
        {"QUJD", "ABC"},
        {"QUI=", "AB"},
        {"QQ==", "A"},
        {"QUJDR", "ABC"},               // a final single character is ignored
        {"QUJDRA", std::string("ABCD\0\0", 6)},  // a final pair writes three bytes, the missing bits zero
        {"Q===", ""},
        {"====", ""},
        {"=QUJ", ""},                   // a group that starts with "=" writes nothing
        {"QQ=A", "A"},                  // output stops at the first "="
        {"Q*J!", std::string("\x40\x02\x40", 3)},  // outside the alphabet counts as zero
        {"QUJDQUJD", "ABCABC"},
        {"", ""},
        {"Q", ""},
    };
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(DecodeBase64(text), bytes) << text;
}

TEST(Base64, WritesTheStreamFromTheStartAndRewinds)
{
    TTempDir dir;
    WriteFile(dir / "R1_P1.doc", "previous longer contents");
    std::fstream file(dir / "R1_P1.doc", std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(DecodeBase64ToFile("QUJD", file));
    EXPECT_EQ(file.tellp(), std::streampos(0));
    file.close();
    EXPECT_EQ(ReadFile(dir / "R1_P1.doc"), "ABC");

    // Large documents decode in blocks.
    std::string text;
    std::string expected;
    for (int i = 0; i < 100000; ++i) {
        text += "QUJD";
        expected += "ABC";
    }
    std::stringstream big;
    ASSERT_TRUE(DecodeBase64ToFile(text, big));
    EXPECT_EQ(big.str(), expected);
}
