#include "print/pagesetup.h"
#include "support/recordinglog.h"

#include <gtest/gtest.h>
#include <vector>

TEST(PageSetup, PaperCodeFromThePageHeight)
{
    const struct {
        int w, h;
        std::uint16_t code;
    } cases[] = {
        {11906, 16838, kPaperA4},   {16838, 11906, kPaperA4}, {12240, 15840, kPaperLetter}, {11906, 8391, kPaperA5},
        {8391, 11906, kPaperA4},    {16838, 23811, kPaperA4}, {16838, 33480, kPaperA3},     {11895, 16830, kPaperA4},
        {12240, 16128, kPaperLetter}, {12240, 16200, kPaperA4}, {1440, 0, kPaperA4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PaperSizeFromPage(c.w, c.h), c.code) << c.w << " x " << c.h;
}

TEST(PageSetup, RequestOverridesAreLogged)
{
    TRecordingLog log;
    TJobPageSetup setup;
    FillPageSetup(setup, 11906, 16838, "", "", log);
    EXPECT_FALSE(setup.PageLandscape);
    EXPECT_EQ(setup.PagePaperSize, kPaperA4);
    EXPECT_TRUE(log.Lines.empty());

    FillPageSetup(setup, 11906, 16838, "LANDSCAPE", "US Letter", log);
    EXPECT_TRUE(setup.PageLandscape);
    EXPECT_EQ(setup.PagePaperSize, kPaperLetter);
    EXPECT_EQ(log.Lines, (std::vector<std::string> {"Selected Landscape paper orientation", "Overriding Paper size to US Letter"}));

    log.Clear();
    FillPageSetup(setup, 16838, 11906, "portrait", "Legal", log);
    EXPECT_FALSE(setup.PageLandscape);
    EXPECT_EQ(setup.PagePaperSize, kPaperA4);  // derived from the page, kept
    EXPECT_EQ(log.Lines, (std::vector<std::string> {"Selected Portrait paper orientation", "Overriding Paper size to Legal",
                                                    "Paper Legal is not known."}));
    FillPageSetup(setup, 11906, 16838, "", "A4 plain", log);
    EXPECT_EQ(setup.PagePaperSize, kPaperA4);
    FillPageSetup(setup, 11906, 16838, "", "a3 a4", log);
    EXPECT_EQ(setup.PagePaperSize, kPaperA4);  // "a4" is tested first
}
