#include "enginesupport.h"

#include "support/testsupport.h"

#include <QBuffer>
#include <QPainter>
#include <QProcess>
#include <gtest/gtest.h>

std::unique_ptr<DocumentEngine> LoadRtf(const std::string& rtf)
{
    TTempDir dir;
    WriteFile(dir / "test.rtf", rtf);
    auto engine = std::make_unique<DocumentEngine>();
    EXPECT_TRUE(engine->LoadDocument(QString::fromStdString(dir / "test.rtf")));
    return engine;
}

QImage RenderPage(DocumentEngine& engine, int page)
{
    const TPageSetup& setup = engine.PageSetupOf(page);
    QImage image(setup.PageWidth / 15, setup.PageHeight / 15, QImage::Format_RGB32);
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    image.fill(Qt::white);
    QPainter painter(&image);
    engine.DrawPage(painter, page);
    painter.end();
    return image;
}

std::string PageText(DocumentEngine& engine, int page)
{
    TTempDir dir;
    WriteFile(dir / "page.pdf", engine.PdfBytes(QStringLiteral("test")).toStdString());
    QProcess process;
    process.start("pdftotext", {"-f", QString::number(page), "-l", QString::number(page),
                                QString::fromStdString(dir / "page.pdf"), "-"});
    process.waitForFinished(30000);
    return process.readAllStandardOutput().toStdString();
}

int CountPixels(const QImage& image, const QRect& area, const std::function<bool(const QColor&)>& test)
{
    int count = 0;
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            count += test(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

bool IsDark(const QColor& c)
{
    return c.red() < 128 && c.green() < 128 && c.blue() < 128;
}

bool IsRed(const QColor& c)
{
    return c.red() > 200 && c.green() < 80 && c.blue() < 80;
}

bool IsBlue(const QColor& c)
{
    return c.blue() > 200 && c.red() < 80 && c.green() < 80;
}

QByteArray PngBytes(int width, int height, const QColor& color, int dpi)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    if (dpi > 0) {
        image.setDotsPerMeterX(static_cast<int>(dpi / 0.0254 + 0.5));
        image.setDotsPerMeterY(static_cast<int>(dpi / 0.0254 + 0.5));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
