// Pages as the word processor shows them, on small RTF files made for each
// case: tables, breaks, header variants, pictures, metafiles, frames and
// shapes, form fields, lists, footnotes. Positions are checked where the
// reader of a report sees them: on the drawn page (96 dots to the inch, so
// one pixel is 15 twips) or in the PDF's text.
#include "enginesupport.h"

#include "support/testsupport.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QtEndian>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Default RTF page: letter, 1800 twips left and 1440 top margins.
constexpr int kLeft = 1800 / 15;
constexpr int kTop = 1440 / 15;

std::string Rtf(const std::string& body)
{
    return "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}{\\f1\\fnil\\fcharset2 Symbol;}}"
           "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}" +
           body + "}";
}

std::string Hex(const QByteArray& bytes)
{
    return bytes.toHex().toStdString();
}

// The x positions (pixels) of vertical lines crossing a row of pixels.
std::vector<int> VerticalLines(const QImage& page, int y)
{
    std::vector<int> lines;
    for (int x = 0; x < page.width(); ++x)
        if (IsDark(page.pixelColor(x, y)) && (lines.empty() || x - lines.back() > 2))
            lines.push_back(x);
    return lines;
}

// The y positions of horizontal lines crossing a column of pixels.
std::vector<int> HorizontalLines(const QImage& page, int x)
{
    std::vector<int> lines;
    for (int y = 0; y < page.height(); ++y)
        if (IsDark(page.pixelColor(x, y)) && (lines.empty() || y - lines.back() > 2))
            lines.push_back(y);
    return lines;
}

bool Near(const std::vector<int>& found, const std::vector<int>& expected, int tolerance = 2)
{
    if (found.size() != expected.size())
        return false;
    for (std::size_t i = 0; i < found.size(); ++i)
        if (std::abs(found[i] - expected[i]) > tolerance)
            return false;
    return true;
}

std::string Join(const std::vector<int>& values)
{
    std::string out;
    for (int v : values)
        out += std::to_string(v) + " ";
    return out;
}

// The top of the last line's ink on a page.
int LastLine(const QImage& page)
{
    const auto inked = [&](int y) { return CountPixels(page, QRect(0, y, page.width(), 1), IsDark) > 0; };
    int y = page.height() - 1;
    while (y >= 0 && !inked(y))
        --y;
    while (y > 0 && inked(y - 1))
        --y;
    return y;
}

QTextTable* FirstTable(QTextDocument* doc)
{
    for (auto it = doc->rootFrame()->begin(); !it.atEnd(); ++it)
        if (auto* table = qobject_cast<QTextTable*>(it.currentFrame()))
            return table;
    return nullptr;
}

// The rendered size (twips) of the inline pictures of the main text.
std::vector<QSizeF> InlinePictures(DocumentEngine& e)
{
    std::vector<QSizeF> sizes;
    QTextDocument* doc = e.PartDocument(DocumentEngine::MainPart);
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat()) {
                const QTextImageFormat f = it.fragment().charFormat().toImageFormat();
                sizes.emplace_back(f.width() * 15, f.height() * 15);
            }
    return sizes;
}

// 16-bit little-endian words.
QByteArray Words(const std::vector<int>& values)
{
    QByteArray out;
    for (int v : values) {
        char b[2];
        qToLittleEndian<quint16>(static_cast<quint16>(v), b);
        out.append(b, 2);
    }
    return out;
}

// A small Windows metafile: the left half of its window a red bitmap, the
// right half the word "WMF" in a large font.
QByteArray Wmf()
{
    QByteArray records;
    auto record = [&](int function, const QByteArray& params) {
        const int words = 3 + static_cast<int>(params.size() / 2);
        records += Words({words & 0xFFFF, words >> 16, function}) + params;
    };
    record(0x020B, Words({0, 0}));       // SETWINDOWORG y, x
    record(0x020C, Words({500, 1000}));  // SETWINDOWEXT y, x
    // A 2 x 2 red DIB, 24 bits, rows padded to four bytes.
    QByteArray dib = Words({40, 0, 2, 0, 2, 0, 1, 24}) + QByteArray(24, '\0');
    dib += QByteArray::fromHex("0000ff0000ff00000000ff0000ff0000");
    // STRETCHDIB: raster op, colour use, source h, w, y, x, destination h, w, y, x.
    record(0x0F43, Words({0x0020, 0x00CC, 0, 2, 2, 0, 0, 500, 500, 0, 0}) + dib);
    // CREATEFONTINDIRECT: height, width, escapement, orientation, weight, flags, face.
    QByteArray font = Words({static_cast<quint16>(-200), 0, 0, 0, 700, 0, 0, 0, 0}) + QByteArray("Arial");
    font += QByteArray(32 - 5, '\0');
    record(0x02FB, font);
    record(0x012D, Words({0}));                          // SELECTOBJECT
    record(0x0521, Words({3}) + QByteArray("WMF\0", 4) + Words({150, 600}));  // TEXTOUT: length, text, y, x
    record(0x0000, {});                                  // EOF
    QByteArray header = Words({1, 9, 0x0300});
    const int size = (18 + static_cast<int>(records.size())) / 2;
    header += Words({size & 0xFFFF, size >> 16, 1, 64, 0, 0});
    return header + records;
}

}  // namespace

TEST(EngineTables, CellRectanglesBordersMergesAndRowHeights)
{
    // Three columns at 2000, 5000 and 8000 twips from the margin. Row 2
    // merges its first two cells; the third column's cell spans rows 2
    // and 3; rows 1 and 2 are at least 600 twips high.
    const std::string borders = "\\clbrdrt\\brdrs\\brdrw15\\clbrdrl\\brdrs\\brdrw15\\clbrdrb\\brdrs\\brdrw15"
                                "\\clbrdrr\\brdrs\\brdrw15";
    const std::string rtf = Rtf(
        "\\trowd\\trgaph0\\trleft0\\trrh600" + borders + "\\cellx2000" + borders + "\\cellx5000" + borders +
        "\\cellx8000\\pard\\intbl a\\cell b\\cell c\\cell\\row"
        "\\trowd\\trgaph0\\trleft0\\trrh600" + borders + "\\clmgf\\cellx2000" + borders + "\\clmrg\\cellx5000" + borders +
        "\\clvmgf\\cellx8000\\pard\\intbl d\\cell\\cell e\\cell\\row"
        "\\trowd\\trgaph0\\trleft0" + borders + "\\cellx2000" + borders + "\\cellx5000" + borders +
        "\\clvmrg\\cellx8000\\pard\\intbl f\\cell g\\cell\\cell\\row\\pard after\\par");
    auto e = LoadRtf(rtf);
    EXPECT_EQ(e->Text().split('\n', Qt::SkipEmptyParts).join(' '), "a b c d e f g after");

    auto check = [](DocumentEngine& engine, const char* what) {
        SCOPED_TRACE(what);
        const QImage page = RenderPage(engine, 1);
        // Horizontal lines down the first column (right of its text) and the third.
        const std::vector<int> rows = HorizontalLines(page, kLeft + 100);
        ASSERT_EQ(rows.size(), 4u) << Join(rows);
        EXPECT_NEAR(rows[0], kTop, 2);
        EXPECT_NEAR(rows[1] - rows[0], 600 / 15, 2) << "row 1 keeps its height";
        const std::vector<int> third = HorizontalLines(page, kLeft + 6500 / 15);
        EXPECT_TRUE(Near(third, {rows[0], rows[1], rows[3]})) << "no line inside the merged cell: " << Join(third);
        // Vertical lines across each row.
        const int edges[] = {kLeft, kLeft + 2000 / 15, kLeft + 5000 / 15, kLeft + 8000 / 15};
        // Below the cells' text.
        const std::vector<int> row1 = VerticalLines(page, rows[1] - 8);
        const std::vector<int> row2 = VerticalLines(page, rows[2] - 8);
        EXPECT_TRUE(Near(row1, {edges[0], edges[1], edges[2], edges[3]})) << Join(row1);
        EXPECT_TRUE(Near(row2, {edges[0], edges[2], edges[3]})) << "merged across: " << Join(row2);
    };
    check(*e, "as read");
    ASSERT_EQ(e->CurrentPages(), 1);

    // Written back as a table and read again: the same grid.
    TTempDir dir;
    ASSERT_TRUE(e->SaveDocument(QString::fromStdString(dir / "again.rtf"), DocumentEngine::WordFormat));
    DocumentEngine again;
    ASSERT_TRUE(again.LoadDocument(QString::fromStdString(dir / "again.rtf")));
    QTextTable* table = FirstTable(again.PartDocument(DocumentEngine::MainPart));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rows(), 3);
    EXPECT_EQ(table->columns(), 3);
    EXPECT_EQ(table->cellAt(1, 0).columnSpan(), 2);
    EXPECT_EQ(table->cellAt(1, 2).rowSpan(), 2);
    EXPECT_EQ(again.Text(), e->Text());
    check(again, "after saving and loading");
}

// Two cells meeting at an edge draw one line there: the wider of the two
// edges the file gives them, in its colour, whichever cell gives it.
TEST(EngineTables, ASharedEdgeIsTheWiderOfTheTwoCellsEdges)
{
    struct TCase {
        const char* Left;   // the first cell's right edge
        const char* Right;  // the second cell's left edge
        bool (*Colour)(const QColor&);
        int Pixels;         // at 96 dpi
    };
    const TCase cases[] = {
        {"\\clbrdrr\\brdrs\\brdrw60\\brdrcf1", "\\clbrdrl\\brdrs\\brdrw15", IsRed, 4},
        {"\\clbrdrr\\brdrs\\brdrw15", "\\clbrdrl\\brdrs\\brdrw60\\brdrcf2", IsBlue, 4},
        {"", "\\clbrdrl\\brdrs\\brdrw30\\brdrcf1", IsRed, 2},
        {"\\clbrdrr\\brdrs\\brdrw30\\brdrcf2", "", IsBlue, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Left) + " | " + c.Right);
        auto e = LoadRtf(Rtf(std::string("\\trowd\\trgaph0\\trleft0\\trrh600") + c.Left + "\\cellx2000" + c.Right +
                             "\\cellx5000\\pard\\intbl a\\cell b\\cell\\row\\pard after\\par"));
        const QImage page = RenderPage(*e, 1);
        const int edge = kLeft + 2000 / 15;
        const QRect across(edge - 8, kTop + 30, 17, 1);  // below the text of the row
        const int coloured = CountPixels(page, across, c.Colour);
        EXPECT_GE(coloured, c.Pixels - 1);
        EXPECT_LE(coloured, c.Pixels + 1);
        EXPECT_EQ(CountPixels(page, across, IsDark), 0) << "the narrower edge is not drawn beside it";
        EXPECT_EQ(CountPixels(page, QRect(kLeft - 8, kTop + 30, 17, 1), [](const QColor& p) {
                      return p != QColor(Qt::white);
                  }),
                  0)
            << "no edge where the file gives none";
    }
}

// A cell's first paragraph keeps its space before and its last one its
// space after, as in the word processor: the text below the table stands
// where it stands below the same paragraphs outside a table.
TEST(EngineTables, ACellKeepsItsParagraphsSpaceBeforeAndAfter)
{
    struct Case {
        const char* cell;  // a cell's paragraphs, the last one ended by \\cell
        const char* body;  // the same paragraphs outside a table
    };
    const Case cases[] = {
        {"\\sb480 X", "\\sb480 X\\par"},
        {"\\sa480 X", "\\sa480 X\\par"},
        {"\\sb240\\sa480 X", "\\sb240\\sa480 X\\par"},
        {"\\sb240\\sa240 X\\par Y", "\\sb240\\sa240 X\\par Y\\par"},
    };
    for (const Case& c : cases) {
        const std::string row = std::string("\\trowd\\cellx4000\\cellx8000\\pard\\intbl") + c.cell +
                                "\\cell Z\\cell\\row";
        auto table = LoadRtf(Rtf("A\\par" + row + row + "\\pard B\\par"));
        auto body = LoadRtf(Rtf(std::string("A\\par\\pard") + c.body + "\\pard" + c.body + "\\pard B\\par"));
        EXPECT_NEAR(LastLine(RenderPage(*table, 1)), LastLine(RenderPage(*body, 1)), 1) << c.cell;
    }
    // At the top of a page, after a hard break and after running over.
    const std::string row = "\\trowd\\cellx4000\\pard\\intbl\\sb480 X\\cell\\row";
    auto broken = LoadRtf(Rtf("A\\par{\\page}{\\par}" + row + "\\pard B\\par"));
    auto ranOver = LoadRtf(Rtf("\\pard\\sl-12900\\slmult0 A\\par" + row + "\\pard B\\par"));
    auto reference = LoadRtf(Rtf("\\pard\\sb480 X\\par\\pard B\\par"));
    ASSERT_EQ(broken->CurrentPages(), 2);
    ASSERT_EQ(ranOver->CurrentPages(), 2);
    EXPECT_NEAR(LastLine(RenderPage(*broken, 2)), LastLine(RenderPage(*reference, 1)), 1);
    EXPECT_NEAR(LastLine(RenderPage(*ranOver, 2)), LastLine(RenderPage(*reference, 1)), 1);
}

// An empty cell is as tall as a line of the font at its cell mark, like an
// empty paragraph: a row of small text beside empty 12-point cells is a
// 12-point line high.
TEST(EngineTables, AnEmptyCellIsAsTallAsTheFontAtItsMark)
{
    const char* rows[] = {
        "{\\fs12 S}{\\fs24\\cell\\cell}",
        "{\\fs12 S\\cell}{\\fs24\\cell}",
        "{\\fs24\\cell}{\\fs12 S\\cell}",
    };
    auto reference = LoadRtf(Rtf("A\\par\\pard\\fs24 X\\par X\\par X\\par\\pard\\plain B\\par"));
    for (const char* cells : rows) {
        const std::string row = std::string("\\trowd\\cellx3000\\cellx6000\\pard\\plain\\intbl") + cells + "\\row";
        auto e = LoadRtf(Rtf("A\\par" + row + row + row + "\\pard\\plain B\\par"));
        EXPECT_NEAR(LastLine(RenderPage(*e, 1)), LastLine(RenderPage(*reference, 1)), 1) << cells;
    }
}

// A table without a header row, cut between two rows: the part on the next
// page starts with the line above its first row.
TEST(EngineTables, ATableContinuedOnTheNextPageStartsWithItsTopLine)
{
    const std::string borders = "\\clbrdrt\\brdrs\\brdrw15\\clbrdrl\\brdrs\\brdrw15\\clbrdrb\\brdrs\\brdrw15"
                                "\\clbrdrr\\brdrs\\brdrw15";
    std::string rows;
    for (int i = 0; i < 80; ++i)
        rows += "\\trowd\\trgaph0\\trleft0" + borders + "\\cellx3000" + borders + "\\cellx6000\\pard\\intbl Row" +
                std::to_string(i) + "\\cell " + std::to_string(i * 7) + "\\cell\\row";
    auto e = LoadRtf(Rtf(rows + "\\pard End\\par"));
    ASSERT_GE(e->CurrentPages(), 2);
    const QImage second = RenderPage(*e, 2);
    const std::vector<int> lines = HorizontalLines(second, kLeft + 1500 / 15);
    ASSERT_FALSE(lines.empty());
    EXPECT_NEAR(lines.front(), kTop, 3) << Join(lines);
}

TEST(EngineTables, RowsSplitAcrossPagesRepeatTheHeaderRow)
{
    std::string rows = "\\trowd\\trhdr\\trgaph0\\cellx3000\\cellx6000\\pard\\intbl Test\\cell Result\\cell\\row";
    for (int i = 0; i < 80; ++i)
        rows += "\\trowd\\trgaph0\\cellx3000\\cellx6000\\pard\\intbl Row" + std::to_string(i) + "\\cell " +
                std::to_string(i * 7) + "\\cell\\row";
    auto e = LoadRtf(Rtf(rows + "\\pard End\\par"));
    ASSERT_GE(e->CurrentPages(), 2);
    for (int page = 1; page <= e->CurrentPages(); ++page) {
        const std::string text = PageText(*e, page);
        EXPECT_EQ(text.find("Test"), text.find_first_not_of(" \n")) << "page " << page << " starts with the header row";
    }
    // No row is drawn twice or lost at the cut.
    std::string all;
    for (int page = 1; page <= e->CurrentPages(); ++page)
        all += PageText(*e, page);
    for (int i = 0; i < 80; ++i) {
        const std::string row = "Row" + std::to_string(i) + "\n";
        EXPECT_NE(all.find(row), std::string::npos) << row;
        EXPECT_EQ(all.find(row), all.rfind(row)) << row;
    }
}

TEST(EngineTables, ARowTallerThanAPageGoesOnOverThePages)
{
    // A comment cell of 150 lines beside a short one: nothing may be lost
    // at the foot of a page, nor drawn twice.
    std::string cell;
    for (int i = 0; i < 150; ++i)
        cell += "Line" + std::to_string(i) + "\\par ";
    auto e = LoadRtf(Rtf("\\trowd\\trgaph0\\cellx3000\\cellx8000\\pard\\intbl Short\\cell " + cell +
                         "End\\cell\\row\\pard After\\par"));
    ASSERT_GE(e->CurrentPages(), 3);
    std::string all;
    for (int page = 1; page <= e->CurrentPages(); ++page)
        all += PageText(*e, page);
    for (int i = 0; i < 150; ++i) {
        const std::string line = "Line" + std::to_string(i) + "\n";
        EXPECT_NE(all.find(line), std::string::npos) << line;
        EXPECT_EQ(all.find(line), all.rfind(line)) << line;
    }
    EXPECT_NE(all.find("After"), std::string::npos);
}

TEST(EngineTables, NestingIsBoundedAndKeepsTheText)
{
    // Each nesting level multiplies the table layout's work; a claimed depth
    // of thousands must neither hang the layout nor lose the cell's text.
    std::function<int(QTextFrame*)> depth = [&](QTextFrame* frame) {
        int deepest = 0;
        for (QTextFrame* child : frame->childFrames())
            deepest = std::max(deepest, depth(child) + (qobject_cast<QTextTable*>(child) ? 1 : 0));
        return deepest;
    };
    for (const char* itap : {"3", "133428"}) {
        SCOPED_TRACE(itap);
        auto e = LoadRtf(Rtf(std::string("\\trowd\\cellx2000\\pard\\intbl\\itap") + itap +
                             " deep\\cell\\row\\pard after\\par"));
        const int found = depth(e->PartDocument(DocumentEngine::MainPart)->rootFrame());
        EXPECT_GE(found, itap[1] ? 8 : 3);
        EXPECT_LE(found, 8);
        EXPECT_EQ(e->Text().split('\n', Qt::SkipEmptyParts).join(' '), "deep after");
    }
}

TEST(EngineBreaks, PageCountFollowsBreaks)
{
    struct Case {
        const char* body;
        int pages;
    };
    const Case cases[] = {
        {"A\\par B\\par", 1},
        {"A\\line B\\par", 1},
        {"A\\page B\\par", 2},
        {"A\\par\\page B\\par", 2},
        {"A\\page\\page B\\par", 3},
        {"A\\par\\pard\\pagebb B\\par", 2},
        {"A\\sect B\\par", 2},
        {"A\\sect\\sectd\\sbknone B\\par", 1},
        {"A\\page B\\sect C\\page D\\par", 4},
    };
    for (const Case& c : cases) {
        auto e = LoadRtf(Rtf(c.body));
        EXPECT_EQ(e->CurrentPages(), c.pages) << c.body;
    }
    // The text after the break is on the next page, not repeated.
    auto e = LoadRtf(Rtf("First\\page Second\\par"));
    EXPECT_NE(PageText(*e, 1).find("First"), std::string::npos);
    EXPECT_EQ(PageText(*e, 1).find("Second"), std::string::npos);
    EXPECT_NE(PageText(*e, 2).find("Second"), std::string::npos);
}

// Where a page's text starts after a break, as LibreOffice and Word place
// it: a paragraph's space before stays after a hard break (\\page, \\pagebb,
// a section), goes at a page the text ran over onto, and a paragraph that
// holds only a page break stays on the page the break ends.
TEST(EngineBreaks, SpaceBeforeAtTheTopOfAPage)
{
    struct Case {
        const char* body;
        int page;
        const char* same;  // page 1 of this has its last line ("B") at the same height
    };
    const char* spaced = "\\pard\\sb480 B\\par";
    const Case cases[] = {
        {"A\\par\\pard\\sa200{\\page}{\\fs28\\par}\\pard\\sb480 B\\par", 2, spaced},
        {"A\\par\\pard\\sb240 \\page\\par\\pard\\sb480 B\\par", 2, spaced},
        {"A\\par{\\page}{\\par}{\\page}{\\par}\\pard\\sb480 B\\par", 3, spaced},
        {"A\\par\\pard\\sb480\\page B\\par", 2, spaced},
        {"A\\par\\pard\\sb480 X\\page B\\par", 2, spaced},
        {"A\\par\\pard\\pagebb\\sb480 B\\par", 2, spaced},
        {"A\\sect\\sectd\\pard\\sb480 B\\par", 2, spaced},
        // Text before the break: the rest of its paragraph is an empty line on the next page.
        {"A\\page\\par\\pard\\sb480 B\\par", 2, "X\\par\\pard\\sb480 B\\par"},
        // Run over onto the next page: no space before.
        {"\\pard\\sl-12900\\slmult0 A\\par\\pard\\sb480 B\\par", 2, "B\\par"},
    };
    for (const Case& c : cases) {
        auto e = LoadRtf(Rtf(c.body));
        ASSERT_EQ(e->CurrentPages(), c.page) << c.body;
        auto reference = LoadRtf(Rtf(c.same));
        EXPECT_NEAR(LastLine(RenderPage(*e, c.page)), LastLine(RenderPage(*reference, 1)), 1) << c.body;
    }
    // A page break that ends the text opens no page.
    EXPECT_EQ(LoadRtf(Rtf("A\\par{\\page}{\\par}"))->CurrentPages(), 1);
}

TEST(EngineBreaks, SectionsHaveTheirOwnPages)
{
    // A portrait letter page, then a landscape section with wide margins,
    // then a continuous section on the landscape page's setup.
    auto e = LoadRtf(Rtf("\\paperw12240\\paperh15840\\margl1800\\sectd Portrait\\sect"
                         "\\sectd\\lndscpsxn\\pgwsxn15840\\pghsxn12240\\marglsxn2880\\margtsxn2160 Landscape\\par"
                         "\\sect\\sectd\\sbknone\\lndscpsxn\\pgwsxn15840\\pghsxn12240\\marglsxn2880\\margtsxn2160 Same page\\par"));
    ASSERT_EQ(e->CurrentPages(), 2);
    EXPECT_EQ(e->PageSetupOf(1).PageWidth, 12240);
    EXPECT_EQ(e->PageSetupOf(2).PageWidth, 15840);
    EXPECT_EQ(e->PageSetupOf(2).PageHeight, 12240);
    EXPECT_NE(PageText(*e, 2).find("Same page"), std::string::npos);
    // The leftmost and the topmost ink.
    auto firstInk = [](const QImage& page) {
        QPoint first(page.width(), page.height());
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                if (IsDark(page.pixelColor(x, y)))
                    first = QPoint(std::min(first.x(), x), std::min(first.y(), y));
        return first;
    };
    const QImage landscape = RenderPage(*e, 2);
    EXPECT_EQ(landscape.width(), 15840 / 15);
    EXPECT_NEAR(firstInk(landscape).x(), 2880 / 15, 3);
    EXPECT_NEAR(firstInk(landscape).y(), 2160 / 15, 6);
    EXPECT_NEAR(firstInk(RenderPage(*e, 1)).x(), 1800 / 15, 3);

    // The PDF's pages take their sizes; saving and loading keeps the sections.
    TTempDir dir;
    WriteFile(dir / "s.pdf", e->PdfBytes("s").toStdString());
    EXPECT_NE(PdfInfoField(ReadFile(dir / "s.pdf"), "Page size").find("612 x 792"), std::string::npos);
    ASSERT_TRUE(e->SaveDocument(QString::fromStdString(dir / "s.rtf"), DocumentEngine::WordFormat));
    DocumentEngine again;
    ASSERT_TRUE(again.LoadDocument(QString::fromStdString(dir / "s.rtf")));
    ASSERT_EQ(again.CurrentPages(), 2);
    EXPECT_EQ(again.PageSetupOf(2).PageWidth, 15840);
    EXPECT_EQ(again.PageSetupOf(2).MarginL, 2880);
    EXPECT_EQ(again.PageSetupOf(1).PageWidth, 12240);
}

TEST(EngineHeaders, FirstAndLeftPageVariantsOnTheirPages)
{
    const QByteArray red = PngBytes(30, 30, Qt::red, 96);
    auto e = LoadRtf(Rtf("\\facingp\\titlepg"
                         "{\\headerf HeadFirst{\\shp{\\*\\shpinst\\shpleft0\\shptop0\\shpright1500\\shpbottom1500"
                         "\\shpbxpage\\shpbypage{\\sp{\\sn shapeType}{\\sv 75}}{\\sp{\\sn pib}{\\sv {\\pict\\pngblip "
                         "\\picwgoal1500\\pichgoal1500 " + Hex(red) + "}}}}}\\par}"
                         "{\\headerr HeadRight\\par}{\\headerl HeadLeft\\par}"
                         "{\\footerf FootFirst\\par}{\\footerr FootRight\\par}{\\footerl FootLeft\\par}"
                         "One\\page Two\\page Three\\page Four\\par"));
    ASSERT_EQ(e->CurrentPages(), 4);
    const char* expected[][2] = {{"HeadFirst", "FootFirst"}, {"HeadLeft", "FootLeft"},
                                 {"HeadRight", "FootRight"}, {"HeadLeft", "FootLeft"}};
    const char* all[] = {"HeadFirst", "HeadLeft", "HeadRight", "FootFirst", "FootLeft", "FootRight"};
    for (int page = 1; page <= 4; ++page) {
        const std::string text = PageText(*e, page);
        for (const char* name : all) {
            const bool wanted = name == std::string(expected[page - 1][0]) || name == std::string(expected[page - 1][1]);
            EXPECT_EQ(text.find(name) != std::string::npos, wanted) << "page " << page << ": " << name;
        }
        // The first page's header picture only on the first page.
        const int redPixels = CountPixels(RenderPage(*e, page), QRect(0, 0, 100, 100), IsRed);
        if (page == 1)
            EXPECT_NEAR(redPixels, 100 * 100, 300);
        else
            EXPECT_EQ(redPixels, 0) << "page " << page;
    }
}

TEST(EnginePictures, SizesInTwips)
{
    struct Case {
        const char* what;
        std::string pict;
        QSizeF twips;
    };
    const std::string png96 = Hex(PngBytes(96, 48, Qt::red, 96));
    const std::string png300 = Hex(PngBytes(300, 150, Qt::red, 300));
    const Case cases[] = {
        {"goal size", "\\pngblip\\picw10\\pich10\\picwgoal2000\\pichgoal1000 " + png96, {2000, 1000}},
        {"pixels at 96 dpi", "\\pngblip " + png96, {1440, 720}},
        {"pixels at 300 dpi", "\\pngblip " + png300, {1440, 720}},
        {"scaled", "\\pngblip\\picwgoal2000\\pichgoal1000\\picscalex50\\picscaley200 " + png96, {1000, 2000}},
        {"cropped", "\\pngblip\\picwgoal2000\\pichgoal1000\\piccropl200\\piccropr300\\piccropt100 " + png96,
         {1500, 900}},
        {"metafile in hundredths of a millimetre", "\\wmetafile8\\picw2540\\pich1270 " + Hex(Wmf()), {1440, 720}},
    };
    for (const Case& c : cases) {
        auto e = LoadRtf(Rtf("A{\\pict" + c.pict + "}B\\par"));
        const std::vector<QSizeF> sizes = InlinePictures(*e);
        ASSERT_EQ(sizes.size(), 1u) << c.what;
        EXPECT_NEAR(sizes[0].width(), c.twips.width(), 2) << c.what;
        EXPECT_NEAR(sizes[0].height(), c.twips.height(), 2) << c.what;
    }
}

TEST(EnginePictures, MetafileBitmapAndTextAreDrawn)
{
    // 2 x 1 inches: the bitmap fills the left inch, the text stands in the right one.
    auto e = LoadRtf(Rtf("\\pard{\\pict\\wmetafile8\\picw5080\\pich2540\\picwgoal2880\\pichgoal1440 " + Hex(Wmf()) +
                         "}\\par"));
    const QImage page = RenderPage(*e, 1);
    const QRect picture(kLeft, kTop, 2880 / 15, 1440 / 15);
    const QRect left(picture.left(), picture.top(), picture.width() / 2, picture.height());
    const QRect right(picture.left() + picture.width() / 2 + 2, picture.top(), picture.width() / 2 - 2,
                      picture.height());
    EXPECT_GT(CountPixels(page, left, IsRed), left.width() * left.height() * 8 / 10);
    EXPECT_EQ(CountPixels(page, right, IsRed), 0);
    EXPECT_GT(CountPixels(page, right, IsDark), 100) << "the text";
    EXPECT_EQ(CountPixels(page, QRect(picture.right() + 3, picture.top(), 100, picture.height()), IsDark), 0)
        << "nothing outside the picture";
}

TEST(EngineFrames, FramesAndShapesAtTheirAbsolutePositions)
{
    auto e = LoadRtf(Rtf("Body\\par\\pard\\pvpg\\phpg\\posx4320\\posy5760\\absw2880 FRAME TEXT\\par\\pard More\\par"
                         "{\\shp{\\*\\shpinst\\shpleft7200\\shptop8640\\shpright8640\\shpbottom10080\\shpbxpage"
                         "\\shpbypage{\\sp{\\sn shapeType}{\\sv 1}}{\\sp{\\sn fillColor}{\\sv 16711680}}"
                         "{\\sp{\\sn fLine}{\\sv 0}}}}"));
    EXPECT_TRUE(e->Text().contains("Body"));
    const QImage page = RenderPage(*e, 1);
    const QRect frame(4320 / 15, 5760 / 15, 2880 / 15, 300 / 15);
    EXPECT_GT(CountPixels(page, frame, IsDark), 50) << "the frame's text at its place";
    EXPECT_EQ(CountPixels(page, QRect(frame.left(), kTop + 40, frame.width(), frame.top() - kTop - 42), IsDark), 0)
        << "and not in the flow above it";
    const QRect shape(7200 / 15, 8640 / 15, 1440 / 15, 1440 / 15);
    EXPECT_GT(CountPixels(page, shape.adjusted(1, 1, -1, -1), IsBlue), shape.width() * shape.height() * 9 / 10);
    EXPECT_EQ(CountPixels(page, shape.translated(0, shape.height() + 2), IsBlue), 0);
}

TEST(EngineForms, FormFieldsShowTheirState)
{
    struct Case {
        const char* field;
        QString shown;
    };
    const Case cases[] = {
        {"{\\field{\\*\\fldinst FORMCHECKBOX {\\*\\formfield{\\fftype1\\ffres1}}}{\\fldrslt }}", QString(QChar(0x2612))},
        {"{\\field{\\*\\fldinst FORMCHECKBOX {\\*\\formfield{\\fftype1\\ffres0}}}{\\fldrslt }}", QString(QChar(0x2610))},
        {"{\\field{\\*\\fldinst FORMCHECKBOX {\\*\\formfield{\\fftype1\\ffres25\\ffdefres1}}}{\\fldrslt }}",
         QString(QChar(0x2612))},
        {"{\\field{\\*\\fldinst FORMDROPDOWN {\\*\\formfield{\\fftype2\\ffres1{\\*\\ffl One}{\\*\\ffl Two}}}}"
         "{\\fldrslt }}",
         QStringLiteral("Two")},
    };
    for (const Case& c : cases) {
        auto e = LoadRtf(Rtf(std::string("Box: ") + c.field + " end\\par"));
        EXPECT_EQ(e->Text(), "Box: " + c.shown + " end") << c.field;
    }
}

TEST(EngineLists, BulletsNumbersAndIndents)
{
    auto e = LoadRtf(Rtf("{\\pntext\\pard\\plain\\f1 \\'b7\\tab}\\pard\\fi-360\\li720 Item\\par"
                         "{\\listtext\\pard\\plain 2.\\tab}\\pard\\fi-360\\li1440 Second\\par"));
    EXPECT_EQ(e->Text(), QString(QChar(0x2022)) + "\tItem\n2.\tSecond");
    const QImage page = RenderPage(*e, 1);
    auto firstInk = [&](int fromX, int y0, int y1) {
        for (int x = fromX; x < page.width(); ++x)
            if (CountPixels(page, QRect(x, y0, 1, y1 - y0), IsDark) > 0)
                return x;
        return -1;
    };
    const std::vector<int> lines = HorizontalLines(page, kLeft + 720 / 15 + 3);  // through the item's text
    // Bullet at the first-line indent, text at the hanging indent.
    const int line1 = kTop, line2 = kTop + 16;
    EXPECT_NEAR(firstInk(0, line1, line1 + 14), kLeft + 360 / 15, 2);
    EXPECT_NEAR(firstInk(kLeft + 360 / 15 + 10, line1, line1 + 14), kLeft + 720 / 15, 2);
    EXPECT_NEAR(firstInk(0, line2, line2 + 14), kLeft + 1080 / 15, 2);
    EXPECT_NEAR(firstInk(kLeft + 1080 / 15 + 12, line2, line2 + 14), kLeft + 1440 / 15, 2);
    (void)lines;
}

TEST(EngineFootnotes, FootnoteAtTheFootOfItsPage)
{
    auto e = LoadRtf(Rtf("First page\\page Second page{\\super\\chftn}{\\footnote\\pard\\plain{\\super\\chftn} "
                         "Note text\\par} goes on\\par"));
    ASSERT_EQ(e->CurrentPages(), 2);
    EXPECT_EQ(e->FootnoteCount(), 1);
    EXPECT_EQ(PageText(*e, 1).find("Note text"), std::string::npos);
    EXPECT_NE(PageText(*e, 2).find("Note text"), std::string::npos);
    EXPECT_EQ(e->Text(), "First page\nSecond page1 goes on");
    // Drawn just above the bottom margin of page 2, not in the flow.
    const int bottom = (e->PageHeight() - 1440) / 15;
    const QRect foot(kLeft, bottom - 40, 300, 40);
    EXPECT_GT(CountPixels(RenderPage(*e, 2), foot, IsDark), 30);
    EXPECT_EQ(CountPixels(RenderPage(*e, 1), foot, IsDark), 0);
    EXPECT_EQ(CountPixels(RenderPage(*e, 2), QRect(kLeft, kTop + 30, 300, bottom - kTop - 120), IsDark), 0);
}

TEST(EngineParagraphs, BordersLeadersAndHighlight)
{
    auto e = LoadRtf(Rtf("\\pard\\brdrt\\brdrs\\brdrw20\\brdrb\\brdrs\\brdrw20 Boxed\\par"
                         "\\pard\\tldot\\tx5760 Name\\tab Value\\par"
                         "\\pard{\\highlight1 Marked}\\par"));
    const QImage page = RenderPage(*e, 1);
    const std::vector<int> lines = HorizontalLines(page, kLeft + 3000 / 15);  // right of "Boxed"
    ASSERT_GE(lines.size(), 2u) << Join(lines);
    EXPECT_LT(lines[0], kTop + 2);
    // Dots between "Name" and the stop at 5760 twips.
    const int dotsY = kTop + (lines[1] - kTop) + 6;
    // Dots are small at 96 dots to the inch: any ink counts.
    const auto ink = [](const QColor& c) { return c.lightness() < 200; };
    const int dots = CountPixels(page, QRect(kLeft + 1200 / 15, dotsY, (5760 - 1400) / 15, 16), ink);
    EXPECT_GT(dots, 20);
    EXPECT_EQ(CountPixels(page, QRect(kLeft + 6400 / 15, dotsY, 150, 16), ink), 0);
    EXPECT_GT(CountPixels(page, QRect(kLeft, kTop, 200, 80), IsRed), 50) << "the highlight";
}

namespace {

const std::string kBox = "\\clbrdrt\\brdrs\\brdrw15\\clbrdrl\\brdrs\\brdrw15\\clbrdrb\\brdrs\\brdrw15\\clbrdrr\\brdrs\\brdrw15";

// The pages' text, each page's separately.
std::vector<std::string> PagesText(DocumentEngine& e)
{
    std::vector<std::string> pages;
    for (int page = 1; page <= e.CurrentPages(); ++page)
        pages.push_back(PageText(e, page));
    return pages;
}

}  // namespace

// Column edges are the cells' right edges (\cellx) from the row's left
// indent; a centred or right-aligned row stands between the margins.
TEST(EngineTables, ColumnsStandWhereTheFileSaysTheirEdgesAre)
{
    struct TCase {
        const char* Row;
        std::vector<int> Cells;  // \cellx
        std::vector<int> Edges;  // twips from the margin
    };
    const TCase cases[] = {
        {"\\trleft0", {1500, 4000, 8500}, {0, 1500, 4000, 8500}},
        {"\\trleft-300", {1200, 5000}, {-300, 1200, 5000}},
        {"\\trleft600\\trqc", {2600, 4600}, {2320, 4320, 6320}},
        {"\\trleft0\\trqr", {2000, 4000}, {4640, 6640, 8640}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Row);
        std::string def = std::string("\\trowd\\trgaph0\\trrh600") + c.Row;
        std::string cells = "\\pard\\intbl";
        for (int x : c.Cells) {
            def += kBox + "\\cellx" + std::to_string(x);
            cells += " x\\cell";
        }
        auto e = LoadRtf(Rtf(def + cells + "\\row\\pard after\\par"));
        const QImage page = RenderPage(*e, 1);
        std::vector<int> expected;
        for (int edge : c.Edges)
            expected.push_back(kLeft + edge / 15);
        const std::vector<int> found = VerticalLines(page, kTop + 30);
        EXPECT_TRUE(Near(found, expected)) << Join(found) << " for " << Join(expected);
    }
}

// A row that does not fit on the rest of the page goes on over the next
// one between two of its lines, under the table's header row again; a row
// kept together (\trkeep) moves to the next page whole.
TEST(EngineTables, ARowIsCutBetweenItsLinesUnlessKeptTogether)
{
    struct TCase {
        const char* Keep;
        bool FirstLineOnPageOne;
    };
    for (const TCase& c : {TCase {"", true}, TCase {"\\trkeep", false}}) {
        SCOPED_TRACE(c.Keep[0] ? c.Keep : "no \\trkeep");
        std::string filler;
        for (int i = 0; i < 25; ++i)
            filler += "\\pard Filler " + std::to_string(i) + "\\par";
        std::string tall;
        for (int i = 0; i < 30; ++i)
            tall += "Line" + std::to_string(i) + (i < 29 ? "\\par " : "");
        const std::string rows = "\\trowd\\trgaph0\\trhdr" + kBox + "\\cellx3000" + kBox +
                                 "\\cellx8000\\pard\\intbl Test\\cell Result\\cell\\row"
                                 "\\trowd\\trgaph0" + std::string(c.Keep) + kBox + "\\cellx3000" + kBox +
                                 "\\cellx8000\\pard\\intbl Tall\\cell " + tall + "\\cell\\row";
        auto e = LoadRtf(Rtf(filler + rows + "\\pard After\\par"));
        ASSERT_EQ(e->CurrentPages(), 2);
        const std::vector<std::string> pages = PagesText(*e);
        EXPECT_EQ(pages[0].find("Line0\n") != std::string::npos, c.FirstLineOnPageOne) << pages[0];
        EXPECT_EQ(pages[1].find("Test"), pages[1].find_first_not_of(" \n")) << "the header row first: " << pages[1];
        EXPECT_NE(pages[1].find("Line29\n"), std::string::npos);
        if (c.FirstLineOnPageOne) {
            EXPECT_EQ(pages[1].find("Tall"), std::string::npos) << "the row's first line stays on page 1";
        }
        for (int i = 0; i < 30; ++i) {
            const std::string line = "Line" + std::to_string(i) + "\n";
            EXPECT_EQ((pages[0] + pages[1]).find(line), (pages[0] + pages[1]).rfind(line)) << line;
            EXPECT_NE((pages[0] + pages[1]).find(line), std::string::npos) << line;
        }
    }
}

// Cell shading and borders as the word processor draws them.
TEST(EngineTables, ShadingAndBordersOnThePage)
{
    const auto grey = [](const QColor& p) {
        return std::abs(p.red() - 128) < 12 && std::abs(p.green() - 128) < 12 && std::abs(p.blue() - 128) < 12;
    };
    const auto purple = [](const QColor& p) {  // a quarter of red in blue
        return std::abs(p.red() - 64) < 12 && p.green() < 12 && std::abs(p.blue() - 191) < 12;
    };
    struct TCase {
        const char* Cell;
        std::function<bool(const QColor&)> Inside;  // most of the cell's pixels
        int BottomLines;                            // across its bottom edge
    };
    const TCase cases[] = {
        {"\\clcbpat1\\clbrdrb\\brdrs\\brdrw15", IsRed, 1},
        {"\\clshdng5000\\clbrdrb\\brdrs\\brdrw15", grey, 1},
        {"\\clcbpat2\\clcfpat1\\clshdng2500", purple, 0},
        {"\\clbrdrb\\brdrdb\\brdrw45", [](const QColor& p) { return p == QColor(Qt::white); }, 2},
        {"\\clbrdrb\\brdrnone", [](const QColor& p) { return p == QColor(Qt::white); }, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Cell);
        auto e = LoadRtf(Rtf(std::string("\\trowd\\trgaph0\\trrh900") + c.Cell +
                             "\\cellx3000\\pard\\intbl\\cell\\row\\pard after\\par"));
        const QImage page = RenderPage(*e, 1);
        const QRect inside(kLeft + 10, kTop + 10, 3000 / 15 - 20, 900 / 15 - 20);
        EXPECT_GE(CountPixels(page, inside, c.Inside), inside.width() * inside.height() * 9 / 10);
        std::vector<int> lines;
        for (int y : HorizontalLines(page, kLeft + 100))
            if (y > kTop + 30 && y < kTop + 900 / 15 + 10)
                lines.push_back(y);
        EXPECT_EQ(static_cast<int>(lines.size()), c.BottomLines) << Join(lines);
    }
}

// A table of 4,000 rows in four columns takes as many pages as LibreOffice
// gives it (67: it has no header row, which LibreOffice would not repeat).
TEST(EngineTables, ALongTableTakesItsPages)
{
    const std::string box = "\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10"
                            "\\clbrdrr\\brdrs\\brdrw10";
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}"
                      "\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134"
                      "\\pard\\plain\\f0\\fs20 Long results table\\par";
    std::string def = "\\trowd\\trgaph108\\trleft0";
    for (int x : {2400, 4800, 7200, 9600})
        def += box + "\\cellx" + std::to_string(x);
    rtf += def + "\\pard\\intbl\\plain\\f0\\fs20\\b Test\\cell Result\\cell Units\\cell Reference\\cell\\row";
    for (int i = 0; i < 4000; ++i)
        rtf += def + "\\pard\\intbl\\plain\\f0\\fs20 Analyte " + std::to_string(i + 1) + "\\cell " +
               std::to_string(i % 17) + "." + std::to_string(i % 10) + "\\cell mmol/L\\cell " + std::to_string(i % 5) +
               "-" + std::to_string(i % 5 + 7) + "\\cell\\row";
    auto e = LoadRtf(rtf + "\\pard\\plain\\f0\\fs20 End of report\\par}");
    EXPECT_EQ(e->CurrentPages(), 67);
    EXPECT_NE(PageText(*e, 67).find("End of report"), std::string::npos);
}

// A merged cell is one box over the columns and rows it takes: its shading
// fills them all, and its text runs over its whole width.
TEST(EngineTables, MergedCellsAreOneBox)
{
    struct TCase {
        const char* What;
        std::string Rows;
        QRect Red;  // twips from the margin and the table's top
    };
    const std::string words = "Words enough to run past the first column";
    const TCase cases[] = {
        {"across", "\\trowd\\trgaph0\\trrh600\\clmgf\\clcbpat1\\cellx2000\\clmrg\\cellx6000\\cellx8000"
                   "\\pard\\intbl " + words + "\\cell\\cell c\\cell\\row",
         QRect(100, 100, 5800, 400)},
        {"down", "\\trowd\\trgaph0\\trrh600\\clvmgf\\clcbpat1\\cellx2000\\cellx5000\\pard\\intbl a\\cell b\\cell\\row"
                 "\\trowd\\trgaph0\\trrh600\\clvmrg\\cellx2000\\cellx5000\\pard\\intbl\\cell d\\cell\\row",
         QRect(100, 100, 1800, 1000)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        auto e = LoadRtf(Rtf(c.Rows + "\\pard after\\par"));
        const QImage page = RenderPage(*e, 1);
        const QRect red(kLeft + c.Red.x() / 15, kTop + c.Red.y() / 15, c.Red.width() / 15, c.Red.height() / 15);
        // Text covers a little of it.
        EXPECT_GE(CountPixels(page, red, IsRed), red.width() * red.height() * 8 / 10);
    }
    auto e = LoadRtf(Rtf(cases[0].Rows + "\\pard after\\par"));
    EXPECT_NE(PageText(*e, 1).find(words), std::string::npos) << "on one line: " << PageText(*e, 1);
}

// An auto-fitted table (\trautofit1) widens a column to its longest word,
// taking the room from a column that has some to spare; otherwise the
// word is broken at the column's edge.
TEST(EngineTables, AnAutoFittedColumnWidensToItsLongestWord)
{
    for (const bool autoFit : {false, true}) {
        SCOPED_TRACE(autoFit ? "\\trautofit1" : "fixed");
        auto e = LoadRtf(Rtf(std::string("\\trowd\\trgaph0\\trrh600") + (autoFit ? "\\trautofit1" : "") + kBox +
                             "\\cellx700" + kBox + "\\cellx6000\\pard\\intbl Haemoglobinometry\\cell b\\cell\\row"
                             "\\pard after\\par"));
        const QImage page = RenderPage(*e, 1);
        const std::vector<int> rows = HorizontalLines(page, kLeft + 5000 / 15);
        ASSERT_EQ(rows.size(), 2u) << Join(rows);
        const std::vector<int> found = VerticalLines(page, rows[1] - 2);
        const auto lineAt = [&](int x) {
            return std::any_of(found.begin(), found.end(), [&](int f) { return std::abs(f - x) <= 2; });
        };
        EXPECT_EQ(lineAt(kLeft + 700 / 15), !autoFit) << Join(found);
        EXPECT_TRUE(lineAt(kLeft + 6000 / 15)) << "the table keeps its width: " << Join(found);
        if (autoFit) {
            EXPECT_GT(found.size() > 1 ? found[1] : 0, kLeft + 1500 / 15) << Join(found);
        }
        EXPECT_EQ(PageText(*e, 1).find("Haemoglobinometry") != std::string::npos, autoFit) << PageText(*e, 1);
    }
}
