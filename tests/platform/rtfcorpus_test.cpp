// Real RTF files no one here wrote: the shared corpus from public projects'
// test suites, and letterheads LibreOffice saved (with the text of
// LibreOffice's own PDF of each, so no LibreOffice is needed here).
#include "platform/docengine/documentengine.h"

#include "support/testsupport.h"

#include <QDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString CorpusDir()
{
    return QString::fromStdString(SourceDir() + "/../shared/corpus/rtf");
}

QString FixtureDir()
{
    return QString::fromStdString(SourceDir() + "/tests/platform/data/lo");
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

TEST(RtfCorpus, EveryFileLoadsAndSavesAsAValidPdf)
{
    TTempDir out;
    const QStringList files = QDir(CorpusDir()).entryList({"*.rtf"}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 40) << "the shared RTF corpus is missing: " << CorpusDir().toStdString();
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        DocumentEngine e;
        try {
            e.LoadDocument(CorpusDir() + "/" + name, 0, 9, false);
        } catch (const EDocumentEngineError& error) {
            ADD_FAILURE() << "refused: " << error.what();
            continue;
        }
        EXPECT_GE(e.CurrentPages(), 1);
        const QString pdf = QString::fromStdString(out.Path()) + name + ".pdf";
        ASSERT_EQ(e.SaveDocument(pdf, -1, 12, false), 1);
        QProcess qpdf;
        qpdf.start("qpdf", {"--check", pdf});
        qpdf.waitForFinished(60000);
        EXPECT_EQ(qpdf.exitCode(), 0) << qpdf.readAllStandardOutput().toStdString();
        // What was read survives being written and read again.
        const QString rtf = QString::fromStdString(out.Path()) + name;
        ASSERT_EQ(e.SaveDocument(rtf, -1, 9, false), 1);
        DocumentEngine again;
        again.LoadDocument(rtf, 0, 9, false);
        EXPECT_EQ(again.Text(), e.Text());
        EXPECT_EQ(PartText(again, DocumentEngine::HeaderPart), PartText(e, DocumentEngine::HeaderPart));
        EXPECT_EQ(again.PageWidth(), e.PageWidth());
        EXPECT_EQ(again.CurrentPages(), e.CurrentPages());
        for (const int part : e.HeaderParts())
            EXPECT_EQ(PartText(again, part), PartText(e, part)) << part;
        for (const int part : e.FooterParts())
            EXPECT_EQ(PartText(again, part), PartText(e, part)) << part;
        EXPECT_EQ(again.FootnoteCount(), e.FootnoteCount());
        EXPECT_EQ(again.Images().size(), e.Images().size());
        EXPECT_EQ(again.Shapes().size(), e.Shapes().size());
    }
}

TEST(RtfCorpus, DamagedFilesGiveTheTextTheyHold)
{
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
        e.LoadDocument(CorpusDir() + "/" + c.file, 0, 9, false);
        EXPECT_TRUE(e.Text().contains(QString::fromUtf8(c.text))) << c.file << ": " << e.Text().toStdString();
    }
    // Not RTF at all: shown as the text it is.
    DocumentEngine control;
    control.LoadDocument(CorpusDir() + "/rtfpipe_fail_6_control_word_only.rtf", 0, 9, false);
    EXPECT_EQ(control.Text(), "\\foobar");

    TTempDir dir;
    WriteFile(dir / "empty.rtf", "");
    DocumentEngine empty;
    empty.LoadDocument(QString::fromStdString(dir / "empty.rtf"), 0, 9, false);
    EXPECT_EQ(empty.Text(), "");
    EXPECT_EQ(empty.CurrentPages(), 1);
}

TEST(RtfCorpus, PicturesAndShapesAreRead)
{
    DocumentEngine inline_;
    inline_.LoadDocument(CorpusDir() + "/rtfjs_simplepng.rtf", 0, 9, false);
    EXPECT_TRUE(inline_.Text().contains(QChar::ObjectReplacementCharacter));

    DocumentEngine behind;  // a GIF labelled as PNG, floating behind the text
    behind.LoadDocument(CorpusDir() + "/lo-qa_behind-doc.rtf", 0, 9, false);
    ASSERT_EQ(behind.Images().size(), 1u);
    EXPECT_FALSE(behind.Images()[0].Image.isNull());

    DocumentEngine header;  // a picture in a header table cell
    header.LoadDocument(CorpusDir() + "/lo-qa_fdo49659.rtf", 0, 9, false);
    header.ActivatePart(DocumentEngine::HeaderPart);
    EXPECT_TRUE(header.Text().contains(QChar::ObjectReplacementCharacter));
    EXPECT_TRUE(header.Text().contains("header1"));
}

// The engine keeps what it read from a file and hands out copies when the
// same bytes are loaded again (every report's letterhead). A report's
// edits must never reach the kept reading, into the whole document or into
// the selection.
TEST(RtfCorpus, ALetterheadLoadedAgainIsUntouchedByTheReportBefore)
{
    TTempDir out;
    QStringList files;
    for (const QString& name : QDir(CorpusDir()).entryList({"*.rtf"}, QDir::Files, QDir::Name))
        files << CorpusDir() + "/" + name;
    for (const QString& name : QDir(FixtureDir()).entryList({"*.rtf"}, QDir::Files, QDir::Name))
        files << FixtureDir() + "/" + name;
    ASSERT_GE(files.size(), 45);
    const QString saved = QString::fromStdString(out / "saved.rtf");
    auto savedBytes = [&](DocumentEngine& e) {
        e.SaveDocument(saved, -1, 9, false);
        return ReadFile(saved.toStdString());
    };
    auto scribble = [](DocumentEngine& e) {
        for (const int part : {DocumentEngine::HeaderPart, DocumentEngine::FooterPart, DocumentEngine::MainPart}) {
            e.ActivatePart(part);
            e.SetSelStart(0);
            e.SetSelLength(3);
            e.InsertField(QStringLiteral("<<EDIT>>"));
            e.SetFieldText(QStringLiteral("edited by the report before"));
        }
        e.ActivatePart(DocumentEngine::MainPart);
    };
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        DocumentEngine e;
        e.LoadDocument(file, 0, 9, false);
        const std::string first = savedBytes(e);
        const QString firstText = e.Text();
        const int notes = e.FootnoteCount();
        const std::size_t shapes = e.Shapes().size();
        scribble(e);
        e.ClearDocument();
        e.LoadDocument(file, 0, 9, false);
        EXPECT_EQ(e.Text(), firstText);
        EXPECT_EQ(savedBytes(e), first);

        // As a template, put into the selection twice, with edits between.
        DocumentEngine t;
        for (int round = 0; round < 2; ++round) {
            t.ClearDocument();
            t.SetSelText(QStringLiteral("Letterhead\n"));
            t.LoadDocument(file, 0, 3, true);
            EXPECT_EQ(t.Text(), "Letterhead\n" + firstText) << round;
            EXPECT_EQ(t.FootnoteCount(), notes) << round;
            EXPECT_EQ(t.Shapes().size(), shapes) << round;
            scribble(t);
        }
    }
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
        e.LoadDocument(QString::fromStdString(path), 0, 9, false);
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
        e.LoadDocument(FixtureDir() + "/" + name + ".rtf", 0, 9, false);
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
        ASSERT_EQ(e.SaveDocument(pdf, -1, 12, false), 1);
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
        e.LoadDocument(FixtureDir() + "/" + name + ".rtf", 0, 9, false);
        const QString reference = QString::fromStdString(SourceDir()) + "/tests/platform/data/reference/" + name + ".pdf";
        ASSERT_TRUE(QFile::exists(reference));
        const QString pdf = QString::fromStdString(out.Path()) + name + ".pdf";
        ASSERT_EQ(e.SaveDocument(pdf, -1, 12, false), 1);
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
    natural.LoadDocument(FixtureDir() + "/lo_logo_nogoal.rtf", 0, 9, false);
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
        e.LoadDocument(dir + "/" + name, 0, 9, false);
        EXPECT_GE(e.CurrentPages(), 1) << name.toStdString();
        EXPECT_EQ(e.SaveDocument(QString::fromStdString(out / "f.pdf"), -1, 12, false), 1) << name.toStdString();
    }
}
