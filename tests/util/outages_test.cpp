// The outage board: one line when something goes down, one when its reason
// changes, one when it works again; probes on a growing delay in between.
#include "util/outages.h"

#include "support/recordinglog.h"

#include <gtest/gtest.h>

namespace {

struct TBoard {
    TRecordingLog Log;
    TOutageBoard Board {Log};
    std::int64_t Clock = 1'000'000'000'000;
    int Probes = 0;
    bool Up = false;
    TBoard()
    {
        Board.Now = [this] { return Clock; };
    }
    TOutageBoard::TProbe Probe()
    {
        return [this]() -> TOutcome {
            ++Probes;
            if (Up)
                return TOutcome::Done();
            return Fail("still refused");
        };
    }
};

}  // namespace

TEST(OutageBoard, ABeginningAChangeAndAnEndAreOneLineEach)
{
    TBoard b;
    int changes = 0;
    b.Board.OnChanged = [&] { ++changes; };
    b.Board.Down("cups", "the print system at localhost:631", "it does not answer", "requests wait", b.Probe());
    ASSERT_EQ(b.Log.Lines.size(), 1u);
    EXPECT_EQ(b.Log.Lines[0].rfind("The print system at localhost:631 is down since ", 0), 0u) << b.Log.Lines[0];
    EXPECT_NE(b.Log.Lines[0].find(": it does not answer; requests wait."), std::string::npos) << b.Log.Lines[0];
    // The same failure again is counted, not logged.
    for (int i = 0; i < 20; ++i)
        b.Board.Down("cups", "the print system at localhost:631", "it does not answer", "requests wait", nullptr);
    EXPECT_EQ(b.Log.Lines.size(), 1u);
    EXPECT_EQ(b.Board.Find("cups")->Failures, 21);
    b.Board.Down("cups", "the print system at localhost:631", "connection reset", "", nullptr);
    ASSERT_EQ(b.Log.Lines.size(), 2u);
    EXPECT_NE(b.Log.Lines[1].find("is still down"), std::string::npos);
    EXPECT_NE(b.Log.Lines[1].find("now: connection reset."), std::string::npos) << b.Log.Lines[1];

    b.Clock += 754'000;
    b.Board.Up("cups");
    ASSERT_EQ(b.Log.Lines.size(), 3u);
    EXPECT_NE(b.Log.Lines[2].find("works again after 12 min"), std::string::npos) << b.Log.Lines[2];
    EXPECT_NE(b.Log.Lines[2].find("22 failed attempt(s)"), std::string::npos) << b.Log.Lines[2];
    EXPECT_FALSE(b.Board.IsDown("cups"));
    EXPECT_EQ(changes, 3);
    // Up on what is not down says nothing.
    b.Board.Up("cups");
    EXPECT_EQ(b.Log.Lines.size(), 3u);
}

TEST(OutageBoard, ProbesComeOnADelayThatDoublesUpToAMinute)
{
    TBoard b;
    b.Board.Down("lpr:3", "printer 3", "still refused", "", b.Probe());
    // Due 5 s, then 10, 20, 40, 60, 60 s after each failed probe.
    std::vector<std::int64_t> gaps;
    std::int64_t last = b.Clock;
    for (int step = 0; step < 400 && b.Probes < 6; ++step) {
        b.Clock += 1000;
        const int before = b.Probes;
        b.Board.ProbeDueOutages();
        if (b.Probes > before) {
            gaps.push_back(b.Clock - last);
            last = b.Clock;
        }
    }
    EXPECT_EQ(gaps, (std::vector<std::int64_t> {5000, 10000, 20000, 40000, 60000, 60000}));
    EXPECT_EQ(b.Log.Lines.size(), 1u) << "failed probes with the same reason are only counted";
    EXPECT_FALSE(b.Board.ProbeDue("lpr:3"));
    EXPECT_TRUE(b.Board.ProbeDue("lpr:4")) << "what is not down may always be tried";

    // The probe that succeeds ends it.
    b.Up = true;
    b.Clock += 60000;
    b.Board.ProbeDueOutages();
    EXPECT_FALSE(b.Board.IsDown("lpr:3"));
    EXPECT_NE(b.Log.Lines.back().find("Printer 3 works again"), std::string::npos) << b.Log.Lines.back();
}

TEST(OutageBoard, SpansAndClocksReadAsPeopleSayThem)
{
    const struct {
        std::int64_t Ms;
        const char* Text;
    } cases[] = {{0, "0 s"},          {59'999, "59 s"},          {60'000, "1 min"},
                 {3'599'000, "59 min"},  {3'600'000, "1 h"},        {3'660'000, "1 h 1 min"},
                 {86'400'000, "1 day"},  {3 * 86'400'000LL + 7'200'000, "3 days 2 h"}};
    for (const auto& c : cases)
        EXPECT_EQ(OutageSpan(c.Ms), c.Text) << c.Ms;
    const std::int64_t now = 1'765'000'000'000;
    EXPECT_EQ(OutageClock(now, now).size(), 8u);                  // hh:mm:ss
    EXPECT_EQ(OutageClock(now - 3 * 86'400'000LL, now).size(), 14u);  // dd-MM hh:mm:ss
}
