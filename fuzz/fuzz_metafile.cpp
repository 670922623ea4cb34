// libFuzzer: the metafile player takes any bytes (WMF, placeable WMF, EMF)
// without crash, hang or runaway memory, drawn on a page or as an image.
#include "platform/docengine/metafile.h"
#include "fuzzsupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    return InitializeOffscreenQt(argc, argv);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QImage page(120, 80, QImage::Format_ARGB32_Premultiplied);
    page.fill(Qt::white);
    QPainter painter(&page);
    PlayMetafile(bytes, painter, QRectF(10, 10, 100, 60));
    painter.end();
    (void)RenderMetafile(bytes, 1440, 720);
    return 0;
}
