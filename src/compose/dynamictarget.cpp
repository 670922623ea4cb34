#include "compose/dynamictarget.h"

#include "request/reportrecord.h"
#include "util/codepage.h"
#include "util/textutil.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

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

TOutcome tDynamicTarget::AddTarget(std::string_view source, std::string_view destination, int percent,
                                   std::string_view label, const TProtectedPlaces& places)
{
    // A refused destination is told as such, whatever the source is.
    if (!places.Empty())
        if (const TOutcome refused = places.Check(destination); !refused && refused.Kind() == TFailureKind::Final)
            return refused;
    QImageReader reader(ToUnicode(source));
    reader.setAllocationLimit(256);  // MB: a corrupt header must not exhaust memory
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxSide || size.height() > kMaxSide))
        return Fail("the bar " + std::string(source) + " is larger than a bar can be");
    QImage bar;
    if (!reader.read(&bar) || bar.isNull() || bar.height() > kMaxSide)
        return Fail("the bar " + std::string(source) + " cannot be read");
    Font = Qt::black;  // a new bitmap's canvas
    Pen = Qt::black;
    const QImage drawn = Draw(bar, percent, label);

    QByteArray format = QFileInfo(ToUnicode(destination)).suffix().toLower().toLatin1();
    if (!QImageWriter::supportedImageFormats().contains(format))
        format = "bmp";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(drawn))
        return Fail("the graph cannot be encoded as " + format.toStdString() + ": " +
                    writer.errorString().toStdString());
    return WriteOutputFile(destination, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                           places);
}

TOutcome WriteDynamicRangeGraph(std::string_view value, const TProtectedPlaces& places)
{
    const auto percent = TryStrToInt(Trim(NthField(value, ',', 4)));
    if (!percent)
        return TOutcome::Done();
    tDynamicTarget target;
    return target.AddTarget(NthField(value, ',', 1), NthField(value, ',', 2), *percent, NthField(value, ',', 3),
                            places);
}

void DrawDynamicRangeGraph(std::string_view value)
{
    // The report goes on without its graph, and says so where it places it.
    static_cast<void>(WriteDynamicRangeGraph(value, {}));
}
