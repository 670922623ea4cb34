#include "config/settingsstore.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

TEST(SettingsStore, LooksUpWithoutCaseAndEditsInPlace)
{
    TSettings s;
    s.SetLines({"; comment line", "SPOOLER=/srv/spool", "Printer2=Laser A", "spooler=/second", "X=a=b"});
    EXPECT_EQ(s.Value("Spooler"), "/srv/spool");  // the first match
    EXPECT_EQ(s.Value("PRINTER2"), "Laser A");
    EXPECT_EQ(s.Value("X"), "a=b");  // the value is everything after the first "="
    EXPECT_EQ(s.Value("missing"), "");

    s.SetValue("spooler", "/new");  // replaces the first line, under the name as passed
    s.SetValue("NEWKEY", "1");      // appends
    s.SetValue("printer2", "");     // removes
    EXPECT_EQ(s.Lines(), (std::vector<std::string> {"; comment line", "spooler=/new", "spooler=/second", "X=a=b", "NEWKEY=1"}));
    s.SetValue("absent", "");
    EXPECT_EQ(s.Lines().size(), 5u);
}

TEST(SettingsStore, SavesWithTheLineEndsTheFileHad)
{
    TTempDir dir;
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"A=1\r\nB=2\r\n", "A=1\r\nB=2\r\nC=3\r\n"},
        {"A=1\nB=2", "A=1\nB=2\nC=3\n"},
        {"", "C=3\r\n"},
        {"A=1\r\n\r\nplain\r\n", "A=1\r\n\r\nplain\r\nC=3\r\n"},
    };
    for (const Case& c : cases) {
        WriteFile(dir / "printserver.inf", c.in);
        TSettings s;
        ASSERT_TRUE(s.LoadFromFile(dir / "printserver.inf"));
        s.SetValue("C", "3");
        EXPECT_TRUE(s.SaveToFile(dir / "printserver.inf"));
        EXPECT_EQ(ReadFile(dir / "printserver.inf"), c.out) << c.in;
    }
    TSettings fresh;
    EXPECT_FALSE(fresh.LoadFromFile(dir / "missing.inf"));
    fresh.SetValue("A", "1");
    EXPECT_TRUE(fresh.SaveToFile(dir / "new.inf"));
    EXPECT_EQ(ReadFile(dir / "new.inf"), "A=1\r\n");
}
