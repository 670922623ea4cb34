#include "platform/docengine/picturehandler.h"

#include "platform/docengine/enginepart.h"
#include "platform/docengine/metafile.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QTextDocument>
#include <QTextBlock>
#include <QTextImageFormat>
#include <QTextLayout>
#include <QUrl>

QSizeF TPictureHandler::intrinsicSize(QTextDocument* doc, int, const QTextFormat& format)
{
    // Sizes are held in 96-dpi pixels and laid out on the layout's device.
    const QTextImageFormat image = format.toImageFormat();
    const QPaintDevice* device = doc->documentLayout()->paintDevice();
    const double scale = device ? device->logicalDpiY() / 96.0 : 1.0;
    return QSizeF(std::max(0.0, image.width()), std::max(0.0, image.height())) * scale;
}

void TPictureHandler::drawObject(QPainter* painter, const QRectF& rect, QTextDocument* doc, int,
                                 const QTextFormat& format)
{
    const QUrl name(format.toImageFormat().name());
    const QByteArray metafile = doc->resource(QTextDocument::UserResource, name).toByteArray();
    if (!metafile.isEmpty() && PlayMetafile(metafile, *painter, rect))
        return;
    const QImage image = doc->resource(QTextDocument::ImageResource, name).value<QImage>();
    if (image.isNull())
        return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(rect, image);
    painter->restore();
}

void PrepareLayout(QTextDocument& doc)
{
    static TPictureHandler handler;
    // No layout before the caller gives the page size: then it is done once,
    // at the layout device's resolution.
    doc.setPageSize(QSizeF(0, 0));
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    layout->setPaintDevice(TEnginePart::LayoutDevice());
    layout->registerHandler(QTextFormat::ImageObject, &handler);
}

void KeepGlyphs(QTextDocument& doc)
{
    // A long document's glyphs would stay in memory until the next one.
    constexpr int kMaxCharacters = 1000000;
    if (doc.characterCount() > kMaxCharacters)
        return;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        block.layout()->setCacheEnabled(true);
}

void AddMetafileResource(QTextDocument& doc, const QString& name, const QByteArray& bytes)
{
    doc.addResource(QTextDocument::UserResource, QUrl(name), bytes);
}
