// Lines broken where the word processor breaks them, checked on long
// documents whose page counts LibreOffice 7.4 gave (soffice --headless
// --convert-to pdf of the same RTF, pages from pdfinfo, with this machine's
// Liberation fonts), and on single lines just over and under their width.
#include "enginesupport.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// 93 characters whose exact advances (10 pt Liberation Sans) come to 8641
// twips, and to 8635 with each advance rounded as LibreOffice rounds it.
const std::string kNearLine =
    "Aa tg ubpp duhetn nt dhbetdtbta pno ptophegptaut hu bg napt epto nhp dtp bub ub egtnbgttphnnb";

const char* const kWords[] = {
    "the",        "patient",   "sample",  "was",     "analysed",   "and",        "results",   "are",
    "shown",      "below",     "as",      "measured", "on",        "the",        "analyser",  "one",
    "hour",       "after",     "collection", "reviewed", "by",     "laboratory", "team",      "seven",
    "samples",    "were",      "repeated", "no",     "changes",    "seen",       "haemoglobin", "platelets",
    "creatinine", "sodium",    "potassium", "within", "reference",  "range",      "please",    "contact",
    "us",         "if",        "you",     "have",    "any",        "questions"};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

// The same numbers on every machine.
struct TLcg {
    unsigned X;
    int Next(int n)
    {
        X = X * 1103515245u + 12345u;
        return static_cast<int>((X >> 16) % static_cast<unsigned>(n));
    }
};

std::string Head(int margin)
{
    const std::string m = std::to_string(margin);
    return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman Times New Roman;}"
           "{\\f2\\fmodern Courier New;}}\n\\paperw12240\\paperh15840\\margl" +
           m + "\\margr" + m + "\\margt1440\\margb1440\n";
}

std::string Paragraph(const std::string& pard, int font, int halfPoints, bool bold, const std::string& text)
{
    return "{\\pard" + pard + "\\plain\\f" + std::to_string(font) + "\\fs" + std::to_string(halfPoints) +
           (bold ? "\\b" : "") + " " + text + "\\par}\n";
}

std::string Words(TLcg& random, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? " " : "") + std::string(kWords[random.Next(kWordCount)]);
    return text;
}

// 4,000 one-line paragraphs on a 6-inch width, the last 3,000 a character
// longer: exactly, those are wider than the line; rounded, they fit it.
std::string NearLines()
{
    std::string rtf = Head(1800);
    for (int i = 0; i < 4000; ++i)
        rtf += Paragraph("", 0, 20, false, i < 1000 ? kNearLine.substr(0, kNearLine.size() - 1) : kNearLine);
    return rtf + "}";
}

// Three fonts in seven sizes, bold or not, with space before and after and
// line spacing at least, exactly and as a multiple.
std::string MixedSizes()
{
    const int sizes[] = {16, 18, 20, 21, 22, 24, 28};
    const char* const spacings[] = {"", "\\sb120", "\\sa120", "\\sb60\\sa60", "\\sl360\\slmult1", "\\sl-300\\slmult0",
                                    "\\sl280\\slmult0"};
    TLcg random {1};
    std::string rtf = Head(1800);
    for (int i = 0; i < 600; ++i) {
        const int size = sizes[random.Next(7)];
        const int font = random.Next(3);
        const bool bold = random.Next(3) == 0;
        const std::string spacing = spacings[random.Next(7)];
        const int count = 3 + random.Next(58);
        rtf += Paragraph(spacing, font, size, bold, Words(random, count));
    }
    return rtf + "}";
}

// A long justified letter in 12-point Times with a space after each paragraph.
std::string LongLetter()
{
    TLcg random {2};
    std::string rtf = Head(1440);
    for (int i = 0; i < 400; ++i) {
        const int count = 20 + random.Next(101);
        rtf += Paragraph("\\sa240\\qj", 1, 24, false, Words(random, count));
    }
    return rtf + "}";
}

}  // namespace

TEST(EngineLines, ALineThatFitsOnceRoundedStaysOneLine)
{
    // LibreOffice keeps the line on the 8640-twip width and wraps its last
    // word once the width is under the rounded 8635 twips.
    auto e = LoadRtf(Head(1800) + Paragraph("", 0, 20, false, kNearLine) + "}");
    EXPECT_NE(PageText(*e, 1).find("ub egtnbgttphnnb"), std::string::npos);
    auto narrower = LoadRtf(Head(1800) + Paragraph("\\ri8", 0, 20, false, kNearLine) + "}");
    EXPECT_NE(PageText(*narrower, 1).find("ub\negtnbgttphnnb"), std::string::npos);
}

TEST(EngineLines, LongDocumentsHaveTheWordProcessorsPageCount)
{
    struct TCase {
        const char* Name;
        std::string Rtf;
        int Pages;  // LibreOffice 7.4's
    };
    const TCase cases[] = {{"lines at the width", NearLines(), 72},
                           {"mixed sizes", MixedSizes(), 42},
                           {"long letter", LongLetter(), 54}};
    for (const TCase& c : cases) {
        auto e = LoadRtf(c.Rtf);
        EXPECT_EQ(e->CurrentPages(), c.Pages) << c.Name;
    }
}

TEST(EngineLines, AWordCarriedToTheNextLineReadsInThePdf)
{
    // "quiz" has letters the first line has not: its glyphs are first drawn
    // from the middle of the paragraph's run of text.
    auto e = LoadRtf(Head(1800) + Paragraph("\\ri7000", 0, 20, false, "mmmm mmmm mmmm quiz") + "}");
    EXPECT_NE(PageText(*e, 1).find("quiz"), std::string::npos);
}

TEST(EngineLines, TheSpacingThatMatchesWidthsIsNotWritten)
{
    // Laid out first, the letterhead's text has the layout's spacing; the
    // template's text in the same look joins it as one run, as it did before.
    TTempDir dir;
    WriteFile(dir / "head.rtf", Head(1800) + "{\\pard\\plain\\f0\\fs20 Dear patient,}}");
    WriteFile(dir / "body.rtf", Head(1800) + "{\\pard\\plain\\f0\\fs20  your results}}");
    auto saved = [&](bool laidOut) {
        DocumentEngine e;
        EXPECT_TRUE(e.LoadDocument(QString::fromStdString(dir / "head.rtf")));
        if (laidOut) {
            EXPECT_EQ(e.CurrentPages(), 1);
        }
        const int end = static_cast<int>(e.PartText(DocumentEngine::MainPart).size());
        EXPECT_TRUE(e.InsertDocument(QString::fromStdString(dir / "body.rtf"), end, 0));
        EXPECT_TRUE(e.SaveDocument(QString::fromStdString(dir / "out.rtf"), DocumentEngine::WordFormat));
        return ReadFile(dir / "out.rtf");
    };
    const std::string plain = saved(false);
    EXPECT_NE(plain.find("Dear patient, your results"), std::string::npos) << plain;
    EXPECT_EQ(saved(true), plain);
}
