// The engine's own PDF writer against Qt's QPdfWriter as the yardstick: the
// same pages drawn by both must look the same when poppler renders them,
// the text must read back as written, every font must be an embedded
// subset, and what is kept between documents (font subsets, encoded
// images) must never leak one document's glyphs or pictures into another.
#include "platform/docengine/documentengine.h"
#include "platform/pdf/pdfdevice.h"

#include "enginesupport.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>
#include <functional>

namespace {

using TDraw = std::function<void(QPainter&)>;

// Pages drawn by Qt's own PDF writer, at the resolution the engine draws in.
QByteArray QtPdf(const std::vector<QSizeF>& pages, const std::function<void(QPainter&, int)>& draw)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(1440);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setPageSize(QPageSize(pages[0] / 20.0, QPageSize::Point));
        QPainter painter(&writer);
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (i > 0) {
                writer.setPageSize(QPageSize(pages[i] / 20.0, QPageSize::Point));
                writer.newPage();
            }
            draw(painter, static_cast<int>(i) + 1);
        }
    }
    return bytes;
}

QByteArray OurPdf(const std::vector<QSizeF>& pages, const std::function<void(QPainter&, int)>& draw)
{
    TPdfDevice pdf(pages[0]);
    {
        QPainter painter(&pdf);
        for (std::size_t i = 0; i < pages.size(); ++i) {
            if (i > 0)
                pdf.NewPage(pages[i]);
            draw(painter, static_cast<int>(i) + 1);
        }
    }
    return pdf.Bytes();
}

// Each page as poppler renders it, in grey at 40 dots to the inch.
std::vector<QImage> Rendered(const QByteArray& pdf)
{
    TTempDir dir;
    WriteFile(dir / "in.pdf", pdf.toStdString());
    QProcess render;
    render.start("pdftoppm", {"-r", "40", "-gray", QString::fromStdString(dir / "in.pdf"),
                              QString::fromStdString(dir / "p")});
    render.waitForFinished(60000);
    std::vector<QImage> pages;
    for (const QString& name : QDir(QString::fromStdString(dir.Path())).entryList({"p-*.pgm"}, QDir::Files,
                                                                                   QDir::Name))
        pages.push_back(QImage(QString::fromStdString(dir.Path()) + name).convertToFormat(QImage::Format_Grayscale8));
    return pages;
}

struct TDifference {
    double Mean = 0;      // mean absolute grey difference, 0..255
    double FarShare = 0;  // share of pixels more than half the scale apart
    double InkA = 0, InkB = 0;
};

TDifference Compare(const QImage& a, const QImage& b)
{
    TDifference d;
    const int w = std::min(a.width(), b.width()), h = std::min(a.height(), b.height());
    double sum = 0;
    long far = 0, inkA = 0, inkB = 0;
    for (int y = 0; y < h; ++y) {
        const uchar* ra = a.constScanLine(y);
        const uchar* rb = b.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            const int diff = std::abs(ra[x] - rb[x]);
            sum += diff;
            far += diff > 128;
            inkA += ra[x] < 128;
            inkB += rb[x] < 128;
        }
    }
    const double n = std::max(1, w * h);
    d.Mean = sum / n;
    d.FarShare = far / n;
    d.InkA = inkA / n;
    d.InkB = inkB / n;
    return d;
}

std::string QpdfCheck(const QByteArray& pdf)
{
    TTempDir dir;
    WriteFile(dir / "c.pdf", pdf.toStdString());
    QProcess check;
    check.start("qpdf", {"--check", QString::fromStdString(dir / "c.pdf")});
    check.waitForFinished(60000);
    if (check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0)
        return {};
    return (check.readAllStandardOutput() + check.readAllStandardError()).toStdString();
}

std::vector<QSizeF> PageSizes(DocumentEngine& e)
{
    std::vector<QSizeF> sizes;
    for (int page = 1; page <= e.CurrentPages(); ++page)
        sizes.emplace_back(e.PageSetupOf(page).PageWidth, e.PageSetupOf(page).PageHeight);
    return sizes;
}

QString Corpus(const char* name)
{
    return QString::fromStdString(SourceDir() + "/../shared/corpus/rtf/") + QString::fromLatin1(name);
}

QString OwnData(const char* name)
{
    return QString::fromStdString(SourceDir() + "/tests/platform/data/lo/") + QString::fromLatin1(name);
}

QString HandData(const char* name)
{
    return QString::fromStdString(SourceDir() + "/tests/platform/data/hand/") + QString::fromLatin1(name);
}

// Paint operations reports rarely use, each where the page shows it.
void DrawPrimitives(QPainter& p, int)
{
    p.fillRect(QRectF(720, 720, 2880, 1440), QColor(200, 30, 30));
    p.setPen(QPen(Qt::black, 40, Qt::DashLine, Qt::RoundCap));
    p.drawLine(QPointF(720, 2600), QPointF(8000, 2600));
    p.setPen(QPen(Qt::blue, 30));
    p.setBrush(QColor(0, 0, 255, 90));  // half-transparent over the red
    p.drawEllipse(QRectF(2000, 1000, 3000, 2000));
    p.save();
    p.setClipRect(QRectF(720, 3200, 1500, 1500));  // only a quarter of the disc shows
    p.setBrush(Qt::darkGreen);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(2220, 4700), 1500, 1500);
    p.restore();
    const QPolygonF star({{6000, 3200}, {6600, 5000}, {5100, 3900}, {6900, 3900}, {5400, 5000}});
    p.setBrush(Qt::black);
    p.drawPolygon(star, Qt::OddEvenFill);
    p.save();
    p.translate(3000, 7000);
    p.rotate(-30);
    p.setFont(QFont(QStringLiteral("Liberation Serif"), 28));
    p.setPen(Qt::darkMagenta);
    p.drawText(QPointF(0, 0), QStringLiteral("Turned text"));
    p.restore();
    QImage image(60, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter ip(&image);
    ip.fillRect(QRect(0, 0, 30, 40), QColor(0, 128, 0));
    ip.end();
    p.drawImage(QRectF(720, 9000, 3600, 2400), image);
    // Scan-sized pictures, in colour and in grey, go in as JPEG.
    QImage scan(900, 600, QImage::Format_RGB32), grey(900, 600, QImage::Format_Grayscale8);
    for (int y = 0; y < scan.height(); ++y)
        for (int x = 0; x < scan.width(); ++x) {
            scan.setPixel(x, y, qRgb(x * 255 / 900, y * 255 / 600, 128));
            grey.setPixel(x, y, qRgb((x + y) % 256, (x + y) % 256, (x + y) % 256));
        }
    p.drawImage(QRectF(720, 12000, 4500, 3000), scan);
    p.drawImage(QRectF(6000, 12500, 4500, 3000), grey);
    QFont bold(QStringLiteral("Liberation Sans"), 14);
    bold.setBold(true);
    bold.setUnderline(true);
    p.setFont(bold);
    p.setPen(Qt::black);
    p.drawText(QRectF(5000, 9000, 5000, 3000), Qt::TextWordWrap,
               QStringLiteral("Underlined bold words wrapped into a box, Größe 5 µmol/L ± 2"));
}

}  // namespace

namespace {

struct TLookCase {
    const char* Name;
    QString File;  // empty: the primitives
};

// Each page of ours, as poppler renders it, against the same page drawn by
// Qt's own PDF writer.
void LooksAsQtsOwnPdfWriterDrawsIt(const TLookCase& c)
{
    SCOPED_TRACE(c.Name);
    DocumentEngine e;
    std::vector<QSizeF> sizes {QSizeF(11906, 16838)};
    std::function<void(QPainter&, int)> draw = DrawPrimitives;
    if (!c.File.isEmpty()) {
        ASSERT_TRUE(QFile::exists(c.File)) << c.File.toStdString();
        ASSERT_TRUE(e.LoadDocument(c.File));
        sizes = PageSizes(e);
        draw = [&](QPainter& p, int page) { e.DrawPage(p, page); };
    }
    const QByteArray ours = OurPdf(sizes, draw);
    const QByteArray theirs = QtPdf(sizes, draw);
    EXPECT_EQ(QpdfCheck(ours), "");
    const std::vector<QImage> a = Rendered(ours), b = Rendered(theirs);
    ASSERT_EQ(a.size(), sizes.size());
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t page = 0; page < a.size(); ++page) {
        const TDifference d = Compare(a[page], b[page]);
        EXPECT_LT(d.Mean, 1.5) << "page " << page + 1;
        EXPECT_LT(d.FarShare, 0.004) << "page " << page + 1;
        EXPECT_NEAR(d.InkA, d.InkB, 0.002 + d.InkB * 0.05) << "page " << page + 1;
    }
}

}  // namespace

TEST(PdfDevice, PagesLookAsQtsOwnPdfWriterDrawsThem)
{
    const TLookCase cases[] = {
        {"letterhead with logo", OwnData("lo_letterhead_a4.rtf")},
        {"three-page results table", OwnData("lo_results_report.rtf")},
        {"logo as a Windows metafile", OwnData("lo_letterhead_wmf.rtf")},
        {"inline pictures, metafiles and a large picture with transparency", HandData("hand_pictures.rtf")},
        {"watermark with a soft mask, picture behind text, shapes and frames", HandData("hand_shapes.rtf")},
        {"lists, code pages and Japanese text", HandData("hand_lists_codepages.rtf")},
        {"sections, fonts, headers and footers", HandData("hand_sections.rtf")},
        {"tables over two pages", HandData("hand_tables.rtf")},
        {"primitives", QString()},
    };
    for (const TLookCase& c : cases)
        LooksAsQtsOwnPdfWriterDrawsIt(c);
}

TEST(PdfDevice, CorpusPagesLookAsQtsOwnPdfWriterDrawsThem)
{
    if (!QDir(Corpus("")).exists())
        GTEST_SKIP() << "the shared RTF corpus ../shared/corpus/rtf is absent (" << Corpus("").toStdString()
                     << "); this test would have checked that seven of its files (inline pictures, a watermark "
                        "with a soft mask, a picture behind text, a large transparent picture, positioned frames, "
                        "Japanese text, sections and fonts) look in our PDF as Qt's own PDF writer draws them "
                        "(PagesLookAsQtsOwnPdfWriterDrawsThem does so for the repository's files)";
    const TLookCase cases[] = {
        {"inline pictures", Corpus("lo_inline_pictures.rtf")},
        {"watermark with a soft mask", Corpus("lo-qa_watermark.rtf")},
        {"picture behind text", Corpus("lo-qa_behind-doc.rtf")},
        {"large picture with transparency", Corpus("rtfpipe_Issue46.rtf")},
        {"positioned frames", Corpus("rtfpipe_AbsolutePositioning.rtf")},
        {"Japanese text", Corpus("tika_testRTFJapanese.rtf")},
        {"sections and fonts", Corpus("pandoc_writer.rtf")},
    };
    for (const TLookCase& c : cases)
        LooksAsQtsOwnPdfWriterDrawsIt(c);
}

TEST(PdfDevice, TextReadsBackAsWrittenFromEmbeddedSubsets)
{
    const QStringList lines = {
        QStringLiteral("Haemoglobin 142 g/L (130-180)"),
        QStringLiteral("Größe 5 µmol/L ± 2 °C, café naïve"),
        QStringLiteral("Ελληνικά αβγ Кириллица"),
        QStringLiteral("漢字のテスト"),
        QStringLiteral("office affluent fjord"),
    };
    const char* families[] = {"Liberation Sans", "Liberation Serif", "Liberation Mono", "DejaVu Sans"};
    auto draw = [&](QPainter& p, int) {
        int y = 900;
        for (const char* family : families)
            for (int style = 0; style < 3; ++style) {
                QFont font(QString::fromLatin1(family), 11);
                font.setBold(style == 1);
                font.setItalic(style == 2);
                p.setFont(font);
                for (const QString& line : lines) {
                    p.drawText(QPointF(720, y), line);
                    y += 250;
                }
            }
    };
    // Two pages, so the second carries on with the first's fonts.
    const QByteArray pdf = OurPdf({QSizeF(11906, 16838), QSizeF(11906, 16838)}, [&](QPainter& p, int page) {
        if (page == 1)
            draw(p, page);
        else {
            p.drawText(QPointF(720, 1440), lines[0]);
            // A character no font has: its box is drawn, not nothing.
            p.setFont(QFont(QStringLiteral("DejaVu Sans"), 72));
            p.drawText(QPointF(720, 8000), QString::fromUcs4(U"\U0010FFFD"));
        }
    });
    EXPECT_EQ(QpdfCheck(pdf), "");
    const std::vector<QImage> pages = Rendered(pdf);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_GT(CountPixels(pages[1], QRect(0, 200, 300, 60), [](const QColor& c) { return c.lightness() < 128; }), 20);
    const QString text = QString::fromStdString(TextOfPdf(pdf.toStdString()));
    for (const QString& line : lines)
        EXPECT_EQ(text.count(line), 3 * 4 + (line == lines[0] ? 1 : 0)) << line.toStdString();

    TTempDir dir;
    WriteFile(dir / "f.pdf", pdf.toStdString());
    QProcess fonts;
    fonts.start("pdffonts", {QString::fromStdString(dir / "f.pdf")});
    fonts.waitForFinished(30000);
    const QStringList rows = QString::fromUtf8(fonts.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).mid(2);
    EXPECT_GE(rows.size(), 10);
    for (const QString& row : rows)  // CID TrueType, embedded, a subset, with a Unicode map
        EXPECT_TRUE(row.contains(QRegularExpression("^[A-Z]{6}\\+\\S+\\s+CID TrueType\\s+Identity-H\\s+yes yes yes")))
            << row.toStdString();
}

// A run of reports, as the server makes them: each must carry its own text
// and its own picture, whatever the one before left in the caches.
TEST(PdfDevice, WhatIsKeptBetweenDocumentsNeverLeaksIntoTheNext)
{
    auto report = [](const QString& text, QColor color) {
        QImage logo(40, 40, QImage::Format_RGB32);
        logo.fill(color);
        return OurPdf({QSizeF(11906, 16838)}, [&](QPainter& p, int) {
            p.setFont(QFont(QStringLiteral("Liberation Sans"), 12));
            p.drawText(QPointF(720, 1440), text);
            p.drawImage(QRectF(720, 2000, 2880, 2880), logo);
        });
    };
    struct TReport {
        QString Text;
        QColor Color;
    };
    const TReport run[] = {
        {QStringLiteral("Sodium 141 mmol/L"), Qt::red},
        {QStringLiteral("Potassium 4.2 mmol/L"), Qt::blue},  // other glyphs, same-sized picture
        {QStringLiteral("Sodium 141 mmol/L"), Qt::red},
        {QStringLiteral("Zinc 12 umol/L"), Qt::green},
    };
    for (const TReport& r : run) {
        SCOPED_TRACE(r.Text.toStdString());
        const QByteArray pdf = report(r.Text, r.Color);
        EXPECT_EQ(QString::fromStdString(TextOfPdf(pdf.toStdString())).trimmed(), r.Text);
        TTempDir dir;
        WriteFile(dir / "r.pdf", pdf.toStdString());
        QProcess render;
        render.start("pdftoppm", {"-r", "72", "-png", "-singlefile", QString::fromStdString(dir / "r.pdf"),
                                  QString::fromStdString(dir / "r")});
        render.waitForFinished(60000);
        const QImage page(QString::fromStdString(dir / "r.png"));
        ASSERT_FALSE(page.isNull());
        const QColor middle = page.pixelColor(36 + 72, 100 + 72);  // the picture's middle, in points
        EXPECT_NEAR(middle.red(), r.Color.red(), 40);
        EXPECT_NEAR(middle.green(), r.Color.green(), 40);
        EXPECT_NEAR(middle.blue(), r.Color.blue(), 40);
    }
}
