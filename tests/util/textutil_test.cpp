#include "util/textutil.h"

#include <gtest/gtest.h>

TEST(TextHelpers, BeforeAfterBetween)
{
    struct Case {
        const char* fn;
        std::string text, a, b, expected;
    };
    const Case cases[] = {
        {"before", "abc", ";", "", "abc"},
        {"before", "a;b;c", ";", "", "a"},
        {"before", "abc", "", "", "abc"},
        {"after", "abc", ";", "", ""},
        {"after", "a;b;c", ";", "", "b;c"},
        {"after", "abc", "", "", ""},
        {"after", "HV_A~x~y", "~", "", "x~y"},
        {"between", "PRINTER3=HP|10.1.1.1", "=", "|", "HP"},
        {"between", "x=HP", "=", "|", "HP"},
        {"between", "HP|1", "=", "|", ""},
        {"between", "HV_A~1^HV_B~2^HV_", "HV_", "^HV_", "A~1"},
    };
    for (const Case& c : cases) {
        std::string got;
        if (std::string(c.fn) == "before")
            got = TextBefore(c.text, c.a);
        else if (std::string(c.fn) == "after")
            got = TextAfter(c.text, c.a);
        else
            got = TextBetween(c.text, c.a, c.b);
        EXPECT_EQ(got, c.expected) << c.fn << "(" << c.text << ", " << c.a << ", " << c.b << ")";
    }
}

TEST(TextHelpers, NthFieldCountsEmptyFields)
{
    EXPECT_EQ(NthField("5,5,8,5", ',', 3), "8");
    EXPECT_EQ(NthField("5,5", ',', 3), "");
    EXPECT_EQ(NthField("", ',', 1), "");
    EXPECT_EQ(NthField("a,b,,d", ',', 3), "");
    EXPECT_EQ(NthField("a,b,,d", ',', 4), "d");
    EXPECT_EQ(NthField(",a", ',', 1), "");
    EXPECT_EQ(NthField("abc", ',', 1), "abc");
    EXPECT_EQ(NthField("a,b", ',', 0), "");
    EXPECT_EQ(NthField("a,b", '\0', 1), "");
    EXPECT_EQ(NthField("a,b,", ',', 3), "");
}

TEST(TextHelpers, RemoveCharsAndTrim)
{
    EXPECT_EQ(RemoveChars("li\r\nne\n", "\r\n"), "line");
    EXPECT_EQ(RemoveChars("", "\r\n"), "");
    EXPECT_EQ(RemoveChar(" a b  c ", ' '), "abc");
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(Trim("   "), "");
}

TEST(TextHelpers, WholeNumbersAsOperatorsTypeThem)
{
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        {"5000", 5000}, {"  12", 12},     {"-3", -3},   {"+7", 7},        {"$1F", 31},
        {"0x10", 16},   {"x0C", 12},  {"012", 12},      {"", {}},     {"12 ", {}},      {"1.5", {}},
        {"abc", {}},    {"-", {}},        {"$", {}},    {"2147483647", 2147483647},
        {"2147483648", {}}, {"-2147483648", -2147483647 - 1}, {"99999999999", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TryStrToInt(c.text), c.value) << '"' << c.text << '"';
    EXPECT_EQ(StrToIntDef("x", 50), 50);
}

TEST(TextHelpers, CaseInsensitiveCompareAndCounters)
{
    EXPECT_TRUE(SameText("ReqCode", "REQCODE"));
    EXPECT_FALSE(SameText("ReqCode", "REQCOD"));
    EXPECT_LT(CompareText("10=Laser B", "2=Laser A"), 0);
    EXPECT_LT(CompareText("a.tvq;1", "B.prn;1"), 0);
    EXPECT_EQ(FormatCounter(0), "0000");
    EXPECT_EQ(FormatCounter(7), "0007");
    EXPECT_EQ(FormatCounter(12345), "12345");
    EXPECT_EQ(ReplaceAll("a%5Cb%5C", "%5C", "/"), "a/b/");
}
