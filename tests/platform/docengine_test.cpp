#include "platform/docengine/documentengine.h"
#include "enginesupport.h"
#include "compose/templateimages.h"

#include "support/smallfs.h"
#include "support/testsupport.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>
#include <QPainter>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Text of one page of a PDF, as pdftotext gives it.
std::string PdfText(const std::string& pdf, int page = 0)
{
    QStringList args;
    if (page > 0)
        args << "-f" << QString::number(page) << "-l" << QString::number(page);
    args << QString::fromStdString(pdf) << "-";
    QProcess process;
    process.start("pdftotext", args);
    process.waitForFinished(30000);
    return process.readAllStandardOutput().toStdString();
}

// A file of a temporary folder that lasts as long as the test program.
std::string WriteTemp(const std::string& bytes)
{
    static TTempDir dir;
    static int n = 0;
    const std::string path = dir / ("temp" + std::to_string(++n) + ".rtf");
    WriteFile(path, bytes);
    return path;
}

bool QpdfAccepts(const std::string& pdf)
{
    QProcess process;
    process.start("qpdf", {"--check", QString::fromStdString(pdf)});
    process.waitForFinished(30000);
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::string MakePng(const TTempDir& dir, const std::string& name, int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    const std::string path = dir / name;
    image.save(QString::fromStdString(path), "PNG");
    return path;
}

}  // namespace

TEST(DocumentEngine, SelectionFindAndReplace)
{
    DocumentEngine e;
    e.SetSelText("Hello\r\nbrave\nworld");  // CR LF and LF: one break each
    EXPECT_EQ(e.Text(), "Hello\nbrave\nworld");
    EXPECT_EQ(e.SelStart(), 17);
    EXPECT_EQ(e.SelLength(), 0);

    EXPECT_EQ(e.Find("brave", 0), 6);
    EXPECT_EQ(e.Find("brave", 0, 24), 6);
    EXPECT_EQ(e.Find("brave", 7), -1);
    EXPECT_EQ(e.Find("\nw", 0), 11);  // across a break
    EXPECT_EQ(e.Find("nothing", 0), -1);

    e.SetSelStart(6);
    e.SetSelLength(5);
    EXPECT_EQ(e.SelText(), "brave");
    e.SetSelText("bold");
    EXPECT_EQ(e.Text(), "Hello\nbold\nworld");
    EXPECT_EQ(e.SelStart(), 10);

    // The start moves with the length kept: positions 1 to q go.
    e.SetSelStart(3);
    e.SetSelLength(3);
    e.SetSelStart(1);
    EXPECT_EQ(e.SelText(), "ell");
    e.SetSelText("");
    EXPECT_EQ(e.Text(), "Ho\nbold\nworld");

    // Out of range values are clamped.
    e.SetSelStart(1000);
    EXPECT_EQ(e.SelStart(), static_cast<int>(e.Text().size()));
    e.SetSelStart(0);
    e.SetSelLength(1000);
    EXPECT_EQ(e.SelText(), e.Text());
}

TEST(DocumentEngine, FormatsApplyToTheNextInsertAndToSelections)
{
    DocumentEngine e;
    e.SetFontName("Courier New");
    ASSERT_TRUE(e.SetFontSize(14));
    e.SetFontBold(1);
    e.SetForeColor(255);
    e.SetSelText("red");
    e.SetFontBold(0);
    e.SetForeColor(0);
    e.SetSelText(" plain");
    e.SetSelStart(1);
    e.SetSelLength(1);
    EXPECT_EQ(e.FontName(), "Courier New");
    EXPECT_EQ(e.FontSize(), 14);
    EXPECT_EQ(e.FontBold(), 1);
    EXPECT_EQ(e.ForeColor(), 255);
    e.SetSelStart(5);
    e.SetSelLength(1);
    EXPECT_EQ(e.FontBold(), 0);
    EXPECT_EQ(e.ForeColor(), 0);

    // With a selection the format changes the selected text.
    e.SetSelStart(4);
    e.SetSelLength(5);
    e.SetFontItalic(1);
    e.SetFontUnderline(1);
    e.SetSelStart(6);
    e.SetSelLength(1);
    EXPECT_EQ(e.FontItalic(), 1);
    EXPECT_EQ(e.FontUnderline(), 1);

    ASSERT_TRUE(e.SetAlignment(2));
    EXPECT_EQ(e.Alignment(), 2);
    EXPECT_FALSE(e.SetAlignment(7));
}

TEST(DocumentEngine, FieldsFromSelectionsAndNew)
{
    DocumentEngine e;
    e.SetSelText("Dear <<PATSUR>>, see <<DOC>>.");
    e.SetSelStart(5);
    e.SetSelLength(10);
    const int a = e.InsertField("").Value();
    EXPECT_GE(a, 1);
    EXPECT_EQ(e.FieldCurrent(), a);
    EXPECT_EQ(e.FieldText(), "<<PATSUR>>");
    EXPECT_EQ(e.FieldStart(), 5);
    ASSERT_TRUE(e.SetFieldText("SMITH"));
    EXPECT_EQ(e.Text(), "Dear SMITH, see <<DOC>>.");
    ASSERT_TRUE(e.SetFieldChangeable(false));
    EXPECT_FALSE(e.FieldChangeable());

    const int docAt = e.Find("<<DOC>>", 0);
    e.SetSelStart(docAt);
    e.SetSelLength(7);
    const int b = e.InsertField("").Value();
    EXPECT_NE(a, b);
    ASSERT_TRUE(e.SetFieldText(""));  // an empty field keeps its place
    EXPECT_EQ(e.Text(), "Dear SMITH, see .");
    EXPECT_EQ(e.FieldStart(), docAt);
    ASSERT_TRUE(e.SetFieldText("Dr Who"));
    EXPECT_EQ(e.Text(), "Dear SMITH, see Dr Who.");
    ASSERT_TRUE(e.SetFieldKind(b, 20));
    EXPECT_EQ(e.FieldKind(b), 20);

    // Edits before a field move it; text typed at its edges stays outside.
    e.SetSelStart(0);
    e.SetSelLength(0);
    e.SetSelText(">> ");
    ASSERT_TRUE(e.SetFieldCurrent(a));
    EXPECT_EQ(e.FieldStart(), 8);
    EXPECT_EQ(e.FieldText(), "SMITH");
    e.SetSelStart(8);
    e.SetSelText("x");
    e.SetSelStart(14);
    e.SetSelText("y");
    EXPECT_EQ(e.FieldText(), "SMITH");

    // A new field holding text, at the caret; the caret goes after it.
    e.SetSelStart(static_cast<int>(e.Text().size()));
    const int c = e.InsertField(" ").Value();
    EXPECT_EQ(e.FieldText(), " ");
    EXPECT_EQ(e.SelStart(), static_cast<int>(e.Text().size()));
    EXPECT_TRUE(c != a && c != b);

    // No field inside another one.
    ASSERT_TRUE(e.SetFieldCurrent(a));
    e.SetSelStart(e.FieldStart() + 1);
    e.SetSelLength(2);
    EXPECT_FALSE(e.InsertField(""));
    EXPECT_FALSE(e.SetFieldCurrent(999));
}

// Edits by value name their part and place: the part being edited and its
// selection stay as they are.
TEST(DocumentEngine, EditsByValueLeaveTheCursorAlone)
{
    DocumentEngine e;
    e.SetPartText(DocumentEngine::MainPart, "Dear <<A>>, <<B>> and <<C>>.");
    e.SetPartText(DocumentEngine::FooterPart, "Lab");
    e.ActivatePart(DocumentEngine::HeaderPart);
    e.SetSelText("Header text");
    e.SetSelStart(2);
    e.SetSelLength(3);

    // Marked ranges become fields as the filler says; one left as text ends the pass.
    std::vector<QString> asked;
    e.FillMarkedFields(DocumentEngine::MainPart, "<<", ">>", [&](const QString& inner) -> std::optional<TFieldFill> {
        asked.push_back(inner);
        if (inner == "B")
            return std::nullopt;
        return TFieldFill {.Text = inner.toLower() + inner.toLower(), .Changeable = false, .Kind = 20};
    });
    EXPECT_EQ(asked, (std::vector<QString> {"A", "B"}));
    EXPECT_EQ(e.PartText(DocumentEngine::MainPart), "Dear aa, <<B>> and <<C>>.");
    const auto fields = e.FieldRanges(DocumentEngine::MainPart);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields.begin()->second, std::make_pair(5, 7));
    EXPECT_FALSE(e.FieldChangeableOf(fields.begin()->first));
    EXPECT_EQ(e.FieldKind(fields.begin()->first), 20);
    EXPECT_FALSE(e.MakeField(DocumentEngine::MainPart, 6, 9)) << "it would cut a field";

    ASSERT_TRUE(e.FillField(std::next(fields.begin())->first, {.Text = "bee"}));
    EXPECT_EQ(e.PartText(DocumentEngine::MainPart), "Dear aa, bee and <<C>>.");
    e.ReplaceText(DocumentEngine::MainPart, 0, 4, "Hello");
    EXPECT_EQ(e.ReplaceMarker(DocumentEngine::MainPart, "e", "E", 2), 2);
    EXPECT_EQ(e.PartText(DocumentEngine::MainPart), "HEllo aa, bEe and <<C>>.");
    EXPECT_EQ(e.ReplaceMarker(DocumentEngine::MainPart, "<<C>>", "\r\nC"), 1);
    EXPECT_EQ(e.PartText(DocumentEngine::MainPart), "HEllo aa, bEe and \nC.");

    e.SetPartText(DocumentEngine::FooterPart, "Lab notice", {.Color = 255});
    EXPECT_EQ(e.PartText(DocumentEngine::FooterPart), "Lab notice");
    EXPECT_EQ(e.LookAt(DocumentEngine::FooterPart, 1).Color, 0);
    EXPECT_EQ(e.LookAt(DocumentEngine::FooterPart, 10).Color, 255);

    ASSERT_TRUE(e.InsertDocument(QString::fromStdString(WriteTemp("{\\rtf1 Inserted\\par}")), 0, 5));
    EXPECT_EQ(e.PartText(DocumentEngine::MainPart).toStdString(), "Inserted aa, bEe and \nC.");

    EXPECT_EQ(e.ActivePart(), DocumentEngine::HeaderPart);
    EXPECT_EQ(e.SelStart(), 2);
    EXPECT_EQ(e.SelText(), "ade");
}

// Values of other lengths than their tags, with breaks of every kind: each
// later tag is found where the part's text now has it, with its own name.
TEST(DocumentEngine, MarkedFieldsAreFoundAfterValuesOfAnyLength)
{
    DocumentEngine e;
    e.SetPartText(DocumentEngine::MainPart, "A <<X>> B <<LONGER>>C<<Y>><<Z>> D <<Q>>");
    std::vector<QString> asked;
    const std::map<QString, QString> values {{"X", "1\r\n2\r3"},
                                             {"LONGER", ""},
                                             {"Y", QString::fromUtf16(u"p\u2029q\u2028r\uFDD0s")},
                                             {"Z", "<"},
                                             {"Q", "end"}};
    e.FillMarkedFields(DocumentEngine::MainPart, "<<", ">>", [&](const QString& inner) -> std::optional<TFieldFill> {
        asked.push_back(inner);
        const auto it = values.find(inner);
        if (it == values.end())
            return std::nullopt;
        return TFieldFill {.Text = it->second};
    });
    EXPECT_EQ(asked, (std::vector<QString> {"X", "LONGER", "Y", "Z", "Q"}));
    EXPECT_EQ(e.PartText(DocumentEngine::MainPart), "A 1\n2\n3 B Cp\nq\nr\ns< D end");
    std::vector<std::pair<int, int>> ranges;
    for (const auto& [id, range] : e.FieldRanges(DocumentEngine::MainPart))
        ranges.push_back(range);
    std::sort(ranges.begin(), ranges.end());
    EXPECT_EQ(ranges, (std::vector<std::pair<int, int>> {{2, 7}, {10, 10}, {11, 18}, {18, 19}, {22, 25}}));
}

// Runs are written as if typed: each in the look before it with its change,
// placeholders as changeable fields of one blank.
TEST(DocumentEngine, RunsAreWrittenAsTyped)
{
    DocumentEngine e;
    e.SetPartText(DocumentEngine::MainPart, "old text");
    std::vector<TTextRun> runs(3);
    runs[0].Change.Bold = true;
    runs[0].Text = "Bold";
    runs[1].Change.Size = 14;
    runs[1].Change.Bold = false;
    runs[1].Text = " big";
    runs[1].Placeholder = true;
    runs[2].Change.Size = 0;
    runs[2].Change.Color = 255;
    runs[2].Text = " red";
    TTextLook base;
    base.Font = "Courier New";
    base.Size = 9;
    ASSERT_TRUE(e.WriteRuns(DocumentEngine::MainPart, 0, 8, base, runs));
    EXPECT_EQ(e.PartText(DocumentEngine::MainPart), "Bold big  red");
    const TTextLook bold = e.LookAt(DocumentEngine::MainPart, 1);
    EXPECT_EQ(bold.Font, "Courier New");
    EXPECT_EQ(bold.Size, 9);
    EXPECT_EQ(bold.Bold, true);
    const TTextLook big = e.LookAt(DocumentEngine::MainPart, 6);
    EXPECT_EQ(big.Size, 14);
    EXPECT_EQ(big.Bold, false);
    const TTextLook red = e.LookAt(DocumentEngine::MainPart, 12);
    EXPECT_EQ(red.Size, 14) << "a size the engine cannot take leaves the size";
    EXPECT_EQ(red.Color, 255);
    const auto ids = e.FieldIds(DocumentEngine::MainPart);
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(e.FieldKind(ids[0]), 20);
    EXPECT_TRUE(e.FieldChangeableOf(ids[0]));
    EXPECT_EQ(e.FieldCurrent(), ids[0]);
    EXPECT_EQ(e.FieldRanges(DocumentEngine::MainPart).at(ids[0]), std::make_pair(8, 9));
}

TEST(DocumentEngine, PartsAreSeparate)
{
    DocumentEngine e;
    e.ActivatePart(DocumentEngine::HeaderPart);
    e.SetSelText("Head");
    e.ActivatePart(DocumentEngine::FooterPart);
    e.SetSelText("Foot");
    e.ActivatePart(DocumentEngine::MainPart);
    e.SetSelText("Body");
    EXPECT_EQ(e.Text(), "Body");
    e.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_EQ(e.Text(), "Head");
    EXPECT_EQ(e.Find("Body", 0), -1);
    e.SetSelStart(0);
    e.SetSelLength(4);
    ASSERT_TRUE(e.InsertField(""));
    const int id = e.FieldCurrent();
    e.ActivatePart(DocumentEngine::MainPart);
    ASSERT_TRUE(e.SetFieldText("HEAD"));  // fields are found in their own part
    e.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_EQ(e.Text(), "HEAD");
    EXPECT_EQ(e.FieldIds(DocumentEngine::HeaderPart), std::vector<int> {id});
    EXPECT_TRUE(e.FieldIds(DocumentEngine::MainPart).empty());

    // Setting Text keeps what stays, and the new text takes the input format.
    e.ActivatePart(DocumentEngine::FooterPart);
    e.SetForeColor(255);
    e.SetText(e.Text() + "          INTERIM REPORT");
    EXPECT_EQ(e.Text(), "Foot          INTERIM REPORT");
    e.SetSelStart(0);
    e.SetSelLength(1);
    EXPECT_EQ(e.ForeColor(), 0);
    e.SetSelStart(20);
    e.SetSelLength(1);
    EXPECT_EQ(e.ForeColor(), 255);

    e.ClearDocument();
    EXPECT_EQ(e.Text(), "");
    e.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_EQ(e.Text(), "");
}

TEST(DocumentEngine, PagesCarryHeaderAndFooter)
{
    TTempDir dir;
    DocumentEngine e;
    e.ActivatePart(DocumentEngine::HeaderPart);
    e.SetSelText("LETTERHEAD TOP");
    e.ActivatePart(DocumentEngine::FooterPart);
    e.SetSelText("FOOTER LINE");
    e.ActivatePart(DocumentEngine::MainPart);
    EXPECT_EQ(e.CurrentPages(), 1);
    QString text;
    for (int i = 1; i <= 150; ++i)
        text += QString("Result line %1\n").arg(i);
    e.SetSelText(text);
    // A4 with 10-point lines: about 60 lines a page.
    const int pages = e.CurrentPages();
    EXPECT_GE(pages, 3);
    EXPECT_LE(pages, 4);
    ASSERT_TRUE(e.SaveDocument(QString::fromStdString(dir / "r.pdf"), 12));
    EXPECT_TRUE(QpdfAccepts(dir / "r.pdf"));
    int lines = 0;
    for (int page = 1; page <= pages; ++page) {
        const std::string t = PdfText(dir / "r.pdf", page);
        EXPECT_NE(t.find("LETTERHEAD TOP"), std::string::npos) << page;
        EXPECT_NE(t.find("FOOTER LINE"), std::string::npos) << page;
        for (std::size_t at = t.find("Result line"); at != std::string::npos; at = t.find("Result line", at + 1))
            ++lines;
    }
    EXPECT_EQ(lines, 150);  // every line on exactly one page

    // More margin, fewer lines a page.
    ASSERT_TRUE(e.SetPageMarginT(5000));
    EXPECT_GT(e.CurrentPages(), pages - 1);
    EXPECT_FALSE(e.SetPageWidth(10));
}

TEST(DocumentEngine, PagesLookTheSameOnEveryDevice)
{
    DocumentEngine e;
    ASSERT_TRUE(e.SetFontSize(20));
    e.SetSelText("Same on screen, PDF and printer");
    auto render = [&](int dpi) {
        QImage image(e.PageWidth() * dpi / 1440, e.PageHeight() * dpi / 1440, QImage::Format_RGB32);
        image.setDotsPerMeterX(qRound(dpi / 0.0254));
        image.setDotsPerMeterY(qRound(dpi / 0.0254));
        image.fill(Qt::white);
        QPainter p(&image);
        e.DrawPage(p, 1);
        p.end();
        // The inked area, in twips.
        int top = image.height(), left = image.width(), right = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 128) {
                    top = std::min(top, y);
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return std::array<double, 3> {top * 1440.0 / dpi, left * 1440.0 / dpi, right * 1440.0 / dpi};
    };
    const auto at96 = render(96);
    const auto at300 = render(300);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(at96[i], at300[i], 40) << i;  // within a pixel or two at 96 dpi
    EXPECT_NEAR(at300[1], e.PageMarginL(), 30);
}

TEST(DocumentEngine, OwnFormatKeepsFieldsAndImages)
{
    TTempDir dir;
    const std::string logo = MakePng(dir, "logo.png", 40, 20, Qt::blue);
    DocumentEngine e;
    e.ActivatePart(DocumentEngine::HeaderPart);
    e.SetSelText("Head <<PATSUR>>");
    e.SetSelStart(5);
    e.SetSelLength(10);
    const int headerField = e.InsertField("").Value();
    ASSERT_TRUE(e.SetFieldChangeable(false));
    e.ActivatePart(DocumentEngine::MainPart);
    e.SetFontBold(1);
    e.SetSelText("Name: ");
    e.SetFontBold(0);
    const int bodyField = e.InsertField("SMITH").Value();
    ASSERT_TRUE(e.SetFieldKind(bodyField, 20));
    e.SetSelText(" and ");
    const int emptyField = e.InsertField(" ").Value();
    ASSERT_TRUE(e.SetFieldText(""));
    e.SetSelText("\u00A5 caf\u00E9 \u20AC \u0416 {braces} \\ end");
    ASSERT_TRUE(e.SetFieldCurrent(emptyField));
    ASSERT_EQ(e.FieldStart(), 16);
    ASSERT_TRUE(e.InsertImage(QString::fromStdString(logo), {.PosX = 1440,
                                                              .PosY = 2880,
                                                              .ScaleX = 50,
                                                              .LayoutCodeA = 1,
                                                              .LayoutCodeB = 3,
                                                              .Distance1 = 20,
                                                              .Distance2 = 21,
                                                              .Distance3 = 22,
                                                              .Distance4 = 23}));
    EXPECT_FALSE(e.InsertImage(QString::fromStdString(dir / "none.png"), {.LayoutCodeB = 3}));
    ASSERT_TRUE(e.SetPageMarginL(2000));

    const QString path = QString::fromStdString(dir / "t.tpl");
    ASSERT_TRUE(e.SaveDocument(path, 3));

    DocumentEngine back;
    ASSERT_TRUE(back.LoadDocument(path));
    EXPECT_EQ(back.Text(), e.Text());
    EXPECT_EQ(back.LoadSaveAttribute(2), 2000);
    EXPECT_EQ(back.PageMarginL(), 2000);
    back.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_EQ(back.Text(), "Head <<PATSUR>>");
    ASSERT_TRUE(back.SetFieldCurrent(headerField));
    EXPECT_EQ(back.FieldText(), "<<PATSUR>>");
    EXPECT_FALSE(back.FieldChangeable());
    back.ActivatePart(DocumentEngine::MainPart);
    ASSERT_TRUE(back.SetFieldCurrent(bodyField));
    EXPECT_EQ(back.FieldText(), "SMITH");
    EXPECT_EQ(back.FieldStart(), 6);
    EXPECT_EQ(back.FieldKind(bodyField), 20);
    EXPECT_TRUE(back.FieldChangeable());
    ASSERT_TRUE(back.SetFieldCurrent(emptyField));
    EXPECT_EQ(back.FieldText(), "");
    EXPECT_EQ(back.FieldStart(), 16);
    back.SetSelStart(0);
    back.SetSelLength(1);
    EXPECT_EQ(back.FontBold(), 1);
    ASSERT_EQ(back.Images().size(), 1u);
    const TPositionedImage& image = back.Images()[0];
    EXPECT_EQ(image.FileName.toStdString(), logo);
    EXPECT_EQ(image.PosX, 1440);
    EXPECT_EQ(image.PosY, 2880);
    EXPECT_EQ(image.ScaleX, 50);
    EXPECT_EQ(image.ScaleY, 100);
    EXPECT_EQ(image.LayoutCodeB, 3);
    EXPECT_EQ(image.Distance4, 23);
    EXPECT_EQ(image.Image.size(), QSize(40, 20));

    // The template scan reads the same images; a twin that differs only in
    // its file name is not added twice.
    TImageRecordArray images;
    ScanTemplateImages(dir / "t.tpl", images);
    ScanTemplateImages(dir / "t.tpl", images);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].FileName, logo);
    EXPECT_EQ(images[0].LayoutCodeA, 1);
    EXPECT_EQ(images[0].Distance1, 20);
    EXPECT_FALSE(images[0].FromRequest);
    ScanTemplateImages(dir / "missing.tpl", images);
    EXPECT_EQ(images.size(), 1u);
}

TEST(DocumentEngine, TemplateGoesIntoTheSelection)
{
    TTempDir dir;
    DocumentEngine tpl;
    tpl.SetSelText("Template ");
    ASSERT_TRUE(tpl.InsertField("<<REQCODE>>"));
    const QString path = QString::fromStdString(dir / "P1.tpl");
    ASSERT_TRUE(tpl.SaveDocument(path, 3));

    DocumentEngine e;
    e.ActivatePart(DocumentEngine::HeaderPart);
    e.SetSelText("Letterhead");
    e.ActivatePart(DocumentEngine::MainPart);
    e.SetSelText("[old body]");
    e.SetSelStart(0);
    e.SetSelLength(static_cast<int>(e.Text().size()));
    ASSERT_TRUE(e.InsertDocument(path, e.SelStart(), e.SelLength()));
    EXPECT_EQ(e.Text(), "Template <<REQCODE>>");
    const auto ids = e.FieldIds(DocumentEngine::MainPart);
    ASSERT_EQ(ids.size(), 1u);
    ASSERT_TRUE(e.SetFieldCurrent(ids[0]));
    EXPECT_EQ(e.FieldStart(), 9);
    EXPECT_EQ(e.FieldText(), "<<REQCODE>>");
    e.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_EQ(e.Text(), "Letterhead");  // loading into the selection leaves the header alone
}

TEST(DocumentEngine, TemplateFootnotesAndAnchoredShapesComeAlong)
{
    // A template with a footnote and a frame anchored at its second
    // paragraph, put after the letterhead's own first line.
    TTempDir dir;
    WriteFile(dir / "t.rtf", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}Result{\\super\\chftn}{\\footnote\\pard "
                             "{\\super\\chftn} Method note\\par}\\par\\pard\\pvpara\\posy0\\absw2000 Boxed\\par"
                             "\\pard Second\\par}");
    DocumentEngine e;
    e.SetSelText("Letterhead line\n");
    ASSERT_TRUE(e.InsertDocument(QString::fromStdString(dir / "t.rtf"), e.SelStart(), e.SelLength()));
    EXPECT_EQ(e.Text(), "Letterhead line\nResult1\nSecond");
    ASSERT_EQ(e.FootnoteCount(), 1);
    EXPECT_EQ(e.FootnoteAnchor(0), static_cast<int>(QString("Letterhead line\nResult1").size()));
    EXPECT_EQ(e.FootnoteDocument(0)->toPlainText().trimmed(), "1 Method note");
    ASSERT_EQ(e.Shapes().size(), 1u);
    EXPECT_GE(e.Shapes()[0].AnchorPosition, static_cast<int>(QString("Letterhead line\n").size()));
    EXPECT_NE(PdfText([&] {
                  const std::string pdf = dir / "t.pdf";
                  WriteFile(pdf, e.PdfBytes("t").toStdString());
                  return pdf;
              }())
                  .find("Method note"),
              std::string::npos);
}

// A file's first reading is handed to the engine whole and later ones are
// copies of a kept reading: each load looks the same, first paragraph
// included, and an edit made after one load is gone at the next.
TEST(DocumentEngine, AFileLoadsTheSameEachTimeItIsRead)
{
    const std::string files[] = {
        WriteTemp("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\header\\pard\\sa200\\plain\\f0 Head\\par}"
                  "\\pard\\sb300\\sa400\\plain\\f0\\fs40\\par"
                  "\\pard\\sb200\\plain\\f0\\fs20 After an empty paragraph\\par"
                  "\\trowd\\cellx3000\\cellx6000\\pard\\intbl One\\cell Two\\cell\\row\\pard\\plain End\\par}"),
        WriteTemp("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\trowd\\cellx3000\\cellx6000"
                  "\\pard\\intbl\\sb400\\sa300\\plain\\f0\\fs32 One\\cell Two\\cell\\row"
                  "\\pard\\sb500\\plain\\f0 End\\par}"),
    };
    const auto pdf = [](DocumentEngine& e) {
        std::string bytes = e.PdfBytes("t").toStdString();
        const std::size_t date = bytes.find("/CreationDate");
        return date == std::string::npos ? bytes : bytes.erase(date, bytes.find(')', date) - date);
    };
    for (const std::string& file : files) {
        DocumentEngine e;
        std::vector<std::string> loads;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(e.LoadDocument(QString::fromStdString(file)));
            loads.push_back(e.Text().toStdString() + "\n" + pdf(e));
            e.SetText("Edited");
        }
        EXPECT_NE(loads[0].find("End"), std::string::npos);
        EXPECT_EQ(loads[1], loads[0]) << file;
        EXPECT_EQ(loads[2], loads[0]) << file;
    }
}

TEST(DocumentEngine, RefusesWhatIsNotRtf)
{
    TTempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        const char* says;
    };
    const Case cases[] = {
        {"old.doc", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'), "binary Word 97-2003"},
        {"new.docx", std::string("PK\x03\x04", 4) + "....word/document.xml", "Word document (DOCX)"},
        {"x.odt", std::string("PK\x03\x04", 4) + "mimetypeapplication/vnd.oasis.opendocument.text", "OpenDocument"},
        {"x.pdf", "%PDF-1.4", "PDF"},
    };
    for (const Case& c : cases) {
        WriteFile(dir / c.name, c.bytes);
        DocumentEngine e;
        const TOutcome loaded = e.LoadDocument(QString::fromStdString(dir / c.name));
        EXPECT_FALSE(loaded) << c.name << " was loaded";
        EXPECT_NE(loaded.Reason().find(c.says), std::string::npos) << loaded.Reason();
        EXPECT_NE(loaded.Reason().find("save it as Rich Text Format"), std::string::npos) << loaded.Reason();
    }
    DocumentEngine e;
    EXPECT_FALSE(e.LoadDocument(QString::fromStdString(dir / "none.rtf")));
}

TEST(DocumentEngine, PageSetupAndHeadersFromRtf)
{
    TTempDir dir;
    // Section values win over document values; the header sits at its distance.
    WriteFile(dir / "lh.rtf",
              "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}{\\colortbl;\\red255\\green0\\blue0;}"
              "\\paperw11906\\paperh16838\\margl1417\\margr1020\\margt680\\margb567"
              "\\sectd\\pgwsxn11906\\pghsxn16838\\marglsxn1417\\margrsxn1020\\margtsxn1927\\headery680"
              "\\margbsxn1021\\footery567{\\header\\pard\\qc\\b Pathology {\\cf1 Lab}\\par}"
              "{\\footer\\pard Page footer\\par}\\pard Body \\'e9t\\u233\\'e9 line\\line two\\tab x\\par}");
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(QString::fromStdString(dir / "lh.rtf")));
    const int expected[6] = {11906, 16838, 1417, 1927, 1020, 1021};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(e.LoadSaveAttribute(i), expected[i]) << i;
    EXPECT_EQ(e.Text(), QString::fromUtf8("Body \u00E9t\u00E9 line\ntwo\tx"));
    e.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_EQ(e.Text(), "Pathology Lab");
    EXPECT_EQ(e.Alignment(), 2);
    e.SetSelStart(11);
    e.SetSelLength(1);
    EXPECT_EQ(e.ForeColor(), 255);
    EXPECT_EQ(e.FontBold(), 1);
    e.ActivatePart(DocumentEngine::FooterPart);
    EXPECT_EQ(e.Text(), "Page footer");
    EXPECT_EQ(e.Geometry().HeaderTop, 680);
    EXPECT_GE(e.Geometry().BodyTop, 1927);
}

TEST(DocumentEngine, PicturesInRtfDibJpegAndPng)
{
    TTempDir dir;
    QImage red(8, 4, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray bmp, jpeg;
    {
        QBuffer b(&bmp);
        b.open(QIODevice::WriteOnly);
        red.save(&b, "BMP");
        QBuffer j(&jpeg);
        j.open(QIODevice::WriteOnly);
        red.save(&j, "JPEG");
    }
    const QByteArray dib = bmp.mid(14).toHex();  // a DIB is a BMP without its file header
    WriteFile(dir / "p.rtf", "{\\rtf1 A{\\pict\\dibitmap0\\picw8\\pich4\\picwgoal1200\\pichgoal600 " + dib.toStdString() +
                                 "}B{\\pict\\jpegblip\\picwgoal300\\pichgoal150 " + jpeg.toHex().toStdString() +
                                 "}C{\\pict\\wmetafile8 0100090000}D}");
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(QString::fromStdString(dir / "p.rtf")));
    EXPECT_EQ(e.Text(), QString("A") + QChar::ObjectReplacementCharacter + "B" + QChar::ObjectReplacementCharacter + "CD");
    // Drawn at their size: the DIB 1200 x 600 twips, red.
    QImage page(e.PageWidth() / 15, e.PageHeight() / 15, QImage::Format_RGB32);
    page.setDotsPerMeterX(3780);
    page.setDotsPerMeterY(3780);
    page.fill(Qt::white);
    QPainter painter(&page);
    e.SetPrintDevice(&painter);
    ASSERT_TRUE(e.PrintPage(1));
    painter.end();
    int redPixels = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 400; ++x)
            redPixels += page.pixelColor(x, y).red() > 200 && page.pixelColor(x, y).green() < 80;
    EXPECT_NEAR(redPixels, 80 * 40 + 20 * 10, 400);

    DocumentEngine noDevice;
    EXPECT_FALSE(noDevice.PrintPage(1));
}

TEST(DocumentEngine, PdfEmbedsItsFontsAndTakesThePageSize)
{
    TTempDir dir;
    DocumentEngine e;
    ASSERT_TRUE(e.SetPageWidth(12240));
    ASSERT_TRUE(e.SetPageHeight(15840));
    e.SetFontName("Times New Roman");
    e.SetSelText("Serif text ");
    e.SetFontName("Courier New");
    e.SetSelText("mono text");
    ASSERT_TRUE(e.SaveDocument(QString::fromStdString(dir / "f.pdf"), 12));
    QProcess fonts;
    fonts.start("pdffonts", {QString::fromStdString(dir / "f.pdf")});
    fonts.waitForFinished(30000);
    const QStringList lines = QString::fromUtf8(fonts.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_GE(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_TRUE(line.contains(QRegularExpression("\\byes\\s+(yes|no)\\s+yes\\b"))) << line.toStdString();  // embedded, Unicode map
    QProcess info;
    info.start("pdfinfo", {QString::fromStdString(dir / "f.pdf")});
    info.waitForFinished(30000);
    EXPECT_TRUE(QString::fromUtf8(info.readAllStandardOutput()).contains("612 x 792 pts"));
    EXPECT_NE(PdfText(dir / "f.pdf").find("Serif text mono text"), std::string::npos);
    const TOutcome refused = e.SaveDocument(QString::fromStdString(dir / "none/f.pdf"), 12);
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.Reason().empty());
}

// A saved document is whole on disk or not there: into a full folder the
// save fails saying where, and leaves nothing; a name beyond the system's
// code page is saved under that very name.
TEST(DocumentEngine, ASaveIntoAFullFolderFailsAndLeavesNothing)
{
    PRINTORB_IN_SMALL_FILE_SYSTEMS();
    TSmallFileSystem disk;
    ASSERT_TRUE(disk.Mounted());
    DocumentEngine e;
    e.SetSelText("Report text");
    const QString name = QString::fromStdString(disk.Path()) + QString::fromUtf8("\u043e\u0442\u0447\u0451\u0442.rtf");
    for (const int format : {12, 9}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(disk.Fill());
        const TOutcome saved = e.SaveDocument(QString::fromStdString(disk / "f.pdf"), format);
        EXPECT_FALSE(saved);
        EXPECT_EQ(saved.Reason(), "Could not save " + (disk / "f.pdf") + ": no space left in " + disk.Path());
        EXPECT_TRUE(disk.Names().empty());
        disk.MakeRoom();
    }
    ASSERT_TRUE(e.SaveDocument(name, 9));
    EXPECT_EQ(disk.Names(), (std::vector<std::string> {name.mid(name.lastIndexOf('/') + 1).toStdString()}));
    EXPECT_EQ(ReadFile(name.toStdString()).rfind("{\\rtf", 0), 0u);
}

// Laid-out lines keep their glyphs until drawn: a field changed after a
// report was drawn, in the main text and in a header, is drawn with its new
// text, never the glyphs kept from before.
TEST(DocumentEngine, AFieldChangedAfterDrawingIsDrawnWithItsNewText)
{
    TTempDir dir;
    DocumentEngine e;
    int ids[2] = {0, 0};
    const int parts[2] = {DocumentEngine::HeaderPart, DocumentEngine::MainPart};
    for (int i = 0; i < 2; ++i) {
        e.ActivatePart(parts[i]);
        e.SetSelText("Patient: ");
        ids[i] = e.InsertField("<<PATSUR>>").Value();
        e.SetSelText(" end of line");
    }
    const std::string pdf = dir / "r.pdf";
    for (const char* name : {"Abercrombie", "Li", "Zygmunt-Oyelaran"}) {
        SCOPED_TRACE(name);
        for (const int id : ids) {
            ASSERT_TRUE(e.SetFieldCurrent(id));
            ASSERT_TRUE(e.SetFieldText(name));
        }
        ASSERT_TRUE(e.SaveDocument(QString::fromStdString(pdf), 12));
        const std::string text = PdfText(pdf);
        const std::string line = std::string("Patient: ") + name + " end of line";
        const auto first = text.find(line);
        ASSERT_NE(first, std::string::npos) << text;
        EXPECT_NE(text.find(line, first + 1), std::string::npos) << "header and main text: " << text;
    }
}

TEST(DocumentEngine, PageNumberFieldsShowEachPagesValues)
{
    TTempDir dir;
    std::string rtf = "{\\rtf1{\\footer\\pard\\qc Page {\\field{\\*\\fldinst  PAGE }{\\fldrslt 1}} of "
                      "{\\field{\\*\\fldinst {\\b NUMPAGES \\\\* MERGEFORMAT}}{\\fldrslt 9}}\\par}";
    for (int i = 0; i < 150; ++i)
        rtf += "Line " + std::to_string(i) + "\\par\n";
    WriteFile(dir / "pages.rtf", rtf + "}");
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(QString::fromStdString(dir / "pages.rtf")));
    const int pages = e.CurrentPages();
    ASSERT_GE(pages, 3);
    // Saved and read again, the fields stay fields.
    ASSERT_TRUE(e.SaveDocument(QString::fromStdString(dir / "again.rtf"), 9));
    DocumentEngine again;
    ASSERT_TRUE(again.LoadDocument(QString::fromStdString(dir / "again.rtf")));
    ASSERT_TRUE(again.SaveDocument(QString::fromStdString(dir / "pages.pdf"), 12));
    for (int page = 1; page <= pages; ++page)
        EXPECT_NE(PdfText(dir / "pages.pdf", page).find("Page " + std::to_string(page) + " of " + std::to_string(pages)),
                  std::string::npos)
            << page;
    e.ActivatePart(DocumentEngine::FooterPart);
    EXPECT_EQ(e.Text(), "Page 1 of 9");  // the text itself keeps the stored results
}

TEST(DocumentEngine, PageFieldsWithoutAResultShowTheirValues)
{
    // Generated RTF may leave the result out: the word processor shows the value all the same.
    const char* footers[] = {
        "Page {\\field{\\*\\fldinst PAGE}} of {\\field{\\*\\fldinst {NUMPAGES }}}",
        "Page {\\field{\\*\\fldinst PAGE}{\\fldrslt 7}} of {\\field{\\*\\fldinst NUMPAGES}}",
        "Page \\chpgn  of {\\field {\\*\\fldinst {NUMPAGES }}}",
    };
    for (const char* footer : footers) {
        auto e = LoadRtf(std::string("{\\rtf1{\\footer\\pard ") + footer + "\\par}One\\page Two\\par}");
        ASSERT_EQ(e->CurrentPages(), 2);
        for (int page = 1; page <= 2; ++page)
            EXPECT_NE(PageText(*e, page).find("Page " + std::to_string(page) + " of 2"), std::string::npos)
                << footer << " page " << page << ": " << PageText(*e, page);
    }
}

TEST(DocumentEngine, PicturesThatClaimHugeSizesAreNotDecoded)
{
    TTempDir dir;
    // A PNG header claiming 40000 x 40000 pixels (6 GB decoded) and no data.
    const QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452000098" "40000098400806000000"
                                               "00000000");
    WriteFile(dir / "huge.rtf", "{\\rtf1 A{\\pict\\pngblip " + png.toHex().toStdString() + "}B}");
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(QString::fromStdString(dir / "huge.rtf")));
    EXPECT_EQ(e.Text(), "AB");
}
