// Real RTF files: the shared corpus from public projects' test suites (beside
// the clone in CI, absent in a user's clone: those tests skip), letterheads
// LibreOffice saved (with the text of LibreOffice's own PDF of each, so no
// LibreOffice is needed here), and files written by hand for this repository
// (data/hand/) that exercise what the corpus guards: tables, pictures and
// shapes, fields, sections, headers and footers, lists and code pages.
#include "platform/docengine/documentengine.h"

#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextTable>
#include <QTextDocument>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

QString CorpusDir()
{
    return QString::fromStdString(SourceDir() + "/../shared/corpus/rtf");
}

QString FixtureDir()
{
    return QString::fromStdString(SourceDir() + "/tests/platform/data/lo");
}

QString HandDir()
{
    return QString::fromStdString(SourceDir() + "/tests/platform/data/hand");
}

bool HaveCorpus()
{
    return QDir(CorpusDir()).exists();
}

// A test over the shared corpus says, when it is absent, what it would have
// checked; the same checks run over the repository's own files elsewhere.
#define SKIP_WITHOUT_CORPUS(what)                                                                             \
    if (!HaveCorpus())                                                                                         \
    GTEST_SKIP() << "the shared RTF corpus ../shared/corpus/rtf is absent (" << CorpusDir().toStdString()     \
                 << "); this test would have checked " << what

QStringList RtfFiles(const QString& dir)
{
    QStringList files;
    for (const QString& name : QDir(dir).entryList({"*.rtf"}, QDir::Files, QDir::Name))
        files << dir + "/" + name;
    return files;
}

// The repository's own RTF files: LibreOffice's letterheads, the hand-written
// ones, the fuzzer's findings and the demo's letterhead and templates.
QStringList OwnFiles()
{
    QStringList files = RtfFiles(FixtureDir()) + RtfFiles(HandDir()) +
                        RtfFiles(QString::fromStdString(SourceDir() + "/tests/platform/data/fuzz"));
    const QString demo = QString::fromStdString(SourceDir() + "/demo/templates");
    for (const QString& name : QDir(demo).entryList({"*.doc", "*.tpl"}, QDir::Files, QDir::Name))
        files << demo + "/" + name;
    return files;
}

QStringList Words(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

QString PdfText(const QString& pdf, int page = 0)
{
    QStringList args;
    if (page > 0)
        args << "-f" << QString::number(page) << "-l" << QString::number(page);
    args << pdf << "-";
    QProcess process;
    process.start("pdftotext", args);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString PartText(DocumentEngine& e, int part)
{
    e.ActivatePart(part);
    QString text = e.Text();
    text.remove(QChar::ObjectReplacementCharacter);
    e.ActivatePart(DocumentEngine::MainPart);
    return text;
}

}  // namespace

namespace {

// The file loads, lays out, saves as a PDF qpdf finds sound, and what was
// read survives being written as RTF and read again.
void LoadsSavesAndReadsBack(const QString& file, const TTempDir& out)
{
    SCOPED_TRACE(file.toStdString());
    const QString name = QFileInfo(file).fileName();
    DocumentEngine e;
    if (const TOutcome loaded = e.LoadDocument(file); !loaded) {
        ADD_FAILURE() << "refused: " << loaded.Reason();
        return;
    }
    EXPECT_GE(e.CurrentPages(), 1);
    const QString pdf = QString::fromStdString(out.Path()) + name + ".pdf";
    ASSERT_TRUE(e.SaveDocument(pdf, 12));
    QProcess qpdf;
    qpdf.start("qpdf", {"--check", pdf});
    qpdf.waitForFinished(60000);
    EXPECT_EQ(qpdf.exitCode(), 0) << qpdf.readAllStandardOutput().toStdString();
    const QString rtf = QString::fromStdString(out.Path()) + name + ".rtf";
    ASSERT_TRUE(e.SaveDocument(rtf, 9));
    DocumentEngine again;
    ASSERT_TRUE(again.LoadDocument(rtf));
    EXPECT_EQ(again.Text(), e.Text());
    EXPECT_EQ(PartText(again, DocumentEngine::HeaderPart), PartText(e, DocumentEngine::HeaderPart));
    EXPECT_EQ(again.PageWidth(), e.PageWidth());
    EXPECT_EQ(again.CurrentPages(), e.CurrentPages());
    EXPECT_EQ(again.HeaderParts(), e.HeaderParts());
    EXPECT_EQ(again.FooterParts(), e.FooterParts());
    for (const int part : e.HeaderParts())
        EXPECT_EQ(PartText(again, part), PartText(e, part)) << part;
    for (const int part : e.FooterParts())
        EXPECT_EQ(PartText(again, part), PartText(e, part)) << part;
    EXPECT_EQ(again.FootnoteCount(), e.FootnoteCount());
    EXPECT_EQ(again.Images().size(), e.Images().size());
    EXPECT_EQ(again.Shapes().size(), e.Shapes().size());
    EXPECT_EQ(again.SectionCount(), e.SectionCount());
    for (int page = 1; page <= std::min(e.CurrentPages(), again.CurrentPages()); ++page) {
        EXPECT_EQ(again.PageSetupOf(page).PageWidth, e.PageSetupOf(page).PageWidth) << "page " << page;
        EXPECT_EQ(again.PageSetupOf(page).PageHeight, e.PageSetupOf(page).PageHeight) << "page " << page;
    }
}

}  // namespace

TEST(RtfCorpus, EveryFileLoadsAndSavesAsAValidPdf)
{
    SKIP_WITHOUT_CORPUS("that each of its files loads, saves as a valid PDF and reads back the same from RTF "
                        "(RtfFixtures.EveryFileLoadsAndSavesAsAValidPdf does so for the repository's files)");
    TTempDir out;
    const QStringList files = RtfFiles(CorpusDir());
    ASSERT_GE(files.size(), 40) << "the shared RTF corpus is incomplete: " << CorpusDir().toStdString();
    for (const QString& file : files)
        LoadsSavesAndReadsBack(file, out);
}

TEST(RtfFixtures, EveryFileLoadsAndSavesAsAValidPdf)
{
    TTempDir out;
    const QStringList files = OwnFiles();
    ASSERT_GE(files.size(), 15);
    for (const QString& file : files)
        LoadsSavesAndReadsBack(file, out);
}

TEST(RtfCorpus, DamagedFilesGiveTheTextTheyHold)
{
    SKIP_WITHOUT_CORPUS("that its damaged and odd files (leading garbage, an extra brace, a truncated file, "
                        "plain text, bad hex, code pages, surrogate pairs) give the text they hold "
                        "(RtfFixtures.DamagedFilesGiveTheTextTheyHold does so with bytes of its own)");
    struct Case {
        const char* file;
        const char* text;
    };
    const Case cases[] = {
        {"rtfpipe_fail_0_leading_garbage.rtf", "Hello world in {RTF}"},
        {"rtfpipe_fail_2_extra_close_brace.rtf", "Hello world in {RTF}"},
        {"rtfpipe_fail_3_truncated.rtf", "Hello world in {RTF}"},
        {"rtfpipe_fail_5_plain_text.rtf", "foobar"},
        {"rtfpipe_Issue49.rtf", "5% Auf Patronen"},
        {"lo-qa_invalid-hex.rtf", "x\u0159x"},
        {"rtfjs_pile-of-poo.rtf", "I\u00F1t\u00EBrn\u00E2ti\u00F4n\u00E0liz\u00E6ti\u00F8n\u2603"},
        {"tika_testRTFWindowsCodepage1250.rtf", "\u0104"},
        {"rtfparserkit_testMultiByteHex.rtf", "\u304A\u5143\u6C17\u3067\u3059\u304B"},
    };
    for (const Case& c : cases) {
        DocumentEngine e;
        ASSERT_TRUE(e.LoadDocument(CorpusDir() + "/" + c.file));
        EXPECT_TRUE(e.Text().contains(QString::fromUtf8(c.text))) << c.file << ": " << e.Text().toStdString();
    }
    // Not RTF at all: shown as the text it is.
    DocumentEngine control;
    ASSERT_TRUE(control.LoadDocument(CorpusDir() + "/rtfpipe_fail_6_control_word_only.rtf"));
    EXPECT_EQ(control.Text(), "\\foobar");
}

// Damaged and odd RTF, byte for byte: each gives the text it holds.
TEST(RtfFixtures, DamagedFilesGiveTheTextTheyHold)
{
    struct Case {
        const char* what;
        std::string bytes;
        const char* text;  // what the text must contain (UTF-8)
        bool whole;        // the text is exactly this
    };
    const Case cases[] = {
        {"leading garbage", "garbage before {\\rtf1\\ansi Hello world in \\{RTF\\}\\par}", "Hello world in {RTF}",
         false},
        {"an extra closing brace", "{\\rtf1\\ansi Hello world in \\{RTF\\}\\par}}", "Hello world in {RTF}", true},
        {"truncated", "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Hello world in \\{RTF\\}", "Hello world in {RTF}",
         true},
        {"truncated inside a group", "{\\rtf1\\ansi Result {\\b 5.2 mmol", "Result 5.2 mmol", true},
        {"plain text", "foobar", "foobar", true},
        {"a control word without RTF", "\\foobar", "\\foobar", true},
        {"a percent sign and a hex escape", "{\\rtf1\\ansi 5\\'25 Auf Patronen\\par}", "5% Auf Patronen", true},
        {"bad hex digits", "{\\rtf1\\ansi\\ansicpg1250 x\\'f8x\\'zzy\\par}", "x\u0159x", false},
        {"a code page of the font", "{\\rtf1\\ansi{\\fonttbl{\\f1\\fcharset238 Arial;}}\\f1 \\'a5\\par}", "\u0104",
         true},
        {"the document's code page", "{\\rtf1\\ansi\\ansicpg1250 \\'a5\\'b9\\par}", "\u0104\u0105", true},
        {"double-byte hex",
         "{\\rtf1\\ansi\\ansicpg932{\\fonttbl{\\f0\\fcharset128 MS Mincho;}}\\f0 \\'82\\'a8\\'8c\\'b3\\'8b\\'43\\par}",
         "\u304A\u5143\u6C17", true},
        {"Unicode with fallbacks",
         "{\\rtf1\\ansi\\uc1 I\\u241?t\\u235?rn\\u226?ti\\u244?n\\u224?liz\\u230?ti\\u248?n\\u9731?\\par}",
         "I\u00F1t\u00EBrn\u00E2ti\u00F4n\u00E0liz\u00E6ti\u00F8n\u2603", true},
        {"a surrogate pair", "{\\rtf1\\ansi\\uc1 pile \\u-10179?\\u-9047? of\\par}", "pile \U0001F4A9 of", true},
        {"an unpaired surrogate", "{\\rtf1\\ansi\\uc1 a\\u-10179?b\\par}", "b", false},
        {"a huge parameter", "{\\rtf1\\ansi\\fs99999999999999 big\\li-99999999999 \\par}", "big", true},
        // Groups nested too deep are read over; what follows them is kept.
        {"deep nesting",
         std::string("{\\rtf1 ") + std::string(5000, '{') + "deep" + std::string(5000, '}') + "after\\par}", "after",
         false},
        // Binary data that looks like braces and a backslash is skipped whole.
        {"a binary run", std::string("{\\rtf1 a{\\*\\x\\bin4 ") + std::string(1, '\0') + "}{\\}b\\par}", "ab", true},
        {"empty", "", "", true},
    };
    TTempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "damaged.rtf", c.bytes);
        DocumentEngine e;
        ASSERT_TRUE(e.LoadDocument(QString::fromStdString(dir / "damaged.rtf")));
        const QString text = QString::fromUtf8(c.text);
        if (c.whole)
            EXPECT_EQ(e.Text().toStdString(), text.toStdString());
        else
            EXPECT_TRUE(e.Text().contains(text)) << e.Text().toStdString();
        EXPECT_GE(e.CurrentPages(), 1);
    }
}

TEST(RtfCorpus, PicturesAndShapesAreRead)
{
    SKIP_WITHOUT_CORPUS("an inline PNG, a GIF labelled as PNG floating behind the text and a picture in a header "
                        "table cell (RtfFixtures.PicturesAndShapesAreRead does so with files of its own)");
    DocumentEngine inline_;
    ASSERT_TRUE(inline_.LoadDocument(CorpusDir() + "/rtfjs_simplepng.rtf"));
    EXPECT_TRUE(inline_.Text().contains(QChar::ObjectReplacementCharacter));

    DocumentEngine behind;  // a GIF labelled as PNG, floating behind the text
    ASSERT_TRUE(behind.LoadDocument(CorpusDir() + "/lo-qa_behind-doc.rtf"));
    ASSERT_EQ(behind.Images().size(), 1u);
    EXPECT_FALSE(behind.Images()[0].Image.isNull());

    DocumentEngine header;  // a picture in a header table cell
    ASSERT_TRUE(header.LoadDocument(CorpusDir() + "/lo-qa_fdo49659.rtf"));
    header.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_TRUE(header.Text().contains(QChar::ObjectReplacementCharacter));
    EXPECT_TRUE(header.Text().contains("header1"));
}

namespace {

// The pictures inline in a part, with their size in twips.
std::vector<QSizeF> InlinePictures(const DocumentEngine& e, int part)
{
    std::vector<QSizeF> sizes;
    const QTextDocument* document = e.PartDocument(part);
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat()) {
                const QTextImageFormat image = it.fragment().charFormat().toImageFormat();
                sizes.emplace_back(image.width() * 15, image.height() * 15);
            }
    return sizes;
}

}  // namespace

TEST(RtfFixtures, PicturesAndShapesAreRead)
{
    DocumentEngine pictures;
    ASSERT_TRUE(pictures.LoadDocument(HandDir() + "/hand_pictures.rtf"));
    EXPECT_EQ(pictures.Text().count(QChar::ObjectReplacementCharacter), 7) << pictures.Text().toStdString();
    const std::vector<QSizeF> sizes = InlinePictures(pictures, DocumentEngine::MainPart);
    ASSERT_EQ(sizes.size(), 7u);
    struct TSize {
        const char* What;
        double Width, Height;  // twips
    };
    const TSize expected[] = {
        {"the logo at its goal size", 1440, 720},
        {"the logo from its pixels at 150 dots to the inch", 120 * 1440 / 150, 60 * 1440 / 150},
        {"the photograph", 1920, 1280},
        {"the stripes cropped by 900 twips each side, at half size", (2700 - 1800) / 2, 900 / 2},
        {"the metafile", 2880, 1440},
        {"the enhanced metafile", 2880, 1440},
        {"the large picture", 4800, 3600},
    };
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_NEAR(sizes[i].width(), expected[i].Width, 2) << expected[i].What;
        EXPECT_NEAR(sizes[i].height(), expected[i].Height, 2) << expected[i].What;
    }

    DocumentEngine shapes;
    ASSERT_TRUE(shapes.LoadDocument(HandDir() + "/hand_shapes.rtf"));
    // The watermark in the header and the GIF labelled as PNG behind the text.
    ASSERT_EQ(shapes.Images().size(), 2u);
    for (const TPositionedImage& image : shapes.Images()) {
        EXPECT_FALSE(image.Image.isNull());
        EXPECT_TRUE(image.BehindText);
    }
    const auto watermark = std::find_if(shapes.Images().begin(), shapes.Images().end(),
                                        [](const TPositionedImage& i) { return i.EveryPage; });
    ASSERT_NE(watermark, shapes.Images().end()) << "the header's picture is on every page";
    EXPECT_TRUE(watermark->Image.hasAlphaChannel());
    const auto behind = std::find_if(shapes.Images().begin(), shapes.Images().end(),
                                     [](const TPositionedImage& i) { return !i.EveryPage; });
    ASSERT_NE(behind, shapes.Images().end());
    EXPECT_EQ(behind->Image.size(), QSize(48, 48));
    // A picture in a header table cell.
    EXPECT_TRUE(PartText(shapes, DocumentEngine::HeaderPart).contains("header table cell with a logo"));
    shapes.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_TRUE(shapes.Text().contains(QChar::ObjectReplacementCharacter));
    shapes.ActivatePart(DocumentEngine::MainPart);
    // The rectangle, the ellipse, the text box, the frame and the drawn rectangle.
    std::map<TPositionedShape::Kind, int> kinds;
    for (const TPositionedShape& shape : shapes.Shapes())
        ++kinds[shape.Shape];
    EXPECT_EQ(kinds[TPositionedShape::Rectangle], 2);
    EXPECT_EQ(kinds[TPositionedShape::Ellipse], 1);
    EXPECT_EQ(kinds[TPositionedShape::TextBox], 2);
    for (const TPositionedShape& shape : shapes.Shapes())
        if (shape.Shape == TPositionedShape::TextBox) {
            ASSERT_TRUE(shape.Text);
            const QString text = shape.Text->toPlainText();
            EXPECT_TRUE(text.contains("Text in a box at its place") || text.contains("Framed text at a set place"))
                << text.toStdString();
        }
}

namespace {

// The engine keeps what it read from a file and hands out copies when the
// same bytes are loaded again (every report's letterhead). A report's
// edits must never reach the kept reading, into the whole document or into
// the selection.
void UntouchedByTheReportBefore(const QStringList& files)
{
    TTempDir out;
    const QString saved = QString::fromStdString(out / "saved.rtf");
    auto savedBytes = [&](DocumentEngine& e) {
        EXPECT_TRUE(e.SaveDocument(saved, 9));
        return ReadFile(saved.toStdString());
    };
    auto scribble = [](DocumentEngine& e) {
        for (const int part : {DocumentEngine::HeaderPart, DocumentEngine::FooterPart, DocumentEngine::MainPart}) {
            e.ActivatePart(part);
            e.SetSelStart(0);
            e.SetSelLength(3);
            ASSERT_TRUE(e.InsertField(QStringLiteral("<<EDIT>>")));
            ASSERT_TRUE(e.SetFieldText(QStringLiteral("edited by the report before")));
        }
        e.ActivatePart(DocumentEngine::MainPart);
    };
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        DocumentEngine e;
        ASSERT_TRUE(e.LoadDocument(file));
        const std::string first = savedBytes(e);
        const QString firstText = e.Text();
        const int notes = e.FootnoteCount();
        const std::size_t shapes = e.Shapes().size();
        scribble(e);
        e.ClearDocument();
        ASSERT_TRUE(e.LoadDocument(file));
        EXPECT_EQ(e.Text(), firstText);
        EXPECT_EQ(savedBytes(e), first);

        // As a template, put into the selection twice, with edits between.
        DocumentEngine t;
        for (int round = 0; round < 2; ++round) {
            t.ClearDocument();
            t.SetSelText(QStringLiteral("Letterhead\n"));
            ASSERT_TRUE(t.InsertDocument(file, t.SelStart(), t.SelLength()));
            EXPECT_EQ(t.Text(), "Letterhead\n" + firstText) << round;
            EXPECT_EQ(t.FootnoteCount(), notes) << round;
            EXPECT_EQ(t.Shapes().size(), shapes) << round;
            scribble(t);
        }
    }
}

}  // namespace

TEST(RtfCorpus, ALetterheadLoadedAgainIsUntouchedByTheReportBefore)
{
    SKIP_WITHOUT_CORPUS("that a report's edits never reach the engine's kept reading of each of its files "
                        "(RtfFixtures.ALetterheadLoadedAgainIsUntouchedByTheReportBefore does so for the "
                        "repository's files)");
    const QStringList files = RtfFiles(CorpusDir());
    ASSERT_GE(files.size(), 40);
    UntouchedByTheReportBefore(files);
}

TEST(RtfFixtures, ALetterheadLoadedAgainIsUntouchedByTheReportBefore)
{
    const QStringList files = OwnFiles();
    ASSERT_GE(files.size(), 15);
    UntouchedByTheReportBefore(files);
}

// A table longer than a page: its header row on every page, merged cells,
// a nested table, a tag in a cell.
TEST(RtfFixtures, ATableRunsOntoTheNextPageWithItsHeaderRow)
{
    TTempDir out;
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(HandDir() + "/hand_tables.rtf"));
    // 61 rows of exactly 400 twips: more than one page's 14,570, less than two.
    ASSERT_EQ(e.CurrentPages(), 2);
    const QString pdf = QString::fromStdString(out / "tables.pdf");
    ASSERT_TRUE(e.SaveDocument(pdf, 12));
    for (int page = 1; page <= 2; ++page) {
        const QString text = Words(PdfText(pdf, page)).join(' ');
        EXPECT_TRUE(text.contains("Test Result Units")) << page << ": " << text.toStdString();
        EXPECT_TRUE(text.contains("Hand-made tables: header")) << page;
        EXPECT_TRUE(text.contains("Tables footer")) << page;
    }
    const QString first = Words(PdfText(pdf, 1)).join(' '), second = Words(PdfText(pdf, 2)).join(' ');
    EXPECT_TRUE(first.contains("Results for <<PATSUR>>"));
    EXPECT_TRUE(first.contains("Analyte 1 "));
    EXPECT_TRUE(second.contains("Analyte 60 "));
    EXPECT_EQ(Words(PdfText(pdf)).join(' ').count("Test Result Units"), 2) << "once a page, not once a row";
    for (const char* text : {"Merged across two columns", "third", "Merged down", "first row", "second row",
                             "Inner A", "Inner B", "after the inner table", "Outer right", "End of the tables."})
        EXPECT_TRUE(second.contains(text)) << text;

    // The merged cells span their columns and rows; the inner table is a
    // table of its own inside the outer one's first cell.
    auto cellWith = [&](const QString& text) {
        QTextCursor found = e.PartDocument(DocumentEngine::MainPart)->find(text);
        QTextTable* table = found.isNull() ? nullptr : found.currentTable();
        return std::make_pair(table, table ? table->cellAt(found) : QTextTableCell());
    };
    const auto [across, acrossCell] = cellWith("Merged across two columns");
    ASSERT_TRUE(across);
    EXPECT_EQ(acrossCell.columnSpan(), 2);
    EXPECT_EQ(acrossCell.rowSpan(), 1);
    const auto [down, downCell] = cellWith("Merged down");
    ASSERT_TRUE(down);
    EXPECT_EQ(downCell.rowSpan(), 2);
    EXPECT_EQ(downCell.columnSpan(), 1);
    EXPECT_EQ(down->rows(), 3);
    const auto [inner, innerCell] = cellWith("Inner B");
    const auto [outer, outerCell] = cellWith("Outer right");
    ASSERT_TRUE(inner && outer);
    EXPECT_NE(inner, outer);
    EXPECT_EQ(innerCell.column(), 1);
    EXPECT_EQ(outer->columns(), 2);
    EXPECT_TRUE(inner->firstPosition() > outer->cellAt(0, 0).firstPosition() &&
                inner->lastPosition() < outer->cellAt(0, 0).lastPosition())
        << "inside the outer table's first cell";
}

// First-page, left and right headers and footers each on their pages, page
// fields, sections with their own page size and orientation, a footnote.
TEST(RtfFixtures, SectionsHeadersFootersAndFieldsAreOnTheirPages)
{
    TTempDir out;
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(HandDir() + "/hand_sections.rtf"));
    EXPECT_TRUE(e.TitlePage());
    EXPECT_TRUE(e.FacingPages());
    ASSERT_EQ(e.CurrentPages(), 4);
    struct TPage {
        int Width, Height;
        const char* Header;
        const char* Footer;
        const char* Text;
    };
    const TPage pages[] = {
        {11906, 16838, "First page header for <<PATSUR>>", "First footer, page 1 of 4", "Section one, page one."},
        {11906, 16838, "Left page header", "Left footer, page 2 of 4", "Section one, page two."},
        {16838, 11906, "Right page header", "Right footer, page 3 of 4", "Section two, landscape, page three."},
        {12240, 15840, "Left page header", "Left footer, page 4 of 4", "Section three, Letter, page four."},
    };
    const QString pdf = QString::fromStdString(out / "sections.pdf");
    ASSERT_TRUE(e.SaveDocument(pdf, 12));
    for (int page = 1; page <= 4; ++page) {
        const TPage& p = pages[page - 1];
        SCOPED_TRACE(page);
        EXPECT_EQ(e.PageSetupOf(page).PageWidth, p.Width);
        EXPECT_EQ(e.PageSetupOf(page).PageHeight, p.Height);
        const QString text = Words(PdfText(pdf, page)).join(' ');
        for (const char* expected : {p.Header, p.Footer, p.Text})
            EXPECT_TRUE(text.contains(expected)) << expected << " in: " << text.toStdString();
        for (const TPage& other : pages) {
            if (&other != &p) {
                EXPECT_FALSE(text.contains(other.Text)) << other.Text;
            }
        }
    }
    // The PDF's page sizes, in points.
    for (const auto& [page, size] : std::vector<std::pair<int, const char*>> {
             {1, "595.3 x 841.9"}, {3, "841.9 x 595.3"}, {4, "612 x 792"}}) {
        QProcess info;
        info.start("pdfinfo", {"-f", QString::number(page), "-l", QString::number(page), pdf});
        info.waitForFinished(30000);
        EXPECT_TRUE(QString::fromUtf8(info.readAllStandardOutput()).contains(size)) << page;
    }
    EXPECT_EQ(e.FootnoteCount(), 1);
    EXPECT_TRUE(Words(PdfText(pdf, 1)).join(' ').contains("The footnote's text."));
    const QString main = e.Text();
    EXPECT_TRUE(main.contains("A link: the report online."));
    EXPECT_TRUE(main.contains("A date: 3 March 2025."));
    EXPECT_TRUE(main.contains("Plain, bold, italic, both, underlined, struck, red, sans"));
    EXPECT_EQ(e.SectionCount(), 3);
}

// Lists keep their numbers and bullets; text in the document's, a font's
// and double-byte code pages, and Unicode with its fallbacks, reads as the
// characters it stands for.
TEST(RtfFixtures, ListsAndCodePagesGiveTheirCharacters)
{
    TTempDir out;
    DocumentEngine e;
    ASSERT_TRUE(e.LoadDocument(HandDir() + "/hand_lists_codepages.rtf"));
    const QString text = e.Text();
    const char* const expected[] = {
        "Central European (1250): \u0104\u0105\u0160\u0161\u010C\u010D.",
        "Cyrillic (1251): \u041F\u0440\u0438\u0432\u0435\u0442.",
        "Greek (1253): \u0391\u03B9\u03BC\u03B1.",
        "Japanese (932): \u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8.",
        "Japanese as Unicode: \u65E5\u672C\u8A9E\u306E\u5831\u544A\u66F8.",
        "\u75C5\u7406\u691C\u67FB\u306E\u7D50\u679C\u5831\u544A\u66F8\u3067\u3059\u3002",
        "Western (1252): caf\u00E9, na\u00EFve, 5 \u00B5mol/L \u00B1 2, \u20AC 10.",
        "Two fallback bytes: \u20AC and back to one: \u20AC.",
        "Beyond the basic plane: \U0001F600.",
    };
    for (const char* line : expected)
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << "\nin: " << text.toStdString();
    // The list marks are drawn: numbers, letters and bullets on the page.
    const QString pdf = QString::fromStdString(out / "lists.pdf");
    ASSERT_TRUE(e.SaveDocument(pdf, 12));
    const QString page = Words(PdfText(pdf)).join(' ');
    for (const char* line : {"1. Haemoglobin", "2. Platelets", "3. White cells", "\u2022 Sodium", "\u2022 Potassium",
                             "a) First lettered", "b) Second lettered", "\u2022 Old-style bullet"})
        EXPECT_TRUE(page.contains(QString::fromUtf8(line))) << line << "\nin: " << page.toStdString();
    EXPECT_TRUE(page.contains(QString::fromUtf8("\u75C5\u7406\u691C\u67FB"))) << "Japanese drawn as text";
}

// Loading the same path after the file changed reads the new file.
TEST(RtfCorpus, AFileChangedOnDiskIsReadAnew)
{
    TTempDir dir;
    const std::string path = dir / "letterhead.rtf";
    DocumentEngine e;
    for (const char* text : {"First version", "Other version", "First version"}) {
        WriteFile(path, std::string("{\\rtf1\\ansi{\\header Head: ") + text + "\\par}" + text + "\\par}");
        e.ClearDocument();
        ASSERT_TRUE(e.LoadDocument(QString::fromStdString(path)));
        EXPECT_EQ(e.Text(), text);
        EXPECT_EQ(PartText(e, DocumentEngine::HeaderPart), QString("Head: ") + text);
    }
}

TEST(RtfCorpus, LibreOfficeLetterheadsMatchLibreOffice)
{
    TTempDir out;
    for (const char* name : {"lo_letterhead_a4", "lo_report_letter_2pages", "lo_letterhead_wide_margins"}) {
        SCOPED_TRACE(name);
        DocumentEngine e;
        ASSERT_TRUE(e.LoadDocument(FixtureDir() + "/" + name + ".rtf"));
        const QString header = PartText(e, DocumentEngine::HeaderPart);
        const QString footer = PartText(e, DocumentEngine::FooterPart);
        ASSERT_FALSE(header.trimmed().isEmpty());
        ASSERT_FALSE(footer.trimmed().isEmpty());

        // LibreOffice's text, less its header and footer lines, word for word.
        QFile loFile(FixtureDir() + "/" + name + ".lo.txt");
        ASSERT_TRUE(loFile.open(QIODevice::ReadOnly));
        const QString lo = QString::fromUtf8(loFile.readAll());
        QStringList frameLines;
        for (const QString& line : (header + "\n" + footer).split('\n'))
            frameLines << Words(line).join(' ');
        QStringList body;
        for (const QString& line : lo.split(QRegularExpression("[\n\f]")))
            if (!frameLines.contains(Words(line).join(' ')))
                body << line;
        const QString main = PartText(e, DocumentEngine::MainPart);
        EXPECT_EQ(Words(main).join(' ').toStdString(), Words(body.join('\n')).join(' ').toStdString());

        QFile pagesFile(FixtureDir() + "/" + name + ".lo.pages");
        ASSERT_TRUE(pagesFile.open(QIODevice::ReadOnly));
        const int loPages = pagesFile.readAll().trimmed().toInt();
        EXPECT_EQ(e.CurrentPages(), loPages);

        // Header and footer on every page of our PDF.
        const QString pdf = QString::fromStdString(out.Path()) + name + ".pdf";
        ASSERT_TRUE(e.SaveDocument(pdf, 12));
        for (int page = 1; page <= e.CurrentPages(); ++page) {
            const QString text = Words(PdfText(pdf, page)).join(' ');
            EXPECT_TRUE(text.contains(Words(header).join(' '))) << page;
            EXPECT_TRUE(text.contains(Words(footer).join(' '))) << page;
        }
    }
}

TEST(RtfCorpus, OwnLetterheadsMatchLibreOfficePageByPage)
{
    // Letterheads made with LibreOffice for the purpose: a results table
    // with tags in its cells over three pages with a first-page header, a
    // footnote and a list; a logo stored as a Windows metafile (its word
    // drawn as text, as LibreOffice draws it); the same report with its
    // logo's size left to the picture. LibreOffice's PDF of each is in
    // data/reference: the same pages with the same words.
    TTempDir out;
    for (const QString name : {"lo_results_report", "lo_letterhead_wmf", "lo_logo_nogoal"}) {
        SCOPED_TRACE(name.toStdString());
        DocumentEngine e;
        ASSERT_TRUE(e.LoadDocument(FixtureDir() + "/" + name + ".rtf"));
        const QString reference = QString::fromStdString(SourceDir()) + "/tests/platform/data/reference/" + name + ".pdf";
        ASSERT_TRUE(QFile::exists(reference));
        const QString pdf = QString::fromStdString(out.Path()) + name + ".pdf";
        ASSERT_TRUE(e.SaveDocument(pdf, 12));
        const int pages = Words(PdfText(reference)).isEmpty() ? 0 : PdfText(reference).count(QChar('\f'));
        EXPECT_EQ(e.CurrentPages(), pages);
        for (int page = 1; page <= std::min(pages, e.CurrentPages()); ++page) {
            QStringList ours = Words(PdfText(pdf, page));
            QStringList theirs = Words(PdfText(reference, page));
            ours.sort();
            theirs.sort();
            EXPECT_EQ(ours.join(' ').toStdString(), theirs.join(' ').toStdString()) << "page " << page;
        }
    }
    // The logo without a goal size takes its size from its pixels and
    // resolution: 120 x 60 pixels at 150 dots to the inch.
    DocumentEngine natural;
    ASSERT_TRUE(natural.LoadDocument(FixtureDir() + "/lo_logo_nogoal.rtf"));
    QSizeF logo;
    const QTextDocument* header = natural.PartDocument(DocumentEngine::HeaderFirstPart);
    for (QTextBlock block = header->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                logo = QSizeF(it.fragment().charFormat().toImageFormat().width() * 15,
                              it.fragment().charFormat().toImageFormat().height() * 15);
    EXPECT_NEAR(logo.width(), 120 * 1440 / 150, 2);
    EXPECT_NEAR(logo.height(), 60 * 1440 / 150, 2);
}

TEST(RtfCorpus, FuzzFindingsLoadAndLayOut)
{
    // Inputs the fuzzer found hard: each must load, lay out and print.
    TTempDir out;
    const QString dir = QString::fromStdString(SourceDir() + "/tests/platform/data/fuzz");
    for (const QString& name : QDir(dir).entryList({"*.rtf"}, QDir::Files)) {
        DocumentEngine e;
        ASSERT_TRUE(e.LoadDocument(dir + "/" + name));
        EXPECT_GE(e.CurrentPages(), 1) << name.toStdString();
        EXPECT_TRUE(e.SaveDocument(QString::fromStdString(out / "f.pdf"), 12)) << name.toStdString();
    }
}
