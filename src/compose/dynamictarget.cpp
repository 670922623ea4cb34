#include "compose/dynamictarget.h"

#include "request/reportrecord.h"
#include "util/codepage.h"
#include "util/textutil.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

// Bars are small; anything larger than this is not a bar and is not drawn.
constexpr int kMaxSide = 20000;

}  // namespace

int tDynamicTarget::MarkerLeft(int barWidth, int side, int percent)
{
    const double left = static_cast<double>(barWidth) * percent / 100.0 - side / 2;
    return std::max(0, static_cast<int>(std::clamp(std::trunc(left), 0.0, double(kMaxSide))));
}

QImage tDynamicTarget::Draw(const QImage& bar, int percent, std::string_view label) const
{
    const int side = bar.height();
    QImage marker(side, side, QImage::Format_RGB32);
    marker.fill(Qt::white);
    {
        QPainter p(&marker);
        QPen pen(Pen);
        pen.setWidth(2);
        p.setPen(pen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRect(4, 4, side - 8, side - 8));
        p.drawLine(side / 2, 0, side / 2, side);
        p.drawLine(0, side / 2, side, side / 2);
        QFont font(QStringLiteral("Arial"), 12, QFont::Bold);
        font.setStyleStrategy(QFont::NoAntialias);  // crisp, as bitmaps for printers are
        p.setFont(font);
        const QString text = ToUnicode(label);
        const QFontMetrics metrics(font, &marker);
        const QRect box((side - metrics.horizontalAdvance(text)) / 2, (side - metrics.height()) / 2,
                        metrics.horizontalAdvance(text), metrics.height());
        p.fillRect(box, Qt::white);  // text is written on its own white cell
        p.setPen(Font);
        p.drawText(box, Qt::AlignLeft | Qt::AlignTop, text);
    }

    const int left = MarkerLeft(bar.width(), side, percent);
    QImage result = bar.convertToFormat(QImage::Format_RGB32);
    if (result.width() < left + side) {
        QImage wider(left + side, result.height(), QImage::Format_RGB32);
        wider.fill(Qt::white);
        QPainter p(&wider);
        p.drawImage(0, 0, result);
        p.end();
        result = wider;
    }
    QPainter p(&result);
    p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    p.drawImage(left, 0, marker);
    p.end();
    return result;
}

bool tDynamicTarget::AddTarget(std::string_view source, std::string_view destination, int percent, std::string_view label)
{
    QImageReader reader(ToUnicode(source));
    reader.setAllocationLimit(256);  // MB: a corrupt header must not exhaust memory
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxSide || size.height() > kMaxSide))
        return false;
    QImage bar;
    if (!reader.read(&bar) || bar.isNull() || bar.height() > kMaxSide)
        return false;
    Font = Qt::black;  // a new bitmap's canvas
    Pen = Qt::black;
    const QImage drawn = Draw(bar, percent, label);

    // Written whole under a temporary name, then renamed into place.
    const QString target = ToUnicode(destination);
    QByteArray format = QFileInfo(target).suffix().toLower().toLatin1();
    if (!QImageWriter::supportedImageFormats().contains(format))
        format = "bmp";
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, format);
    if (!writer.write(drawn)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void DrawDynamicRangeGraph(std::string_view value)
{
    const auto percent = TryStrToInt(Trim(NthField(value, ',', 4)));
    if (!percent)
        return;
    tDynamicTarget target;
    target.AddTarget(NthField(value, ',', 1), NthField(value, ',', 2), *percent, NthField(value, ',', 3));
}
