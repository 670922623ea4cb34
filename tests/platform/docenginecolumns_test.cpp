// Newspaper columns and each section's own page: where the text stands on
// the drawn page (96 dots to the inch, 15 twips to the pixel) and the sizes
// of the PDF's pages. The positions are LibreOffice 7.4's for the same RTF.
#include "enginesupport.h"

#include "support/testsupport.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <string>

namespace {

std::string Rtf(const std::string& section, const std::string& body)
{
    return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\n"
           "\\paperw12240\\paperh15840\\margl1800\\margr1800\\margt1440\\margb1440" +
           section + "\n" + body + "}";
}

std::string Lines(int count, const std::string& text)
{
    std::string body;
    for (int i = 0; i < count; ++i)
        body += "{\\pard\\plain\\f0\\fs20 " + text + "\\par}\n";
    return body;
}

// The leftmost and the rightmost ink of a band of rows right of a column of pixels.
std::pair<int, int> InkBetween(const QImage& page, int fromX, int top, int bottom)
{
    int left = page.width(), right = -1;
    for (int y = top; y < bottom; ++y)
        for (int x = fromX; x < page.width(); ++x)
            if (IsDark(page.pixelColor(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

std::string PdfPageSize(DocumentEngine& e, int page)
{
    TTempDir dir;
    WriteFile(dir / "p.pdf", e.PdfBytes(QStringLiteral("p")).toStdString());
    QProcess info;
    const QString n = QString::number(page);
    info.start("pdfinfo", {"-f", n, "-l", n, QString::fromStdString(dir / "p.pdf")});
    info.waitForFinished(30000);
    const std::string out = info.readAllStandardOutput().toStdString();
    const auto at = out.find("Page" + std::string(page < 10 ? "    " : "   ") + std::to_string(page) + " size:");
    return at == std::string::npos ? out : out.substr(at, out.find('\n', at) - at);
}

}  // namespace

TEST(EngineColumns, TextRunsDownTheFirstColumnThenTheSecond)
{
    // Two columns of (12240 - 3600 - 720) / 2 = 3960 twips: the second
    // starts at 1800 + 3960 + 720 = 6480 twips, 432 pixels.
    auto e = LoadRtf(Rtf("\\cols2\\colsx720", Lines(80, "Column text")));
    ASSERT_EQ(e->CurrentPages(), 1);
    const QImage page = RenderPage(*e, 1);
    const auto [left, right] = InkBetween(page, 300, 100, 200);
    EXPECT_NEAR(left, 432, 2);
    EXPECT_LT(right, 432 + 3960 / 15);
    // The first column holds as many lines as the page: its last one is near the foot.
    EXPECT_GT(InkBetween(page, 0, 1440 / 15 + 9000 / 15, 15840 / 15 - 1440 / 15).second, 0);
}

TEST(EngineColumns, AColumnBreakStartsTheNextColumnThenAPage)
{
    auto e = LoadRtf(Rtf("\\cols2\\colsx720", "{\\pard\\plain\\f0\\fs20 Left\\column Right\\column Next\\par}"));
    ASSERT_EQ(e->CurrentPages(), 2);
    const QImage page = RenderPage(*e, 1);
    EXPECT_NEAR(InkBetween(page, 300, 90, 120).first, 432, 2);
    EXPECT_NE(PageText(*e, 2).find("Next"), std::string::npos);
    // Written and read again, the columns and the breaks stay.
    TTempDir dir;
    ASSERT_TRUE(e->SaveDocument(QString::fromStdString(dir / "c.rtf"), DocumentEngine::WordFormat));
    DocumentEngine again;
    ASSERT_TRUE(again.LoadDocument(QString::fromStdString(dir / "c.rtf")));
    EXPECT_EQ(again.CurrentPages(), 2);
    EXPECT_EQ(again.PageSetup().Columns, 2);
    EXPECT_NEAR(InkBetween(RenderPage(again, 1), 300, 90, 120).first, 432, 2);
}

TEST(EngineSections, ALandscapeSectionHasItsPageSizeAndItsWidth)
{
    // A portrait page, then a landscape section with 1-inch margins: its
    // lines run to 15840 - 1440 twips, beyond the portrait text's 10440.
    const std::string landscape = "\\sect\\sectd\\lndscpsxn\\pgwsxn15840\\pghsxn12240\\marglsxn1440\\margrsxn1440\n";
    const std::string words = "the results are shown below as measured on the analyser one hour after collection "
                              "and reviewed by the laboratory team, seven samples were repeated and no changes seen";
    auto e = LoadRtf(Rtf("", Lines(3, words) + landscape + Lines(3, words)));
    ASSERT_EQ(e->CurrentPages(), 2);
    EXPECT_NE(PdfPageSize(*e, 1).find("612 x 792"), std::string::npos) << PdfPageSize(*e, 1);
    EXPECT_NE(PdfPageSize(*e, 2).find("792 x 612"), std::string::npos) << PdfPageSize(*e, 2);
    const auto [left, right] = InkBetween(RenderPage(*e, 2), 0, 90, 120);
    EXPECT_NEAR(left, 1440 / 15, 2);
    EXPECT_GT(right, 10440 / 15 + 60);
    EXPECT_LE(right, (15840 - 1440) / 15);
    // The portrait page keeps its own width.
    EXPECT_LE(InkBetween(RenderPage(*e, 1), 0, 90, 120).second, 10440 / 15);
}

TEST(EngineSections, SectionMarksInsideHeadersAndFootersChangeNoSection)
{
    // Word writes a section mark after a field's result in a footer; the
    // main text's section keeps its columns and margins.
    struct Case {
        const char* part;
        int columns, marginL;
    };
    const Case cases[] = {
        {"", 2, 2880},
        {"{\\footer\\pard Page {\\field{\\*\\fldinst PAGE}{\\fldrslt 1}}\\sectd\\ltrsect\\par}", 2, 2880},
        {"{\\header\\pard Head\\sectd\\cols1\\marglsxn1000\\par}", 2, 2880},
        {"{\\footnote\\pard Note\\sectd\\par}", 2, 2880},
    };
    for (const Case& c : cases) {
        auto e = LoadRtf(Rtf(std::string("\\sectd\\cols2\\colsx440\\marglsxn2880") + c.part, Lines(3, "Text")));
        EXPECT_EQ(e->PageSetupOf(1).Columns, c.columns) << c.part;
        EXPECT_EQ(e->PageSetupOf(1).MarginL, c.marginL) << c.part;
    }
}

TEST(EngineSections, HeadersAndFootersSpanTheirSectionsWidth)
{
    // A portrait page, then a landscape one: a right-aligned header and
    // footer end at each page's own right margin (with and without a page field).
    const std::string landscape = "\\sect\\sectd\\lndscpsxn\\pgwsxn15840\\pghsxn12240\\marglsxn1440\\margrsxn1440\n";
    const char* parts[] = {
        "{\\header\\pard\\qr Head\\par}{\\footer\\pard\\qr Foot\\par}",
        "{\\header\\pard\\qr Head {\\field{\\*\\fldinst PAGE}{\\fldrslt 1}}\\par}{\\footer\\pard\\qr Foot\\par}",
    };
    for (const char* part : parts) {
        auto e = LoadRtf(Rtf(part, Lines(1, "Portrait") + landscape + Lines(1, "Landscape")));
        ASSERT_EQ(e->CurrentPages(), 2);
        const QImage portrait = RenderPage(*e, 1), wide = RenderPage(*e, 2);
        EXPECT_NEAR(InkBetween(portrait, 0, 60, 94).second, (12240 - 1800) / 15, 3) << part;
        EXPECT_NEAR(InkBetween(wide, 0, 60, 94).second, (15840 - 1440) / 15, 3) << part;
        EXPECT_NEAR(InkBetween(wide, 0, wide.height() - 96, wide.height() - 60).second, (15840 - 1440) / 15, 3)
            << part;
    }
}
