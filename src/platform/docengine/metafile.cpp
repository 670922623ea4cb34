#include "platform/docengine/metafile.h"

#include "util/codepage.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainterPath>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr int kMaxRecords = 200000;
constexpr int kMaxObjects = 4096;
constexpr int kMaxImageSide = 4000;

// Little-endian reads that give 0 past the end.
struct TBytes {
    const char* Data = nullptr;
    qsizetype Size = 0;
    template <typename T>
    T Read(qsizetype at) const
    {
        if (at < 0 || at + qsizetype(sizeof(T)) > Size)
            return 0;
        T v;
        std::memcpy(&v, Data + at, sizeof(T));
        return qFromLittleEndian(v);
    }
    quint32 U32(qsizetype at) const { return Read<quint32>(at); }
    qint32 I32(qsizetype at) const { return static_cast<qint32>(U32(at)); }
    quint16 U16(qsizetype at) const { return Read<quint16>(at); }
    qint16 I16(qsizetype at) const { return static_cast<qint16>(U16(at)); }
    quint8 U8(qsizetype at) const { return at >= 0 && at < Size ? static_cast<quint8>(Data[at]) : 0; }
    float F32(qsizetype at) const
    {
        const quint32 bits = U32(at);
        float f;
        std::memcpy(&f, &bits, 4);
        return std::isfinite(f) ? f : 0.0f;
    }
    QByteArray Slice(qsizetype at, qsizetype count) const
    {
        if (at < 0 || count <= 0 || at >= Size)
            return {};
        return QByteArray(Data + at, std::min(count, Size - at));
    }
};

QColor ColorRef(quint32 v)
{
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

// A device-independent bitmap (header, colours, bits) as the bytes of a
// .bmp file; empty when it is too small or too large.
QByteArray BitmapFile(const QByteArray& info, const QByteArray& bits)
{
    if (info.size() < 12 || info.size() + bits.size() > 64ll * 1024 * 1024)
        return {};
    const quint32 offset = 14 + static_cast<quint32>(info.size());
    const quint32 size = offset + static_cast<quint32>(bits.size());
    QByteArray file("BM", 2);
    for (int i = 0; i < 4; ++i)
        file.append(static_cast<char>((size >> (8 * i)) & 0xFF));
    file.append(QByteArray(4, '\0'));
    for (int i = 0; i < 4; ++i)
        file.append(static_cast<char>((offset >> (8 * i)) & 0xFF));
    return file + info + bits;
}

// The same as an image.
QImage DibImage(const QByteArray& info, const QByteArray& bits)
{
    QByteArray file = BitmapFile(info, bits);
    if (file.isEmpty())
        return {};
    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "BMP");
    reader.setAllocationLimit(64);
    QImage image;
    reader.read(&image);
    return image;
}

// Where the bits of a DIB that follows its header directly (WMF records,
// RTF's \dibitmap) begin: the colour table's size comes from the header.
// 0 when the header is malformed.
quint32 PackedDibInfoSize(const QByteArray& packed)
{
    if (packed.size() < 12)
        return 0;
    TBytes b {packed.constData(), packed.size()};
    const quint32 headerSize = b.U32(0);
    if (headerSize < 12 || headerSize > 1024)
        return 0;
    quint32 infoSize = headerSize;
    if (headerSize >= 40) {
        const quint16 bitCount = b.U16(14);
        quint32 used = b.U32(32);
        const quint32 compression = b.U32(16);
        if (used == 0 && bitCount <= 8)
            used = 1u << bitCount;
        infoSize += std::min<quint32>(used, 256) * 4;
        if (compression == 3 && headerSize == 40)
            infoSize += 12;  // bit-field masks
    } else {
        const quint16 bitCount = b.U16(10);
        if (bitCount <= 8)
            infoSize += (1u << bitCount) * 3;
    }
    return infoSize > static_cast<quint32>(packed.size()) ? 0 : infoSize;
}

QImage PackedDib(const QByteArray& packed)
{
    const quint32 infoSize = PackedDibInfoSize(packed);
    return infoSize == 0 ? QImage() : DibImage(packed.left(infoSize), packed.mid(infoSize));
}

struct TObject {
    enum TKind { kNone, kPen, kBrush, kFont, kOther };
    TKind Kind = kNone;
    QPen Pen;
    QBrush Brush;
    QString Face;
    int Height = 0, Weight = 400, Escapement = 0, Charset = 0;
    bool Italic = false, Underline = false, Strike = false;
};

struct TDc {
    TObject Pen, Brush, Font;
    QColor TextColor = Qt::black;
    QColor BackColor = Qt::white;
    int BackMode = 2;  // opaque
    int TextAlign = 0;
    int MapMode = 1;
    int FillMode = 1;  // alternate
    int StretchMode = 1;  // bitmaps scaled pixel by pixel, unless "halftone" (4)
    QPointF WinOrg {0, 0}, WinExt {1, 1}, VpOrg {0, 0}, VpExt {1, 1};
    bool WinExtSet = false;
    QTransform World;
    QPointF Current;
    QPainterPath Clip;
    bool Clipped = false;
};

// One WMF record: 16-bit parameters after the size and the function.
struct TWmfRecord {
    const TBytes& B;
    quint32 Words = 0;
    quint16 Function = 0;
    qsizetype P = 0;    // the parameters
    qsizetype End = 0;
    qint16 W(int i) const { return B.I16(P + 2 * i); }
    QPointF Point(int i) const { return QPointF(W(i + 1), W(i)); }  // stored y, x
    QRectF Rect(int i) const { return QRectF(QPointF(W(i + 3), W(i + 2)), QPointF(W(i + 1), W(i))); }
};

// One EMF record; offsets are from the record's start.
struct TEmfRecord {
    const TBytes& B;
    quint32 Type = 0;
    qsizetype R = 0;
    qsizetype End = 0;
    quint32 U32(qsizetype o) const { return B.U32(R + o); }
    qint32 I32(qsizetype o) const { return B.I32(R + o); }
    float F32(qsizetype o) const { return B.F32(R + o); }
    QPointF PointL(qsizetype o) const { return QPointF(I32(o), I32(o + 4)); }
    QRectF RectL(qsizetype o) const { return QRectF(PointL(o), PointL(o + 8)); }
    QPolygonF Points(qsizetype countAt, qsizetype first, bool shortPoints) const
    {
        const int step = shortPoints ? 4 : 8;
        const qint64 count = std::clamp<qint64>(U32(countAt), 0, (End - (R + first)) / step);
        QPolygonF polygon;
        for (qint64 i = 0; i < count; ++i) {
            const qsizetype o = R + first + i * step;
            polygon << (shortPoints ? QPointF(B.I16(o), B.I16(o + 2)) : QPointF(B.I32(o), B.I32(o + 4)));
        }
        return polygon;
    }
};

class TPlayer {
public:
    TPlayer(QPainter* painter, const QRectF& target)
        : FPainter(painter), FTarget(target), FBase(painter ? painter->transform() : QTransform())
    {
        FDc.Pen.Kind = TObject::kPen;
        FDc.Pen.Pen = QPen(Qt::black, 0);
        FDc.Brush.Kind = TObject::kBrush;
        FDc.Brush.Brush = QBrush(Qt::white);
        FDc.Font.Kind = TObject::kFont;
        FDc.Font.Face = QStringLiteral("Arial");
        FDc.Font.Height = 12;
    }

    // ---- what the logical picture area is (set before playing)
    QRectF Frame;        // logical (WMF) or device (EMF) rectangle that fills the target
    bool Emf = false;
    bool Measuring = false;
    QRectF Bounds;       // logical points seen, when measuring
    bool RasterOps = false;

    bool PlayWmf(const TBytes& b, qsizetype start);
    bool PlayEmf(const TBytes& b);

private:
    // The transform from logical units to the target.
    QTransform Transform() const;
    void Use();  // pen, brush and transform on the painter
    void See(const QPointF& p);
    void See(const QRectF& r);
    void SeePolygon(const QPolygonF& p);
    void DrawPolygon(const QPolygonF& polygon, bool closed);
    void DrawPolyPolygon(const std::vector<QPolygonF>& polygons);
    void DrawBezier(const QPolygonF& points);
    void LineFromCurrent(const QPolygonF& more, bool bezier);
    void DrawRect(const QRectF& r, int kind, const QSizeF& corner = {});
    void DrawText(const QPointF& at, const QString& text);
    void ApplyClip();
    void IntersectClip(const QRectF& r);
    void DrawImage(const QRectF& dest, const QImage& image, const QRectF& source, quint32 rop);
    void FillRect(const QRectF& r, quint32 rop);
    int NewObject(TObject object);
    void SetObject(quint32 index, const TObject& object);
    void Select(quint32 index);
    void Delete(quint32 index);
    void Save() { FSaved.push_back(FDc); }
    void Restore(int which);
    TObject Stock(quint32 index) const;

    // A function for each kind of record; WmfRecord and EmfRecord give false
    // at the end of the file.
    bool WmfRecord(const TWmfRecord& r);
    void WmfPolygon(const TWmfRecord& r);
    void WmfPolyPolygon(const TWmfRecord& r);
    void WmfTextOut(const TWmfRecord& r);
    void WmfExtTextOut(const TWmfRecord& r);
    void WmfStretchDib(const TWmfRecord& r);
    void WmfDibBlt(const TWmfRecord& r);
    bool EmfRecord(const TEmfRecord& r);
    void EmfPolyTo(const TEmfRecord& r);
    void EmfPolyPolygon(const TEmfRecord& r);
    void EmfWorldTransform(const TEmfRecord& r);
    void EmfDrawPath(quint32 type);
    void EmfStretchDibits(const TEmfRecord& r);
    void EmfBitBlt(const TEmfRecord& r);
    void EmfTextOut(const TEmfRecord& r);

    QPainter* FPainter;
    QRectF FTarget;
    QTransform FBase;  // the painter's own transform (a page's scale), under the picture's
    bool FClipSet = false, FClipWasClipped = false;
    QPainterPath FClipWas;
    TDc FDc;
    std::vector<TDc> FSaved;
    std::vector<std::optional<TObject>> FObjects;
    // EMF paths.
    bool FInPath = false;
    QPainterPath FPath;
};

QTransform TPlayer::Transform() const
{
    // Logical -> page (world transform, EMF) -> device (window and viewport)
    // -> target (the frame fills the target).
    QTransform toDevice;
    if (Emf) {
        QPointF scale(1, 1);
        if (FDc.MapMode == 7 || FDc.MapMode == 8) {
            scale = QPointF(FDc.WinExt.x() != 0 ? FDc.VpExt.x() / FDc.WinExt.x() : 1,
                            FDc.WinExt.y() != 0 ? FDc.VpExt.y() / FDc.WinExt.y() : 1);
        }
        toDevice = QTransform::fromTranslate(-FDc.WinOrg.x(), -FDc.WinOrg.y()) *
                   QTransform::fromScale(scale.x(), scale.y()) * QTransform::fromTranslate(FDc.VpOrg.x(), FDc.VpOrg.y());
        toDevice = FDc.World * toDevice;
    } else {
        // A WMF's window is the picture's frame; later windows rescale it.
        const QRectF window = FDc.WinExtSet ? QRectF(FDc.WinOrg, QSizeF(FDc.WinExt.x(), FDc.WinExt.y())) : Frame;
        const QRectF frame = Frame.isValid() || Frame.width() != 0 ? Frame : window;
        const double sx = window.width() != 0 ? frame.width() / window.width() : 1;
        const double sy = window.height() != 0 ? frame.height() / window.height() : 1;
        toDevice = QTransform::fromTranslate(-window.left(), -window.top()) * QTransform::fromScale(sx, sy) *
                   QTransform::fromTranslate(frame.left(), frame.top());
    }
    const QRectF frame = Frame;
    const double fx = frame.width() != 0 ? FTarget.width() / frame.width() : 1;
    const double fy = frame.height() != 0 ? FTarget.height() / frame.height() : 1;
    return toDevice * QTransform::fromTranslate(-frame.left(), -frame.top()) * QTransform::fromScale(fx, fy) *
           QTransform::fromTranslate(FTarget.left(), FTarget.top());
}

// Clips are kept in the target's coordinates, and nothing is drawn outside
// the target (a word processor shows a picture within its frame).
void TPlayer::ApplyClip()
{
    FPainter->setTransform(FBase);
    // Set again only when it changed: a clip path is dear to set on every record.
    if (FClipSet && FClipWasClipped == FDc.Clipped && (!FDc.Clipped || FClipWas == FDc.Clip))
        return;
    if (FDc.Clipped) {
        QPainterPath target;
        target.addRect(FTarget);
        FPainter->setClipPath(FDc.Clip.intersected(target));
    } else {
        FPainter->setClipRect(FTarget);
    }
    FClipSet = true;
    FClipWasClipped = FDc.Clipped;
    FClipWas = FDc.Clip;
}

void TPlayer::Use()
{
    if (!FPainter)
        return;
    ApplyClip();
    FPainter->setTransform(Transform() * FBase);
    FPainter->setPen(FDc.Pen.Kind == TObject::kPen ? FDc.Pen.Pen : QPen(Qt::NoPen));
    FPainter->setBrush(FDc.Brush.Kind == TObject::kBrush ? FDc.Brush.Brush : QBrush(Qt::NoBrush));
}

void TPlayer::See(const QPointF& p)
{
    const QPointF q = Emf ? FDc.World.map(p) : p;
    Bounds = Bounds.isNull() ? QRectF(q, QSizeF(0, 0)) : Bounds.united(QRectF(q, QSizeF(0, 0)));
}

void TPlayer::See(const QRectF& r)
{
    See(r.topLeft());
    See(r.bottomRight());
}

void TPlayer::SeePolygon(const QPolygonF& p)
{
    for (const QPointF& q : p)
        See(q);
}

void TPlayer::DrawPolygon(const QPolygonF& polygon, bool closed)
{
    if (polygon.isEmpty())
        return;
    if (Measuring) {
        SeePolygon(polygon);
        return;
    }
    if (FInPath) {
        if (closed)
            FPath.addPolygon(polygon), FPath.closeSubpath();
        else {
            FPath.moveTo(polygon.front());
            for (const QPointF& p : polygon)
                FPath.lineTo(p);
        }
        return;
    }
    Use();
    if (closed) {
        FPainter->drawPolygon(polygon, FDc.FillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    } else {
        FPainter->drawPolyline(polygon);
    }
}

void TPlayer::DrawPolyPolygon(const std::vector<QPolygonF>& polygons)
{
    QPainterPath path;
    path.setFillRule(FDc.FillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    for (const QPolygonF& p : polygons) {
        if (Measuring)
            SeePolygon(p);
        path.addPolygon(p);
        path.closeSubpath();
    }
    if (Measuring)
        return;
    if (FInPath) {
        FPath.addPath(path);
        return;
    }
    Use();
    FPainter->drawPath(path);
}

void TPlayer::DrawRect(const QRectF& r, int kind, const QSizeF& corner)
{
    if (Measuring) {
        See(r);
        return;
    }
    if (FInPath) {
        if (kind == 1)
            FPath.addEllipse(r.normalized());
        else
            FPath.addRect(r.normalized());
        return;
    }
    Use();
    if (kind == 1) {
        FPainter->drawEllipse(r.normalized());
    } else if (kind == 3) {  // an arc: its ellipse's outline
        FPainter->setBrush(Qt::NoBrush);
        FPainter->drawEllipse(r.normalized());
    } else if (kind == 2)
        FPainter->drawRoundedRect(r.normalized(), corner.width() / 2, corner.height() / 2);
    else
        FPainter->drawRect(r.normalized());
}

void TPlayer::DrawText(const QPointF& at, const QString& text)
{
    if (text.isEmpty())
        return;
    if (Measuring) {
        See(at);
        return;
    }
    const QTransform t = Transform();
    // Text stands upright whatever the axes do; its size follows the y scale.
    const double scaleY = std::hypot(t.m12(), t.m22());
    const QPointF origin = t.map(at);
    QFont font(FDc.Font.Face.isEmpty() ? QStringLiteral("Arial") : FDc.Font.Face);
    const double height = std::abs(FDc.Font.Height) * scaleY;
    font.setPixelSize(std::clamp(static_cast<int>(std::lround(FDc.Font.Height < 0 ? height : height * 0.8)), 1, 2000));
    font.setWeight(FDc.Font.Weight >= 600 ? QFont::Bold : QFont::Normal);
    font.setItalic(FDc.Font.Italic);
    font.setUnderline(FDc.Font.Underline);
    font.setStrikeOut(FDc.Font.Strike);
    // Text is placed in the painter's own coordinates, so that it lands on
    // a page's painter (scaled to its device) as on an image's.
    ApplyClip();  // outside the save, so that what it set stays set
    FPainter->save();
    FPainter->translate(origin);
    if (FDc.Font.Escapement != 0)
        FPainter->rotate(-FDc.Font.Escapement / 10.0);
    FPainter->setFont(font);
    FPainter->setPen(FDc.TextColor);
    const QFontMetricsF metrics(font, FPainter->device());
    const double width = metrics.horizontalAdvance(text);
    double x = 0, y = 0;
    const int horizontal = FDc.TextAlign & 6;
    if (horizontal == 6)
        x = -width / 2;
    else if (horizontal == 2)
        x = -width;
    const int vertical = FDc.TextAlign & 24;
    if (vertical == 0)
        y = metrics.ascent();  // top
    else if (vertical == 8)
        y = -metrics.descent();  // bottom
    if (FDc.BackMode == 2 && FDc.BackColor.isValid())
        FPainter->fillRect(QRectF(x, y - metrics.ascent(), width, metrics.height()), FDc.BackColor);
    FPainter->drawText(QPointF(x, y), text);
    FPainter->restore();
}

void TPlayer::DrawImage(const QRectF& dest, const QImage& image, const QRectF& source, quint32 rop)
{
    if (rop != 0x00CC0020)
        RasterOps = true;
    if (Measuring) {
        See(dest);
        return;
    }
    if (image.isNull())
        return;
    Use();
    FPainter->save();
    switch (rop) {
    case 0x008800C6: FPainter->setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
    case 0x00EE0086: FPainter->setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
    case 0x00660046: FPainter->setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
    case 0x00330008: FPainter->setCompositionMode(QPainter::RasterOp_NotSource); break;
    default: break;
    }
    FPainter->setRenderHint(QPainter::SmoothPixmapTransform, FDc.StretchMode == 4);
    const QRectF from = source.isValid() && !source.isEmpty() ? source : QRectF(image.rect());
    // A bottom-up source rectangle is measured from the bitmap's foot.
    FPainter->drawImage(dest.normalized(), image, from.intersected(QRectF(image.rect())));
    FPainter->restore();
}

void TPlayer::FillRect(const QRectF& r, quint32 rop)
{
    if (Measuring) {
        See(r);
        return;
    }
    Use();
    QBrush brush = FDc.Brush.Kind == TObject::kBrush ? FDc.Brush.Brush : QBrush(Qt::NoBrush);
    if (rop == 0x00000042)
        brush = QBrush(Qt::black);
    else if (rop == 0x00FF0062)
        brush = QBrush(Qt::white);
    else if (rop == 0x00550009)
        return;  // DSTINVERT
    FPainter->fillRect(r.normalized(), brush);
}

void TPlayer::DrawBezier(const QPolygonF& points)
{
    QPainterPath path;
    if (!points.isEmpty()) {
        path.moveTo(points[0]);
        for (int i = 1; i + 2 < points.size(); i += 3)
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
    }
    if (Measuring)
        SeePolygon(points);
    else if (FInPath)
        FPath.addPath(path);
    else {
        Use();
        FPainter->setBrush(Qt::NoBrush);
        FPainter->drawPath(path);
    }
}

// Lines or Bezier curves from the current position, into the path being
// recorded or drawn; the last point becomes the current position.
void TPlayer::LineFromCurrent(const QPolygonF& more, bool bezier)
{
    if (FInPath) {
        if (FPath.elementCount() == 0)
            FPath.moveTo(FDc.Current);
        if (bezier) {
            for (int i = 0; i + 2 < more.size(); i += 3)
                FPath.cubicTo(more[i], more[i + 1], more[i + 2]);
        } else {
            for (const QPointF& q : more)
                FPath.lineTo(q);
        }
    } else {
        QPolygonF line;
        line << FDc.Current << more;
        DrawPolygon(line, false);
    }
    FDc.Current = more.back();
}

void TPlayer::IntersectClip(const QRectF& r)
{
    if (Measuring)
        return;
    QPainterPath path;
    path.addRect(Transform().mapRect(r));
    FDc.Clip = FDc.Clipped ? FDc.Clip.intersected(path) : path;
    FDc.Clipped = true;
}

int TPlayer::NewObject(TObject object)
{
    for (std::size_t i = 0; i < FObjects.size(); ++i)
        if (!FObjects[i]) {
            FObjects[i] = object;
            return static_cast<int>(i);
        }
    if (FObjects.size() >= kMaxObjects)
        return -1;
    FObjects.push_back(object);
    return static_cast<int>(FObjects.size()) - 1;
}

TObject TPlayer::Stock(quint32 index) const
{
    TObject o;
    const quint32 n = index & 0x7FFFFFFF;
    if (n <= 5) {
        static const QColor kBrushes[] = {Qt::white, QColor(192, 192, 192), QColor(128, 128, 128), QColor(64, 64, 64),
                                          Qt::black};
        o.Kind = n == 5 ? TObject::kOther : TObject::kBrush;
        if (n < 5)
            o.Brush = QBrush(kBrushes[n]);
        if (n == 5) {
            o.Kind = TObject::kBrush;
            o.Brush = QBrush(Qt::NoBrush);
        }
    } else if (n >= 6 && n <= 8) {
        o.Kind = TObject::kPen;
        o.Pen = n == 8 ? QPen(Qt::NoPen) : QPen(n == 6 ? Qt::white : Qt::black, 0);
    } else if (n >= 10 && n <= 17) {
        o.Kind = TObject::kFont;
        o.Face = QStringLiteral("Arial");
        o.Height = 12;
    }
    return o;
}

void TPlayer::SetObject(quint32 index, const TObject& object)
{
    if (index < kMaxObjects) {
        if (FObjects.size() <= index)
            FObjects.resize(index + 1);
        FObjects[index] = object;
    }
}

void TPlayer::Select(quint32 index)
{
    const bool stock = Emf && (index & 0x80000000u);
    const std::optional<TObject> object =
        stock ? std::optional<TObject>(Stock(index))
              : (index < FObjects.size() ? FObjects[index] : std::nullopt);
    if (!object)
        return;
    switch (object->Kind) {
    case TObject::kPen: FDc.Pen = *object; break;
    case TObject::kBrush: FDc.Brush = *object; break;
    case TObject::kFont: FDc.Font = *object; break;
    default: break;
    }
}

void TPlayer::Delete(quint32 index)
{
    if (index < FObjects.size())
        FObjects[index].reset();
}

void TPlayer::Restore(int which)
{
    if (FSaved.empty())
        return;
    int at = which < 0 ? static_cast<int>(FSaved.size()) + which : which - 1;
    at = std::clamp(at, 0, static_cast<int>(FSaved.size()) - 1);
    FDc = FSaved[static_cast<std::size_t>(at)];
    FSaved.resize(static_cast<std::size_t>(at));
}

QPen PenOf(int style, double width, const QColor& color)
{
    if ((style & 0xF) == 5)
        return QPen(Qt::NoPen);
    QPen pen(color, width <= 1 ? 0 : width);  // width 0 or 1: one device pixel
    switch (style & 0xF) {
    case 1: pen.setStyle(Qt::DashLine); break;
    case 2: pen.setStyle(Qt::DotLine); break;
    case 3: pen.setStyle(Qt::DashDotLine); break;
    case 4: pen.setStyle(Qt::DashDotDotLine); break;
    default: break;
    }
    return pen;
}

QBrush BrushOf(int style, const QColor& color, int hatch)
{
    switch (style) {
    case 0: return QBrush(color);
    case 1: return QBrush(Qt::NoBrush);
    case 2: {
        static const Qt::BrushStyle kHatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                  Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(color, kHatches[std::clamp(hatch, 0, 5)]);
    }
    default: return QBrush(color);
    }
}

QString Text1252(const QByteArray& bytes)
{
    return ToUnicode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// A font as both kinds of metafile describe it (LOGFONT): height,
// escapement and weight, then italic, underline and strike-out bytes.
TObject FontObject(int height, int escapement, int weight, const TBytes& b, qsizetype flags)
{
    TObject o;
    o.Kind = TObject::kFont;
    o.Height = height;
    o.Escapement = escapement;
    o.Weight = weight;
    o.Italic = b.U8(flags) != 0;
    o.Underline = b.U8(flags + 1) != 0;
    o.Strike = b.U8(flags + 2) != 0;
    return o;
}

TObject WmfFont(const TWmfRecord& r)
{
    TObject o = FontObject(r.W(0), r.W(2), r.W(4), r.B, r.P + 10);
    o.Charset = r.B.U8(r.P + 13);
    QByteArray face = r.B.Slice(r.P + 18, std::min<qsizetype>(32, r.End - (r.P + 18)));
    face.truncate(face.indexOf('\0') < 0 ? face.size() : face.indexOf('\0'));
    o.Face = Text1252(face);
    return o;
}

// The object a CREATE... record makes.
TObject WmfObject(const TWmfRecord& r)
{
    TObject o;
    switch (r.Function) {
    case 0x02FA:  // CREATEPENINDIRECT: style, width (x, y), colour
        o.Kind = TObject::kPen;
        o.Pen = PenOf(r.B.U16(r.P), r.W(1), ColorRef(r.B.U32(r.P + 6)));
        break;
    case 0x02FC:  // CREATEBRUSHINDIRECT: style, colour, hatch
        o.Kind = TObject::kBrush;
        o.Brush = BrushOf(r.B.U16(r.P), ColorRef(r.B.U32(r.P + 2)), r.B.U16(r.P + 6));
        break;
    case 0x02FB: return WmfFont(r);
    case 0x0142: {  // DIBCREATEPATTERNBRUSH: a brush of the bitmap's first colour
        o.Kind = TObject::kBrush;
        const QImage image = PackedDib(r.B.Slice(r.P + 4, r.End - r.P - 4));
        o.Brush = image.isNull() ? QBrush(Qt::gray) : QBrush(image);
        break;
    }
    default: o.Kind = TObject::kOther; break;  // palettes, regions
    }
    return o;
}

bool TPlayer::PlayWmf(const TBytes& b, qsizetype start)
{
    // The header: type, header size (words), version, size, objects, max record, members.
    if (b.Size < start + 18)
        return false;
    const quint16 type = b.U16(start);
    const quint16 headerWords = b.U16(start + 2);
    if ((type != 1 && type != 2) || headerWords != 9)
        return false;
    qsizetype at = start + 18;
    for (int n = 0; n < kMaxRecords && at + 6 <= b.Size; ++n) {
        TWmfRecord r {b, b.U32(at), b.U16(at + 4), at + 6, 0};
        if (r.Words < 3 || at + qsizetype(r.Words) * 2 > b.Size)
            break;
        r.End = at + qsizetype(r.Words) * 2;
        if (!WmfRecord(r))
            return true;
        at = r.End;
    }
    return true;
}

bool TPlayer::WmfRecord(const TWmfRecord& r)
{
    switch (r.Function) {
    case 0x0000: return false;  // EOF
    case 0x0103: FDc.MapMode = r.W(0); break;
    case 0x0102: FDc.BackMode = r.W(0); break;
    case 0x0106: FDc.FillMode = r.W(0); break;
    case 0x0107: FDc.StretchMode = r.W(0); break;
    case 0x012E: FDc.TextAlign = r.B.U16(r.P); break;
    case 0x0209: FDc.TextColor = ColorRef(r.B.U32(r.P)); break;
    case 0x0201: FDc.BackColor = ColorRef(r.B.U32(r.P)); break;
    case 0x020B: FDc.WinOrg = r.Point(0); break;
    case 0x020C:
        FDc.WinExt = r.Point(0);
        FDc.WinExtSet = true;
        break;
    case 0x020F: FDc.WinOrg += r.Point(0); break;
    case 0x0410:  // SCALEWINDOWEXT: yDenom, yNum, xDenom, xNum
        if (r.W(0) != 0 && r.W(2) != 0)
            FDc.WinExt = QPointF(FDc.WinExt.x() * r.W(3) / r.W(2), FDc.WinExt.y() * r.W(1) / r.W(0));
        break;
    case 0x0214: FDc.Current = r.Point(0); break;
    case 0x0213: LineFromCurrent(QPolygonF({r.Point(0)}), false); break;
    case 0x041B: DrawRect(r.Rect(0), 0); break;
    case 0x0418: DrawRect(r.Rect(0), 1); break;
    case 0x061C: DrawRect(r.Rect(2), 2, QSizeF(r.W(1), r.W(0))); break;
    case 0x0817: case 0x081A: case 0x0830: DrawRect(r.Rect(4), r.Function == 0x0817 ? 3 : 1); break;  // arc, pie, chord
    case 0x0324: case 0x0325: WmfPolygon(r); break;
    case 0x0538: WmfPolyPolygon(r); break;
    case 0x0521: WmfTextOut(r); break;
    case 0x0A32: WmfExtTextOut(r); break;
    case 0x02FA: case 0x02FC: case 0x02FB: case 0x00F7: case 0x01F9: case 0x06FF: case 0x0142:
        NewObject(WmfObject(r));
        break;
    case 0x012D: Select(r.B.U16(r.P)); break;
    case 0x01F0: Delete(r.B.U16(r.P)); break;
    case 0x001E: Save(); break;
    case 0x0127: Restore(r.W(0)); break;
    case 0x0416: IntersectClip(r.Rect(0)); break;
    case 0x061D: FillRect(QRectF(r.W(5), r.W(4), r.W(3), r.W(2)), r.B.U32(r.P)); break;  // PATBLT: rop, h, w, y, x
    case 0x0F43: WmfStretchDib(r); break;
    case 0x0B41: case 0x0940: WmfDibBlt(r); break;
    default: break;
    }
    return true;
}

void TPlayer::WmfPolygon(const TWmfRecord& r)
{
    const int count = std::clamp<int>(r.W(0), 0, static_cast<int>((r.End - r.P - 2) / 4));
    QPolygonF polygon;
    for (int i = 0; i < count; ++i)
        polygon << QPointF(r.W(1 + 2 * i), r.W(2 + 2 * i));
    DrawPolygon(polygon, r.Function == 0x0324);
}

void TPlayer::WmfPolyPolygon(const TWmfRecord& r)
{
    const int polys = std::clamp<int>(r.W(0), 0, static_cast<int>((r.End - r.P) / 2));
    std::vector<QPolygonF> polygons;
    int point = 1 + polys;
    for (int k = 0; k < polys; ++k) {
        const int count = std::max<int>(0, r.W(1 + k));
        QPolygonF polygon;
        for (int i = 0; i < count && r.P + 2 * (point + 1) < r.End; ++i, point += 2)
            polygon << QPointF(r.W(point), r.W(point + 1));
        polygons.push_back(polygon);
    }
    DrawPolyPolygon(polygons);
}

void TPlayer::WmfTextOut(const TWmfRecord& r)
{
    // TEXTOUT: count, string, y, x
    const int count = std::clamp<int>(r.W(0), 0, static_cast<int>(r.End - r.P - 2));
    const QByteArray text = r.B.Slice(r.P + 2, count);
    const qsizetype after = r.P + 2 + ((count + 1) & ~1);
    DrawText(QPointF(r.B.I16(after + 2), r.B.I16(after)), Text1252(text));
}

void TPlayer::WmfExtTextOut(const TWmfRecord& r)
{
    // EXTTEXTOUT: y, x, count, options, [rect], string
    const int count = std::clamp<int>(r.W(2), 0, static_cast<int>(r.End - r.P));
    const int options = r.B.U16(r.P + 6);
    const qsizetype text = r.P + 8 + ((options & 6) ? 8 : 0);
    DrawText(r.Point(0), Text1252(r.B.Slice(text, std::min<qsizetype>(count, r.End - text))));
}

void TPlayer::WmfStretchDib(const TWmfRecord& r)
{
    // STRETCHDIB: rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, yDst, xDst, DIB
    const QRectF source(r.W(6), r.W(5), r.W(4), r.W(3));
    const QRectF dest(r.W(10), r.W(9), r.W(8), r.W(7));
    DrawImage(dest, Measuring ? QImage() : PackedDib(r.B.Slice(r.P + 22, r.End - r.P - 22)), source, r.B.U32(r.P));
}

void TPlayer::WmfDibBlt(const TWmfRecord& r)
{
    // DIBSTRETCHBLT: rop, srcH, srcW, ySrc, xSrc, destH, destW, yDst, xDst, DIB
    // DIBBITBLT: rop, ySrc, xSrc, height, width, yDst, xDst, DIB
    // Without a bitmap (a record of (function >> 8) + 3 words) a
    // reserved word follows the operation and the brush is used.
    const quint32 rop = r.B.U32(r.P);
    const bool stretch = r.Function == 0x0B41;
    const bool withBitmap = r.Words != static_cast<quint32>((r.Function >> 8) + 3);
    const int s = withBitmap ? 2 : 3;
    const QRectF source = stretch ? QRectF(r.W(s + 3), r.W(s + 2), r.W(s + 1), r.W(s))
                                  : QRectF(r.W(s + 1), r.W(s), r.W(s + 3), r.W(s + 2));
    const QRectF dest = stretch ? QRectF(r.W(s + 7), r.W(s + 6), r.W(s + 5), r.W(s + 4))
                                : QRectF(r.W(s + 5), r.W(s + 4), r.W(s + 3), r.W(s + 2));
    if (!withBitmap) {
        FillRect(dest, rop);
        return;
    }
    const qsizetype dib = r.P + 2 * (s + (stretch ? 8 : 6));
    DrawImage(dest, Measuring ? QImage() : PackedDib(r.B.Slice(dib, r.End - dib)), source, rop);
}

TObject EmfFont(const TEmfRecord& r)
{
    TObject o = FontObject(r.I32(12), r.I32(20), r.I32(28), r.B, r.R + 32);
    QString face;
    for (int i = 0; i < 32; ++i) {
        const quint16 c = r.B.U16(r.R + 40 + 2 * i);
        if (c == 0)
            break;
        face.append(QChar(c));
    }
    o.Face = face;
    return o;
}

// The object a CREATEPEN, EXTCREATEPEN, CREATEBRUSHINDIRECT or
// EXTCREATEFONTINDIRECTW record makes.
TObject EmfObject(const TEmfRecord& r)
{
    TObject o;
    switch (r.Type) {
    case 38:
        o.Kind = TObject::kPen;
        o.Pen = PenOf(static_cast<int>(r.U32(12)), r.I32(16), ColorRef(r.U32(24)));
        return o;
    case 95:
        o.Kind = TObject::kPen;
        o.Pen = PenOf(static_cast<int>(r.U32(28)), r.U32(32), ColorRef(r.U32(40)));
        return o;
    case 39:
        o.Kind = TObject::kBrush;
        o.Brush = BrushOf(static_cast<int>(r.U32(12)), ColorRef(r.U32(16)), static_cast<int>(r.U32(20)));
        return o;
    default: return EmfFont(r);
    }
}

bool TPlayer::PlayEmf(const TBytes& b)
{
    qsizetype at = 0;
    for (int n = 0; n < kMaxRecords && at + 8 <= b.Size; ++n) {
        const quint32 type = b.U32(at);
        const quint32 size = b.U32(at + 4);
        if (size < 8 || (size & 3) != 0 || at + qsizetype(size) > b.Size)
            break;
        if (!EmfRecord(TEmfRecord {b, type, at, at + size}))
            return true;
        at += size;
    }
    return true;
}

bool TPlayer::EmfRecord(const TEmfRecord& r)
{
    switch (r.Type) {
    case 14: return false;  // EOF
    case 2: case 85: DrawBezier(r.Points(24, 28, r.Type >= 85)); break;
    case 3: case 4: case 86: case 87: DrawPolygon(r.Points(24, 28, r.Type >= 85), r.Type == 3 || r.Type == 86); break;
    case 5: case 6: case 88: case 89: EmfPolyTo(r); break;  // ...TO: from the current position
    case 7: case 8: case 90: case 91: EmfPolyPolygon(r); break;
    case 9: FDc.WinExt = r.PointL(8); break;
    case 10: FDc.WinOrg = r.PointL(8); break;
    case 11: FDc.VpExt = r.PointL(8); break;
    case 12: FDc.VpOrg = r.PointL(8); break;
    case 17: FDc.MapMode = static_cast<int>(r.U32(8)); break;
    case 18: FDc.BackMode = static_cast<int>(r.U32(8)); break;
    case 21: FDc.StretchMode = static_cast<int>(r.U32(8)); break;
    case 19: FDc.FillMode = static_cast<int>(r.U32(8)); break;
    case 22: FDc.TextAlign = static_cast<int>(r.U32(8)); break;
    case 24: FDc.TextColor = ColorRef(r.U32(8)); break;
    case 25: FDc.BackColor = ColorRef(r.U32(8)); break;
    case 27: FDc.Current = r.PointL(8); break;
    case 54: LineFromCurrent(QPolygonF({r.PointL(8)}), false); break;
    case 33: Save(); break;
    case 34: Restore(r.I32(8)); break;
    case 35: case 36: EmfWorldTransform(r); break;
    case 37: Select(r.U32(8)); break;
    case 40: Delete(r.U32(8)); break;
    case 38: case 95: case 39: case 82: SetObject(r.U32(8), EmfObject(r)); break;
    case 42: DrawRect(r.RectL(8), 1); break;
    case 43: DrawRect(r.RectL(8), 0); break;
    case 44: DrawRect(r.RectL(8), 2, QSizeF(r.I32(24), r.I32(28))); break;
    case 45: case 46: case 47: DrawRect(r.RectL(8), r.Type == 45 ? 3 : 1); break;
    case 30: IntersectClip(r.RectL(8)); break;
    case 75:  // EXTSELECTCLIPRGN with no region: no clip
        if (r.U32(8) == 0)
            FDc.Clipped = false;
        break;
    case 59: FInPath = true; FPath = QPainterPath(); break;
    case 60: FInPath = false; break;
    case 61: FPath.closeSubpath(); break;
    case 68: FInPath = false; FPath = QPainterPath(); break;
    case 62: case 63: case 64: EmfDrawPath(r.Type); break;
    case 81: EmfStretchDibits(r); break;
    case 76: case 77: EmfBitBlt(r); break;
    case 83: case 84: EmfTextOut(r); break;
    default: break;
    }
    return true;
}

void TPlayer::EmfPolyTo(const TEmfRecord& r)
{
    const QPolygonF more = r.Points(24, 28, r.Type >= 88);
    if (!more.isEmpty())
        LineFromCurrent(more, r.Type == 5 || r.Type == 88);
}

void TPlayer::EmfPolyPolygon(const TEmfRecord& r)
{
    const bool shortPoints = r.Type >= 90;
    const qint64 polys = std::clamp<qint64>(r.U32(24), 0, (r.End - r.R) / 4);
    qsizetype point = r.R + 32 + polys * 4;
    std::vector<QPolygonF> polygons;
    const int step = shortPoints ? 4 : 8;
    for (qint64 k = 0; k < polys; ++k) {
        const qint64 count = std::clamp<qint64>(r.U32(32 + k * 4), 0, (r.End - point) / step);
        QPolygonF polygon;
        for (qint64 i = 0; i < count; ++i, point += step)
            polygon << (shortPoints ? QPointF(r.B.I16(point), r.B.I16(point + 2))
                                    : QPointF(r.B.I32(point), r.B.I32(point + 4)));
        polygons.push_back(polygon);
    }
    if (r.Type == 8 || r.Type == 91) {
        DrawPolyPolygon(polygons);
    } else {
        for (const QPolygonF& p : polygons)
            DrawPolygon(p, false);
    }
}

void TPlayer::EmfWorldTransform(const TEmfRecord& r)
{
    const QTransform x(r.F32(8), r.F32(12), r.F32(16), r.F32(20), r.F32(24), r.F32(28));
    const quint32 mode = r.Type == 35 ? 4 : r.U32(32);
    if (mode == 1)
        FDc.World = QTransform();
    else if (mode == 2)
        FDc.World = x * FDc.World;
    else if (mode == 3)
        FDc.World = FDc.World * x;
    else if (mode == 4)
        FDc.World = x;
}

// STROKEANDFILLPATH, FILLPATH, STROKEPATH
void TPlayer::EmfDrawPath(quint32 type)
{
    if (!Measuring && !FPath.isEmpty()) {
        Use();
        FPath.setFillRule(FDc.FillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
        if (type == 62)
            FPainter->setPen(Qt::NoPen);
        if (type == 64)
            FPainter->setBrush(Qt::NoBrush);
        FPainter->drawPath(FPath);
    }
    FPath = QPainterPath();
}

void TPlayer::EmfStretchDibits(const TEmfRecord& r)
{
    const QRectF destination(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
    const QRectF source(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
    QImage image;
    if (!Measuring)
        image = DibImage(r.B.Slice(r.R + r.U32(48), r.U32(52)), r.B.Slice(r.R + r.U32(56), r.U32(60)));
    DrawImage(destination, image, source, r.U32(68));
}

// BITBLT, STRETCHBLT
void TPlayer::EmfBitBlt(const TEmfRecord& r)
{
    const QRectF destination(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
    const quint32 rop = r.U32(40);
    const quint32 cbBmi = r.U32(88);
    if (cbBmi == 0) {
        FillRect(destination, rop);
        return;
    }
    const bool stretch = r.Type == 77;
    const QRectF source(r.I32(44), r.I32(48), stretch ? r.I32(100) : destination.width(),
                        stretch ? r.I32(104) : destination.height());
    QImage image;
    if (!Measuring)
        image = DibImage(r.B.Slice(r.R + r.U32(84), cbBmi), r.B.Slice(r.R + r.U32(92), r.U32(96)));
    DrawImage(destination, image, source, rop);
}

// EXTTEXTOUTA, EXTTEXTOUTW
void TPlayer::EmfTextOut(const TEmfRecord& r)
{
    const bool wide = r.Type == 84;
    const qint64 count = std::clamp<qint64>(r.U32(44), 0, 4096);
    const qsizetype text = r.R + r.U32(48);
    QString s;
    for (qint64 i = 0; i < count && text + (wide ? 2 : 1) * i < r.End; ++i) {
        if (wide) {
            s.append(QChar(r.B.U16(text + 2 * i)));
        } else {
            const char c = static_cast<char>(r.B.U8(text + i));
            s.append(ToUnicode(std::string_view(&c, 1)));
        }
    }
    DrawText(r.PointL(36), s);
}

struct TKindOf {
    bool Emf = false;
    bool Placeable = false;
    qsizetype Start = 0;
    QRectF PlaceableBox;
    QRectF EmfFrame;  // device units
};

std::optional<TKindOf> Recognise(const TBytes& b)
{
    TKindOf k;
    if (b.Size >= 88 && b.U32(0) == 1 && b.U32(40) == 0x464D4520) {  // " EMF"
        k.Emf = true;
        // The frame in hundredths of a millimetre, in device units of the
        // reference device.
        const QRectF frame(QPointF(b.I32(24), b.I32(28)), QPointF(b.I32(32), b.I32(36)));
        const double devW = b.I32(72), devH = b.I32(76), mmW = b.I32(80), mmH = b.I32(84);
        if (devW > 0 && devH > 0 && mmW > 0 && mmH > 0 && frame.width() > 0 && frame.height() > 0) {
            const double sx = devW / (mmW * 100.0), sy = devH / (mmH * 100.0);
            k.EmfFrame = QRectF(frame.left() * sx, frame.top() * sy, frame.width() * sx, frame.height() * sy);
        } else {
            k.EmfFrame = QRectF(QPointF(b.I32(8), b.I32(12)), QPointF(b.I32(16), b.I32(20)));
        }
        return k;
    }
    if (b.U32(0) == 0x9AC6CDD7) {
        k.Placeable = true;
        k.PlaceableBox = QRectF(QPointF(b.I16(6), b.I16(8)), QPointF(b.I16(10), b.I16(12)));
        k.Start = 22;
        return b.Size >= 22 + 18 ? std::optional<TKindOf>(k) : std::nullopt;
    }
    if ((b.U16(0) == 1 || b.U16(0) == 2) && b.U16(2) == 9)
        return k;
    return std::nullopt;
}

}  // namespace

QByteArray BitmapFileOfPackedDib(const QByteArray& packed)
{
    const quint32 infoSize = PackedDibInfoSize(packed);
    return infoSize == 0 ? QByteArray() : BitmapFile(packed.left(infoSize), packed.mid(infoSize));
}

QSizeF MetafileSize(const QByteArray& data)
{
    const TBytes b {data.constData(), data.size()};
    const auto kind = Recognise(b);
    if (!kind)
        return {};
    if (kind->Emf) {
        // The frame, in hundredths of a millimetre.
        const double w = b.I32(32) - b.I32(24), h = b.I32(36) - b.I32(28);
        return w > 0 && h > 0 ? QSizeF(w * 1440 / 2540, h * 1440 / 2540) : QSizeF();
    }
    if (kind->Placeable) {
        // The box in the header's units to the inch.
        const double inch = b.U16(14) > 0 ? b.U16(14) : 1440;
        const QRectF box = kind->PlaceableBox.normalized();
        return box.isEmpty() ? QSizeF() : QSizeF(box.width() * 1440 / inch, box.height() * 1440 / inch);
    }
    return {};
}

bool PlayMetafile(const QByteArray& data, QPainter& painter, const QRectF& target)
{
    const TBytes b {data.constData(), data.size()};
    const auto kind = Recognise(b);
    if (!kind)
        return false;
    // A first pass measures: which part of the logical plane the picture takes.
    TPlayer measure(nullptr, target);
    measure.Measuring = true;
    measure.Emf = kind->Emf;
    if (kind->Emf) {
        measure.Frame = kind->EmfFrame;
        measure.PlayEmf(b);
    } else {
        measure.Frame = QRectF(0, 0, 1, 1);
        measure.PlayWmf(b, kind->Start);
    }
    TPlayer player(&painter, target);
    player.Emf = kind->Emf;
    if (kind->Emf) {
        player.Frame = kind->EmfFrame.isValid() && !kind->EmfFrame.isEmpty() ? kind->EmfFrame : measure.Bounds;
    } else {
        // The placeable header's box, else the first window, else what the records drew.
        if (kind->Placeable && !kind->PlaceableBox.normalized().isEmpty())
            player.Frame = kind->PlaceableBox;
        else
            player.Frame = measure.Bounds.isValid() ? measure.Bounds : QRectF(0, 0, 1, 1);
    }
    if (player.Frame.width() == 0 || player.Frame.height() == 0)
        return false;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(target);
    const bool played = kind->Emf ? player.PlayEmf(b) : player.PlayWmf(b, kind->Start);
    painter.restore();
    return played;
}

QImage RenderMetafile(const QByteArray& data, double widthTwips, double heightTwips)
{
    const TBytes b {data.constData(), data.size()};
    if (!Recognise(b))
        return {};
    const double scale = 200.0 / 1440.0;  // dots per twip
    int w = static_cast<int>(std::clamp(widthTwips * scale, 1.0, double(kMaxImageSide)));
    int h = static_cast<int>(std::clamp(heightTwips * scale, 1.0, double(kMaxImageSide)));
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDotsPerMeterX(qRound(200 / 0.0254));
    image.setDotsPerMeterY(qRound(200 / 0.0254));
    QPainter painter(&image);
    if (!PlayMetafile(data, painter, QRectF(0, 0, w, h)))
        return {};
    return image;
}
