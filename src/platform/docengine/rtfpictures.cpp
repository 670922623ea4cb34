// Pictures: the bytes decoded (PNG, JPEG, BMP, device-independent bitmaps,
// and Windows metafiles through the engine's own player), sized as the word
// processor sizes them (the goal size, else the picture's own size from its
// data), cropped and scaled.
#include "platform/docengine/metafile.h"
#include "platform/docengine/rtfreaderimpl.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace rtf {
namespace {

bool IsMetafile(const TPicture& picture)
{
    const QByteArray& d = picture.Data;
    // By their bytes first: writers mislabel pictures.
    if (d.startsWith(QByteArray("\xD7\xCD\xC6\x9A", 4)))
        return true;  // a placeable WMF
    if (d.size() > 44 && d.mid(40, 4) == " EMF")
        return true;
    if (d.startsWith("\x89PNG") || d.startsWith("\xFF\xD8") || d.startsWith("GIF8") || d.startsWith("BM"))
        return false;
    return picture.Kind == "wmf" || picture.Kind == "emf";
}

// Qt's reader leaves the bits after a one-bit row's last pixel as they were
// in memory; written back, they would differ from one reading to the next.
void ClearRowEnds(QImage& image)
{
    if (image.depth() != 1)
        return;
    const int used = image.width() / 8, bits = image.width() % 8;
    const bool msbFirst = image.format() == QImage::Format_Mono;
    for (int y = 0; y < image.height(); ++y) {
        uchar* row = image.scanLine(y);
        if (bits != 0)
            row[used] &= msbFirst ? static_cast<uchar>(0xFF << (8 - bits)) : static_cast<uchar>((1 << bits) - 1);
        const int from = used + (bits != 0 ? 1 : 0);
        std::fill(row + from, row + image.bytesPerLine(), uchar(0));
    }
}

}  // namespace

// The picture as an image, the bytes to write it back with and their format
// (empty when it is written back as PNG).
QImage DecodePicture(const TPicture& picture, double widthTwips, double heightTwips, QByteArray& encoded,
                     QByteArray& format)
{
    encoded.clear();
    format.clear();
    if (IsMetafile(picture)) {
        // Drawn from its own records; the image stands in where no painter plays them.
        QImage image = RenderMetafile(picture.Data, widthTwips, heightTwips);
        if (!image.isNull()) {
            encoded = picture.Data;
            format = picture.Data.size() > 44 && picture.Data.mid(40, 4) == " EMF" ? "emf" : "wmf";
        }
        return image;
    }
    // A device-independent bitmap lacks the file header that readers expect.
    QByteArray data = picture.Data;
    if (picture.Kind == "dib")
        if (const QByteArray file = BitmapFileOfPackedDib(picture.Data); !file.isEmpty())
            data = file;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);  // the bytes decide the format, whatever the file called it
    reader.setAllocationLimit(kMaxPictureMegabytes);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > qint64(kMaxPictureMegabytes) * 1024 * 1024)
        return {};  // a header that claims more than a letterhead picture needs
    QImage image;
    if (!reader.read(&image))
        return {};
    ClearRowEnds(image);
    const QByteArray kind = reader.format().toLower();
    if (kind == "png" || kind == "jpeg" || kind == "jpg") {
        encoded = picture.Data;
        format = kind == "png" ? "png" : "jpeg";
    }
    return image;
}

// The picture's size on the page before scaling: the goal size, else a
// metafile's own size (hundredths of a millimetre), else the bitmap's
// pixels at its own resolution.
QSizeF NaturalSize(const TPicture& picture, const QImage* image)
{
    double w = picture.GoalW, h = picture.GoalH;
    const bool metafile = IsMetafile(picture);
    if (w <= 0)
        w = metafile ? picture.PicW * 1440.0 / 2540.0 : 0;
    if (h <= 0)
        h = metafile ? picture.PicH * 1440.0 / 2540.0 : 0;
    if (metafile && (w <= 0 || h <= 0)) {
        // No size in the file: the one the metafile gives itself.
        const QSizeF own = MetafileSize(picture.Data);
        if (w <= 0)
            w = own.width();
        if (h <= 0)
            h = own.height();
    }
    if (image && !image->isNull()) {
        const double dpiX = image->dotsPerMeterX() > 0 ? image->dotsPerMeterX() * 0.0254 : 96.0;
        const double dpiY = image->dotsPerMeterY() > 0 ? image->dotsPerMeterY() * 0.0254 : 96.0;
        if (w <= 0)
            w = image->width() * 1440.0 / std::clamp(dpiX, 10.0, 2400.0);
        if (h <= 0)
            h = image->height() * 1440.0 / std::clamp(dpiY, 10.0, 2400.0);
    }
    if (w <= 0 && picture.PicW > 0)
        w = picture.PicW * 15.0;
    if (h <= 0 && picture.PicH > 0)
        h = picture.PicH * 15.0;
    return {std::max(w, 1.0), std::max(h, 1.0)};
}

void TRtfReader::FinishPicture()
{
    TPicture picture = std::move(*FPicture);
    FPicture.reset();
    FPictureDepth = -1;
    if (FPictureBytes > kMaxDocumentPictureBytes)
        return;  // enough pictures for any letterhead: the rest are not decoded
    // A metafile is drawn at the size it is shown at.
    const QSizeF target = NaturalSize(picture, nullptr);
    QByteArray encoded, format;
    QImage image = DecodePicture(picture, target.width(), target.height(), encoded, format);
    if (image.isNull())
        return;  // damaged data is not drawn
    FPictureBytes += image.sizeInBytes();
    const QSizeF natural = NaturalSize(picture, &image);
    // Cropping takes twips off the sides of the natural size.
    const double cropL = std::clamp(picture.CropL, 0, 31680), cropR = std::clamp(picture.CropR, 0, 31680);
    const double cropT = std::clamp(picture.CropT, 0, 31680), cropB = std::clamp(picture.CropB, 0, 31680);
    if (cropL + cropR > 0 || cropT + cropB > 0) {
        const double fx = image.width() / natural.width(), fy = image.height() / natural.height();
        const QRect keep(static_cast<int>(cropL * fx), static_cast<int>(cropT * fy),
                         std::max(1, static_cast<int>(image.width() - (cropL + cropR) * fx)),
                         std::max(1, static_cast<int>(image.height() - (cropT + cropB) * fy)));
        image = image.copy(keep);
        encoded.clear();
        format.clear();
    }
    double w = std::max(1.0, natural.width() - cropL - cropR);
    double h = std::max(1.0, natural.height() - cropT - cropB);
    w = std::clamp(w * std::clamp(picture.ScaleX, 1, 1000) / 100.0, 1.0, 30000.0);
    h = std::clamp(h * std::clamp(picture.ScaleY, 1, 1000) / 100.0, 1.0, 30000.0);
    if (FShape) {
        if (!FShape->Picture) {
            FShape->Picture = image;
            FShape->Encoded = encoded;
            FShape->EncodedFormat = format;
        }
        return;
    }
    InsertPicture(image, encoded, format, w, h);
}

}  // namespace rtf
