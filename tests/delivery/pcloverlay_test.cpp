#include "delivery/pcloverlay.h"

#include "support/testsupport.h"
#include "util/fileutil.h"

#include <gtest/gtest.h>

namespace {

const std::string ESC = "\x1b";
const std::string kMark = ESC + "*p6815Y";

}  // namespace

TEST(PclOverlay, MacroCallBeforeTheFirstMark)
{
    const struct {
        std::string source, number, expected;
    } cases[] = {
        {kMark + "rest", "12", ESC + "&f12Y" + ESC + "&f3X" + kMark + "rest"},
        {"set" + kMark + "a" + kMark + "b", "7", "set" + ESC + "&f7Y" + ESC + "&f3X" + kMark + "a" + kMark + "b"},
        {ESC + kMark + "x", "7", ESC + kMark + "x"},  // the second ESC breaks the match and starts none
        {"abc" + kMark, "", "abc" + kMark},
        {"", "5", ""},
        {"no mark here", "5", "no mark here"},
        {ESC + "*p6815" + kMark, "3", ESC + "*p6815" + kMark},  // the breaking ESC is not a new start
    };
    TTempDir dir;
    for (const auto& c : cases) {
        EXPECT_EQ(InsertMacroCallBytes(c.source, c.number), c.expected);
        if (c.source.empty())
            continue;  // no printer file: see below
        WriteFile(dir / "in.prn", c.source);
        EXPECT_TRUE(InsertMacroCall(dir / "in.prn", dir / "out.prn", c.number));
        EXPECT_EQ(ReadFile(dir / "out.prn"), c.expected);
    }
    EXPECT_EQ(InsertMacroCall(dir / "missing.prn", dir / "out.prn", "1").Reason(), "Cant open file " + (dir / "missing.prn"));
    // A destination folder that does not exist is not made.
    EXPECT_EQ(InsertMacroCall(dir / "in.prn", dir / "sub/out.prn", "1").Reason(), "Cant open new file " + (dir / "sub/out.prn"));
    EXPECT_FALSE(FileExists(dir / "sub/out.prn"));
}

TEST(PclOverlay, MergeOverlayFileOntoTheJobPage)
{
    const std::string home = ESC + "*p0x0Y";
    const std::string endA = "\x0c" + ESC + "E";
    const std::string endB = "\x0c" + ESC + "%-12345X";
    const std::string overlay = "SETUP" + home + "FORM" + endA + "CLOSE";
    const std::string job = "JSET" + home + "PAGE" + endA + "JCLOSE";
    EXPECT_EQ(OverlayHead(overlay), "SETUP");
    EXPECT_EQ(PageBody(overlay), home + "FORM");
    EXPECT_EQ(OverlayTail(overlay), endA + "CLOSE");

    TTempDir dir;
    WriteFile(dir / "job.prn", job);
    WriteFile(dir / "FORM1.prn", overlay);
    EXPECT_TRUE(MergeOverlayFile(dir / "job.prn", dir / "out.prn", dir / "FORM1.prn"));
    EXPECT_EQ(ReadFile(dir / "out.prn"), "SETUP" + home + "PAGE" + home + "FORM" + endA + "CLOSE");

    // Page end B when A is absent; vertical home when the cursor home is absent.
    const std::string overlayB = "S" + ESC + "*p0Y" + "F" + endB + "Z";
    EXPECT_EQ(OverlayHead(overlayB), "S");
    EXPECT_EQ(PageBody(overlayB), "F");
    EXPECT_EQ(OverlayTail(overlayB), endB + "Z");
    EXPECT_EQ(PageBody("nothing"), "");
    EXPECT_EQ(PageBody(endA + home), "");  // the end lies before the start
    EXPECT_EQ(OverlayTail("no end"), "no end");

    EXPECT_EQ(MergeOverlayFile(dir / "none.prn", dir / "x.prn", dir / "FORM1.prn").Reason(), "Cant open file " + (dir / "none.prn"));
    EXPECT_FALSE(FileExists(dir / "x.prn"));
    EXPECT_EQ(MergeOverlayFile(dir / "job.prn", dir / "x.prn", dir / "none.prn").Reason(), "Cant open file " + (dir / "none.prn"));
}

// An empty printer file holds no job, and no retry fills it: neither step
// makes a prepared copy of it, and each says which file was empty.
TEST(PclOverlay, AnEmptyInputFailsForGoodAndMakesNoCopy)
{
    TTempDir dir;
    WriteFile(dir / "empty.prn", "");
    WriteFile(dir / "job.prn", ESC + "*p0x0Y" + "PAGE\x0c" + ESC + "E");
    WriteFile(dir / "FORM1.prn", ESC + "*p0x0Y" + "FORM\x0c" + ESC + "E");
    const struct {
        const char* what;
        TOutcome outcome;
    } cases[] = {
        {"macro", InsertMacroCall(dir / "empty.prn", dir / "out.prn", "5")},
        {"no macro", InsertMacroCall(dir / "empty.prn", dir / "out.prn", "")},
        {"merged job", MergeOverlayFile(dir / "empty.prn", dir / "out.prn", dir / "FORM1.prn")},
        {"merged overlay", MergeOverlayFile(dir / "job.prn", dir / "out.prn", dir / "empty.prn")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.outcome);
        EXPECT_EQ(c.outcome.Kind(), TFailureKind::Final);
        EXPECT_EQ(c.outcome.Reason(), "the printer file " + (dir / "empty.prn") + " is empty");
    }
    EXPECT_FALSE(FileExists(dir / "out.prn"));
}
