#include "platform/pdf/pdfdevice.h"

#include "platform/pdf/pdffonts.h"

#include <QtGui/private/qfontengine_p.h>
#include <QtGui/private/qtextengine_p.h>

#include <QBuffer>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPixmap>

#include <charconv>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstring>
#include <list>
#include <unordered_map>
#include <vector>

namespace {

// A number as a content stream wants it: at most three decimals, no exponent.
void Num(QByteArray& out, double v)
{
    if (!std::isfinite(v) || std::abs(v) < 0.0005)
        v = 0;
    char buf[40];
    char* end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3).ptr;
    while (end[-1] == '0')
        --end;
    if (end[-1] == '.')
        --end;
    out.append(buf, end - buf);
    out.append(' ');
}

// A number of tenths, written as Num writes it: a glyph's shift in a TJ
// array, written for nearly every glyph of justified or spaced text.
void Tenths(QByteArray& out, long long tenths)
{
    char buf[24];
    char* end = buf;
    if (tenths < 0) {
        *end++ = '-';
        tenths = -tenths;
    }
    end = std::to_chars(end, buf + sizeof buf, tenths / 10).ptr;
    if (tenths % 10 != 0) {
        *end++ = '.';
        *end++ = static_cast<char>('0' + tenths % 10);
    }
    *end++ = ' ';
    out.append(buf, end - buf);
}

void Hex4(QByteArray& out, unsigned v)
{
    static const char digits[] = "0123456789ABCDEF";
    const char hex[4] = {digits[(v >> 12) & 15], digits[(v >> 8) & 15], digits[(v >> 4) & 15], digits[v & 15]};
    out.append(hex, 4);
}

// A text string of the document information, in UTF-16 so any title fits.
QByteArray TextString(const QString& text)
{
    QByteArray out("<FEFF");
    for (const QChar c : text)
        Hex4(out, c.unicode());
    return out + '>';
}

// An image as embedded: the same picture in the next report is not encoded
// again (a letterhead's logo in every report).
struct TEncodedImage {
    QImage Source;
    int Width = 0, Height = 0;
    bool Gray = false;
    bool Jpeg = false;
    QByteArray Data;
    QByteArray Alpha;  // deflated soft mask, empty when opaque
};

QByteArray Jpeg(const QImage& image)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(94);
    return writer.write(image) ? jpeg : QByteArray();
}

std::shared_ptr<const TEncodedImage> Encode(const QImage& source)
{
    const QImage image = source.hasAlphaChannel() ? source.convertToFormat(QImage::Format_ARGB32)
                                                  : source.convertToFormat(QImage::Format_RGB32);
    auto out = std::make_shared<TEncodedImage>();
    out->Source = source;  // compared on a lookup; shares the caller's pixels
    const int w = image.width(), h = image.height();
    out->Width = w;
    out->Height = h;
    out->Gray = image.allGray();
    QByteArray alpha;
    if (source.hasAlphaChannel()) {
        alpha.resize(static_cast<qsizetype>(w) * h);
        bool opaque = true;
        char* a = alpha.data();
        for (int y = 0; y < h; ++y) {
            const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < w; ++x, ++a) {
                *a = static_cast<char>(qAlpha(row[x]));
                opaque = opaque && qAlpha(row[x]) == 255;
            }
        }
        if (!opaque)
            out->Alpha = pdffonts::Deflate(alpha);
    }
    const QImage opaqueImage = out->Gray ? image.convertToFormat(QImage::Format_Grayscale8)
                                         : image.convertToFormat(QImage::Format_RGB32);
    // A scan or a photograph is JPEG, as a word processor writes it:
    // compressing its pixels losslessly as well would take far longer.
    constexpr qsizetype kLargePixels = 512 * 512;
    if (static_cast<qsizetype>(w) * h > kLargePixels && out->Alpha.isEmpty()) {
        out->Data = Jpeg(opaqueImage);
        if (!out->Data.isEmpty()) {
            out->Jpeg = true;
            return out;
        }
    }
    QByteArray pixels(static_cast<qsizetype>(w) * h * (out->Gray ? 1 : 3), Qt::Uninitialized);
    char* p = pixels.data();
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            *p++ = static_cast<char>(qRed(row[x]));
            if (!out->Gray) {
                *p++ = static_cast<char>(qGreen(row[x]));
                *p++ = static_cast<char>(qBlue(row[x]));
            }
        }
    }
    out->Data = pdffonts::Deflate(pixels);
    // A photograph is far smaller as JPEG; a drawing or a logo usually not.
    if (w * h >= 256) {
        QByteArray jpeg = Jpeg(opaqueImage);
        if (!jpeg.isEmpty() && jpeg.size() < out->Data.size()) {
            out->Data = std::move(jpeg);
            out->Jpeg = true;
        }
    }
    return out;
}

// Only pictures the size of a logo are kept: a scanned page is drawn once,
// and the cache must not hold a morning's scans.
std::shared_ptr<const TEncodedImage> EncodedImage(const QImage& image)
{
    static std::list<std::pair<std::size_t, std::shared_ptr<const TEncodedImage>>> cache;
    constexpr std::size_t kMaxImages = 16;
    constexpr qsizetype kMaxKeptBytes = 1 << 20;
    if (image.sizeInBytes() > kMaxKeptBytes)
        return Encode(image);
    const std::size_t hash = qHashBits(image.constBits(), static_cast<std::size_t>(image.sizeInBytes()),
                                       static_cast<std::size_t>(image.width()) * 31 + image.format());
    for (auto at = cache.begin(); at != cache.end(); ++at)
        if (at->first == hash && at->second->Source == image) {
            cache.splice(cache.end(), cache, at);
            return cache.back().second;
        }
    auto encoded = Encode(image);
    cache.emplace_back(hash, encoded);
    if (cache.size() > kMaxImages)
        cache.pop_front();
    return encoded;
}

}  // namespace

// ---- the paint engine ------------------------------------------------------

class TPdfEngine : public QPaintEngine {
public:
    TPdfEngine() : QPaintEngine(AllFeatures) {}

    QString Title, Creator = QStringLiteral("PrintORB");
    QByteArray Output;

    void StartPage(QSizeF size);

    bool begin(QPaintDevice*) override;
    bool end() override;
    Type type() const override { return QPaintEngine::User; }
    void updateState(const QPaintEngineState& state) override;

    void drawPath(const QPainterPath& path) override;
    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override;
    void drawRects(const QRectF* rects, int count) override;
    void drawLines(const QLineF* lines, int count) override;
    void drawPixmap(const QRectF& r, const QPixmap& pixmap, const QRectF& sr) override;
    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr, Qt::ImageConversionFlags) override;
    void drawTextItem(const QPointF& p, const QTextItem& textItem) override;

    QSizeF PageSize;
    int Dpi = 1440;

private:
    struct TPage {
        QSizeF Size;
        QByteArray Content;
    };
    struct TDocFont {
        int Index = 0;
        std::shared_ptr<const TPdfFontFace> Face;
        std::vector<std::uint16_t> CidOfGlyph;  // 0: not used yet
        std::vector<unsigned> GlyphOfCid {0};
        std::vector<QString> TextOfCid {QString()};
        unsigned Cid(unsigned glyph);
    };
    struct TDocImage {
        int Index = 0;
        std::shared_ptr<const TEncodedImage> Encoded;
    };

    void FinishPage();
    void Prepare();
    void Point(QPointF p);
    void WritePath(const QPainterPath& path, const QTransform& m);
    bool SetFill(const QBrush& brush);
    bool SetStroke();
    void SetAlpha(int fill, int stroke);
    bool StartShape(bool mayFill, bool& fill, bool& stroke);
    void Paint(bool fill, bool stroke, bool oddEven);
    TDocFont* FontFor(QFontEngine* engine);
    void NoteGlyphText(TDocFont& font, const QTextItemInt& ti);
    void StartText(const TDocFont& font, double size, int synthetic, const QBrush& brush);
    void WriteGlyphs(TDocFont& font, const QVarLengthArray<glyph_t>& glyphs,
                     const QVarLengthArray<QFixedPoint>& positions, double size, double slant);
    void WriteFile();
    std::vector<int> WritePages(int pages, int resources);
    QByteArray WriteImage(const TDocImage& image);
    void WriteResources(int resources, const QByteArray& fonts, const QByteArray& images);
    void WriteTrailer(int catalog, int info);
    int NewId();
    void Begin(int id);
    void Stream(int id, const QByteArray& dictionary, const QByteArray& deflated, int length = -1);
    void WriteFont(TDocFont& font, int id);

    std::vector<TPage> FPages;
    QByteArray* FOut = nullptr;  // the current page's content
    QTransform FMatrix;
    QPen FPen;
    QBrush FBrush;
    double FOpacity = 1;
    std::vector<std::pair<QPainterPath, bool>> FClips;  // device space; odd-even
    bool FClipEnabled = false;
    bool FClipDirty = false;

    // What the content stream has set since the last Q.
    struct {
        QRgb Fill = qRgb(0, 0, 0), Stroke = qRgb(0, 0, 0);
        double Width = 1;
        int Cap = 0, Join = 0;
        QByteArray Dash;
        int FillAlpha = 255, StrokeAlpha = 255;
    } FSet;

    std::unordered_map<QFontEngine*, TDocFont*> FFontOf;
    std::unordered_map<std::string, std::unique_ptr<TDocFont>> FFonts;
    std::vector<TDocFont*> FFontOrder;
    std::unordered_map<qint64, TDocImage> FImageOf;
    std::vector<TDocImage*> FImageOrder;
    std::vector<std::pair<int, int>> FAlphas;  // graphics states, by /GS index
    std::vector<qsizetype> FOffsets {0};
};

unsigned TPdfEngine::TDocFont::Cid(unsigned glyph)
{
    if (glyph > 0xFFFF)
        return 0;
    if (glyph >= CidOfGlyph.size())
        CidOfGlyph.resize(std::max<std::size_t>(glyph + 1, Face->Advances.size()), 0);
    std::uint16_t& cid = CidOfGlyph[glyph];
    if (cid == 0 && GlyphOfCid.size() < 0xFFFF) {  // a missing glyph too: its box shows
        cid = static_cast<std::uint16_t>(GlyphOfCid.size());
        GlyphOfCid.push_back(glyph);
        TextOfCid.emplace_back();
    }
    return cid;
}

bool TPdfEngine::begin(QPaintDevice*)
{
    if (FPages.empty())
        StartPage(PageSize);
    return true;
}

void TPdfEngine::StartPage(QSizeF size)
{
    FinishPage();
    FPages.push_back({size, {}});
    FOut = &FPages.back().Content;
    FOut->reserve(16384);
    // Dots from the top-left corner, as the painter draws.
    const double scale = 72.0 / Dpi;
    Num(*FOut, scale);
    FOut->append("0 0 ");
    Num(*FOut, -scale);
    FOut->append("0 ");
    Num(*FOut, size.height() * scale);
    FOut->append("cm\nq\n");
    FSet = {};
    FClipDirty = FClipEnabled;
}

void TPdfEngine::FinishPage()
{
    if (FOut)
        FOut->append("Q\n");
    FOut = nullptr;
}

bool TPdfEngine::end()
{
    FinishPage();
    WriteFile();
    return true;
}

void TPdfEngine::updateState(const QPaintEngineState& state)
{
    const DirtyFlags flags = state.state();
    if (flags & DirtyTransform)
        FMatrix = state.transform();
    if (flags & DirtyPen)
        FPen = state.pen();
    if (flags & DirtyBrush)
        FBrush = state.brush();
    if (flags & DirtyOpacity)
        FOpacity = state.opacity();
    if (flags & (DirtyClipPath | DirtyClipRegion)) {
        QPainterPath clip;
        if (flags & DirtyClipPath)
            clip = state.clipPath();
        else
            clip.addRegion(state.clipRegion());
        const QPainterPath device = FMatrix.map(clip);
        switch (state.clipOperation()) {
        case Qt::NoClip:
            FClips.clear();
            FClipEnabled = false;
            break;
        case Qt::ReplaceClip:
            FClips.assign(1, {device, clip.fillRule() == Qt::OddEvenFill});
            FClipEnabled = true;
            break;
        case Qt::IntersectClip:
            FClips.emplace_back(device, clip.fillRule() == Qt::OddEvenFill);
            FClipEnabled = true;
            break;
        }
        FClipDirty = true;
    }
    if (flags & DirtyClipEnabled) {
        FClipEnabled = state.isClipEnabled();
        FClipDirty = true;
    }
}

// A clip can only be narrowed in PDF: a new one starts from the page's
// unclipped state.
void TPdfEngine::Prepare()
{
    if (!FClipDirty)
        return;
    FClipDirty = false;
    FOut->append("Q q\n");
    FSet = {};
    if (!FClipEnabled)
        return;
    for (const auto& [path, oddEven] : FClips) {
        WritePath(path, QTransform());
        FOut->append(oddEven ? "W* n\n" : "W n\n");
    }
}

void TPdfEngine::Point(QPointF p)
{
    Num(*FOut, p.x());
    Num(*FOut, p.y());
}

void TPdfEngine::WritePath(const QPainterPath& path, const QTransform& m)
{
    const int count = path.elementCount();
    for (int i = 0; i < count; ++i) {
        const QPainterPath::Element& e = path.elementAt(i);
        const QPointF p = m.map(QPointF(e.x, e.y));
        if (e.type == QPainterPath::MoveToElement) {
            Point(p);
            FOut->append("m\n");
        } else if (e.type == QPainterPath::LineToElement) {
            Point(p);
            FOut->append("l\n");
        } else if (e.type == QPainterPath::CurveToElement && i + 2 < count) {
            Point(p);
            const QPointF c2 = m.map(QPointF(path.elementAt(i + 1).x, path.elementAt(i + 1).y));
            const QPointF end = m.map(QPointF(path.elementAt(i + 2).x, path.elementAt(i + 2).y));
            Point(c2);
            Point(end);
            FOut->append("c\n");
            i += 2;
        }
    }
}

void TPdfEngine::SetAlpha(int fill, int stroke)
{
    if (fill == FSet.FillAlpha && stroke == FSet.StrokeAlpha)
        return;
    const std::pair<int, int> key(fill, stroke);
    auto at = std::find(FAlphas.begin(), FAlphas.end(), key);
    if (at == FAlphas.end())
        at = FAlphas.insert(FAlphas.end(), key);
    FOut->append("/GS" + QByteArray::number(at - FAlphas.begin()) + " gs\n");
    FSet.FillAlpha = fill;
    FSet.StrokeAlpha = stroke;
}

// "r g b rg" for fills, "r g b RG" for strokes.
static void WriteColor(QByteArray& out, const QColor& c, const char* op)
{
    Num(out, c.redF());
    Num(out, c.greenF());
    Num(out, c.blueF());
    out.append(op);
}

static QColor SolidColor(const QBrush& brush)
{
    if (const QGradient* g = brush.gradient(); g && !g->stops().isEmpty())
        return g->stops().first().second;
    return brush.color();
}

bool TPdfEngine::SetFill(const QBrush& brush)
{
    if (brush.style() == Qt::NoBrush)
        return false;
    const QColor c = SolidColor(brush);
    const int alpha = qRound(c.alpha() * FOpacity);
    if (alpha == 0)
        return false;
    SetAlpha(alpha, FSet.StrokeAlpha);
    if (c.rgb() != FSet.Fill) {
        WriteColor(*FOut, c, "rg\n");
        FSet.Fill = c.rgb();
    }
    return true;
}

bool TPdfEngine::SetStroke()
{
    if (FPen.style() == Qt::NoPen || FPen.brush().style() == Qt::NoBrush)
        return false;
    const QColor c = SolidColor(FPen.brush());
    const int alpha = qRound(c.alpha() * FOpacity);
    if (alpha == 0)
        return false;
    SetAlpha(FSet.FillAlpha, alpha);
    if (c.rgb() != FSet.Stroke) {
        WriteColor(*FOut, c, "RG\n");
        FSet.Stroke = c.rgb();
    }
    // Coordinates are written in device space, so the width is scaled here.
    double width = FPen.widthF();
    if (!FPen.isCosmetic())
        width *= std::sqrt(std::abs(FMatrix.determinant()));
    if (width != FSet.Width) {
        Num(*FOut, width);
        FOut->append("w\n");
        FSet.Width = width;
    }
    const int cap = FPen.capStyle() == Qt::RoundCap ? 1 : FPen.capStyle() == Qt::SquareCap ? 2 : 0;
    if (cap != FSet.Cap) {
        FOut->append(QByteArray::number(cap) + " J\n");
        FSet.Cap = cap;
    }
    const int join = FPen.joinStyle() == Qt::RoundJoin ? 1 : FPen.joinStyle() == Qt::BevelJoin ? 2 : 0;
    if (join != FSet.Join) {
        FOut->append(QByteArray::number(join) + " j\n");
        FSet.Join = join;
    }
    QByteArray dash;
    if (FPen.style() != Qt::SolidLine) {
        const double unit = width > 0 ? width : 1;
        dash = "[";
        for (const qreal d : FPen.dashPattern())
            Num(dash, d * unit);
        dash += "] ";
        Num(dash, FPen.dashOffset() * unit);
        dash += "d\n";
    }
    if (dash != FSet.Dash) {
        FOut->append(dash.isEmpty() ? QByteArray("[] 0 d\n") : dash);
        FSet.Dash = dash;
    }
    return true;
}

void TPdfEngine::Paint(bool fill, bool stroke, bool oddEven)
{
    if (fill && stroke)
        FOut->append(oddEven ? "B*\n" : "B\n");
    else if (fill)
        FOut->append(oddEven ? "f*\n" : "f\n");
    else if (stroke)
        FOut->append("S\n");
    else
        FOut->append("n\n");
}

// The clip, fill and pen of a shape: whether it is filled, stroked, or
// (false) neither.
bool TPdfEngine::StartShape(bool mayFill, bool& fill, bool& stroke)
{
    Prepare();
    fill = mayFill && SetFill(FBrush);
    stroke = SetStroke();
    return fill || stroke;
}

void TPdfEngine::drawPath(const QPainterPath& path)
{
    bool fill = false, stroke = false;
    if (!FOut || path.isEmpty() || !StartShape(true, fill, stroke))
        return;
    WritePath(path, FMatrix);
    Paint(fill, stroke, path.fillRule() == Qt::OddEvenFill);
}

void TPdfEngine::drawPolygon(const QPointF* points, int count, PolygonDrawMode mode)
{
    bool fill = false, stroke = false;
    if (!FOut || count < 2 || !StartShape(mode != PolylineMode, fill, stroke))
        return;
    for (int i = 0; i < count; ++i) {
        Point(FMatrix.map(points[i]));
        FOut->append(i == 0 ? "m\n" : "l\n");
    }
    if (mode != PolylineMode)
        FOut->append("h\n");
    Paint(fill, stroke, mode == OddEvenMode);
}

void TPdfEngine::drawRects(const QRectF* rects, int count)
{
    bool fill = false, stroke = false;
    if (!FOut || count <= 0 || !StartShape(true, fill, stroke))
        return;
    for (int i = 0; i < count; ++i) {
        if (FMatrix.type() <= QTransform::TxScale) {
            const QRectF r = FMatrix.mapRect(rects[i]);
            Point(r.topLeft());
            Num(*FOut, r.width());
            Num(*FOut, r.height());
            FOut->append("re\n");
        } else {
            const QPolygonF p = FMatrix.map(QPolygonF(rects[i]));
            for (int k = 0; k < 4; ++k) {
                Point(p[k]);
                FOut->append(k == 0 ? "m\n" : "l\n");
            }
            FOut->append("h\n");
        }
    }
    Paint(fill, stroke, false);
}

void TPdfEngine::drawLines(const QLineF* lines, int count)
{
    if (!FOut || count <= 0)
        return;
    Prepare();
    if (!SetStroke())
        return;
    for (int i = 0; i < count; ++i) {
        Point(FMatrix.map(lines[i].p1()));
        FOut->append("m\n");
        Point(FMatrix.map(lines[i].p2()));
        FOut->append("l\n");
    }
    FOut->append("S\n");
}

void TPdfEngine::drawPixmap(const QRectF& r, const QPixmap& pixmap, const QRectF& sr)
{
    drawImage(r, pixmap.toImage(), sr, Qt::AutoColor);
}

void TPdfEngine::drawImage(const QRectF& r, const QImage& source, const QRectF& sr, Qt::ImageConversionFlags)
{
    if (!FOut || source.isNull() || r.isEmpty())
        return;
    const QRect part = sr.toAlignedRect().intersected(source.rect());
    if (part.isEmpty())
        return;
    const QImage image = part == source.rect() ? source : source.copy(part);
    TDocImage& placed = FImageOf[image.cacheKey()];
    if (!placed.Encoded) {
        placed.Encoded = EncodedImage(image);
        placed.Index = static_cast<int>(FImageOrder.size());
        FImageOrder.push_back(&placed);
    }
    Prepare();
    SetAlpha(qRound(255 * FOpacity), FSet.StrokeAlpha);
    // The unit square of the image, top row first, onto r.
    const QTransform& m = FMatrix;
    const QPointF origin = m.map(QPointF(r.left(), r.bottom()));
    FOut->append("q ");
    Num(*FOut, r.width() * m.m11());
    Num(*FOut, r.width() * m.m12());
    Num(*FOut, -r.height() * m.m21());
    Num(*FOut, -r.height() * m.m22());
    Point(origin);
    FOut->append("cm /Im" + QByteArray::number(placed.Index) + " Do Q\n");
}

TPdfEngine::TDocFont* TPdfEngine::FontFor(QFontEngine* engine)
{
    const auto known = FFontOf.find(engine);
    if (known != FFontOf.end())
        return known->second;
    TDocFont* font = nullptr;
    if (std::shared_ptr<const TPdfFontFace> face = pdffonts::FaceOf(engine)) {
        std::unique_ptr<TDocFont>& slot = FFonts[face->Key.toStdString()];
        if (!slot) {
            slot = std::make_unique<TDocFont>();
            slot->Face = std::move(face);
            slot->Index = static_cast<int>(FFontOrder.size());
            FFontOrder.push_back(slot.get());
        }
        font = slot.get();
    }
    FFontOf[engine] = font;
    return font;
}

void TPdfEngine::drawTextItem(const QPointF& p, const QTextItem& textItem)
{
    const auto& ti = static_cast<const QTextItemInt&>(textItem);
    QFontEngine* engine = ti.fontEngine;
    if (!FOut || !engine || ti.glyphs.numGlyphs <= 0)
        return;
    QVarLengthArray<glyph_t> glyphs;
    QVarLengthArray<QFixedPoint> positions;
    engine->getGlyphPositions(ti.glyphs, QTransform::fromTranslate(p.x(), p.y()), ti.flags, glyphs, positions);
    if (glyphs.isEmpty())
        return;
    Prepare();
    const QBrush brush = FPen.brush();
    TDocFont* font = FontFor(engine);
    if (!font) {
        // Not embeddable: the glyphs' outlines, filled.
        QPainterPath path;
        engine->addGlyphsToPath(glyphs.data(), positions.data(), static_cast<int>(glyphs.size()), &path, ti.flags);
        if (SetFill(brush)) {
            WritePath(path, FMatrix);
            FOut->append("f\n");
        }
        return;
    }
    if (!SetFill(brush))
        return;
    if (ti.chars && ti.logClusters)
        NoteGlyphText(*font, ti);
    const double size = engine->fontDef.pixelSize;
    if (size <= 0)
        return;
    const int synthetic = engine->synthesized();
    StartText(*font, size, synthetic, brush);
    WriteGlyphs(*font, glyphs, positions, size, synthetic & QFontEngine::SynthesizedItalic ? 0.2 : 0);
    if (synthetic & QFontEngine::SynthesizedBold)
        FOut->append("0 Tr\n");
    FOut->append("ET\n");
}

// What each glyph reads as, for copying and searching: taken from the
// characters of its cluster the first time the glyph is drawn.
void TPdfEngine::NoteGlyphText(TDocFont& font, const QTextItemInt& ti)
{
    QVarLengthArray<signed char, 256> fresh(ti.glyphs.numGlyphs, -1);
    // A line that starts inside a run gets the run's clusters: they count
    // from the run's first glyph, its glyphs from the line's.
    const int first = ti.num_chars > 0 ? ti.logClusters[0] : 0;
    for (int c = 0; c < ti.num_chars; ++c) {
        const int g = ti.logClusters[c] - first;
        if (g < 0 || g >= ti.glyphs.numGlyphs)
            continue;
        if (fresh[g] < 0) {
            const unsigned cid = font.Cid(ti.glyphs.glyphs[g]);
            fresh[g] = cid != 0 && font.TextOfCid[cid].isEmpty() ? 1 : 0;
        }
        if (fresh[g] > 0)
            font.TextOfCid[font.Cid(ti.glyphs.glyphs[g])] += ti.chars[c];
    }
}

// The text object's font and size; a synthetic bold is stroked as well.
void TPdfEngine::StartText(const TDocFont& font, double size, int synthetic, const QBrush& brush)
{
    QByteArray& out = *FOut;
    out.append("BT\n/F" + QByteArray::number(font.Index) + ' ');
    Num(out, size);
    out.append("Tf\n");
    if (synthetic & QFontEngine::SynthesizedBold) {
        SetAlpha(FSet.FillAlpha, FSet.FillAlpha);
        out.append("2 Tr ");
        Num(out, size / 30.0 * std::sqrt(std::abs(FMatrix.determinant())));
        out.append("w\n");
        FSet.Width = -1;
        const QColor c = SolidColor(brush);
        WriteColor(out, c, "RG\n");
        FSet.Stroke = c.rgb();
    }
}

// The glyphs as runs of one line each, placed where the layout put them.
void TPdfEngine::WriteGlyphs(TDocFont& font, const QVarLengthArray<glyph_t>& glyphs,
                             const QVarLengthArray<QFixedPoint>& positions, double size, double slant)
{
    const QTransform& m = FMatrix;
    QByteArray& out = *FOut;
    double runX = 0, runY = 0, pen = 0;
    bool inArray = false, inHex = false;
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        const double x = positions[i].x.toReal();
        const double y = positions[i].y.toReal();
        if (!inArray || std::abs(y - runY) > 0.001) {
            if (inArray)
                out.append(inHex ? "> ] TJ\n" : "] TJ\n");
            Num(out, m.m11());
            Num(out, m.m12());
            Num(out, slant * m.m11() - m.m21());
            Num(out, slant * m.m12() - m.m22());
            Point(m.map(QPointF(x, y)));
            out.append("Tm [");
            inArray = true;
            inHex = false;
            runX = x;
            runY = y;
            pen = 0;
        } else {
            // The layout's place for the glyph, where the font's own advance
            // would put it elsewhere (justification, kerning, hinting).
            const double shift = (x - runX) - pen;
            if (std::abs(shift) > 0.01) {
                const double tenths = std::round(-shift * 1000.0 / size * 10);
                if (tenths != 0) {
                    if (inHex)
                        out.append("> ");
                    inHex = false;
                    if (std::abs(tenths) < 1e15)
                        Tenths(out, static_cast<long long>(tenths));
                    else
                        Num(out, tenths / 10);
                    pen -= tenths / 10 * size / 1000.0;
                }
            }
        }
        const unsigned cid = font.Cid(glyphs[i]);
        if (!inHex)
            out.append('<');
        inHex = true;
        Hex4(out, cid);
        pen += font.Face->Width1000(glyphs[i]) * size / 1000.0;
    }
    out.append(inHex ? "> ] TJ\n" : "] TJ\n");
}

// ---- the file --------------------------------------------------------------

int TPdfEngine::NewId()
{
    FOffsets.push_back(0);
    return static_cast<int>(FOffsets.size() - 1);
}

void TPdfEngine::Begin(int id)
{
    FOffsets[static_cast<std::size_t>(id)] = Output.size();
    Output.append(QByteArray::number(id) + " 0 obj\n");
}

void TPdfEngine::Stream(int id, const QByteArray& dictionary, const QByteArray& deflated, int length)
{
    Begin(id);
    Output.append("<< " + dictionary + " /Filter /FlateDecode /Length " + QByteArray::number(deflated.size()));
    if (length >= 0)
        Output.append(" /Length1 " + QByteArray::number(length));
    Output.append(" >>\nstream\n");
    Output.append(deflated);
    Output.append("\nendstream\nendobj\n");
}

namespace {

// A subset's name starts with six capitals that differ between subsets.
QByteArray SubsetName(const TPdfFontFace& face, const std::vector<unsigned>& glyphs)
{
    std::size_t hash = qHashRange(glyphs.begin(), glyphs.end(), qHash(face.Key));
    QByteArray name;
    for (int i = 0; i < 6; ++i, hash /= 26)
        name += static_cast<char>('A' + hash % 26);
    return name + '+' + face.PostScriptName;
}

QByteArray FontDescriptor(const TPdfFontFace& face, const QByteArray& name, int file)
{
    const double scale = 1000.0 / face.UnitsPerEm;
    QByteArray d = "<< /Type /FontDescriptor /FontName /" + name + " /Flags " +
                   QByteArray::number(face.FixedPitch ? 5 : 4) + " /FontBBox [";
    for (const int v : face.BBox)
        Num(d, std::round(v * scale));
    d += "] /ItalicAngle ";
    Num(d, face.ItalicAngle);
    d += "/Ascent ";
    Num(d, std::round(face.Ascent * scale));
    d += "/Descent ";
    Num(d, std::round(face.Descent * scale));
    d += "/CapHeight ";
    Num(d, std::round(face.CapHeight * scale));
    d += "/StemV 80 /FontFile2 " + QByteArray::number(file) + " 0 R >>\nendobj\n";
    return d;
}

// Each CID's glyph in the embedded font, two bytes each.
QByteArray CidToGidMap(const std::vector<unsigned>& glyphOfCid, const TPdfFontSubset* subset)
{
    QByteArray map;
    map.reserve(static_cast<qsizetype>(glyphOfCid.size()) * 2);
    for (const unsigned g : glyphOfCid) {
        const unsigned to = subset ? subset->Map(g) : g;
        map.append(static_cast<char>(to >> 8));
        map.append(static_cast<char>(to & 0xFF));
    }
    return map;
}

QByteArray ToUnicodeCMap(const std::vector<QString>& textOfCid)
{
    QByteArray cmap =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    std::vector<unsigned> mapped;
    for (unsigned cid = 1; cid < textOfCid.size(); ++cid)
        if (!textOfCid[cid].isEmpty())
            mapped.push_back(cid);
    for (std::size_t from = 0; from < mapped.size(); from += 100) {
        const std::size_t to = std::min(mapped.size(), from + 100);
        cmap += QByteArray::number(static_cast<qulonglong>(to - from)) + " beginbfchar\n";
        for (std::size_t k = from; k < to; ++k) {
            cmap += '<';
            Hex4(cmap, mapped[k]);
            cmap += "> <";
            for (const QChar c : textOfCid[mapped[k]])
                Hex4(cmap, c.unicode());
            cmap += ">\n";
        }
        cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    return cmap;
}

QByteArray ImageDictionary(const TEncodedImage& e, bool gray)
{
    return "/Type /XObject /Subtype /Image /Width " + QByteArray::number(e.Width) + " /Height " +
           QByteArray::number(e.Height) + " /ColorSpace " + (gray ? "/DeviceGray" : "/DeviceRGB") +
           " /BitsPerComponent 8";
}

}  // namespace

void TPdfEngine::WriteFont(TDocFont& font, int id)
{
    const TPdfFontFace& face = *font.Face;
    std::vector<unsigned> glyphs = font.GlyphOfCid;
    std::sort(glyphs.begin(), glyphs.end());
    glyphs.erase(std::unique(glyphs.begin(), glyphs.end()), glyphs.end());
    std::shared_ptr<const TPdfFontSubset> subset = pdffonts::SubsetOf(face, glyphs);

    const int cidFont = NewId(), descriptor = NewId(), file = NewId(), toUnicode = NewId(), cidToGid = NewId();
    const QByteArray name = SubsetName(face, glyphs);
    Begin(id);
    Output.append("<< /Type /Font /Subtype /Type0 /BaseFont /" + name + " /Encoding /Identity-H /DescendantFonts [" +
                  QByteArray::number(cidFont) + " 0 R] /ToUnicode " + QByteArray::number(toUnicode) +
                  " 0 R >>\nendobj\n");

    QByteArray widths;
    widths.reserve(static_cast<qsizetype>(font.GlyphOfCid.size()) * 5);
    for (const unsigned g : font.GlyphOfCid)
        Num(widths, std::round(face.Width1000(g)));
    Begin(cidFont);
    Output.append("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /" + name +
                  " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor " +
                  QByteArray::number(descriptor) + " 0 R /CIDToGIDMap " + QByteArray::number(cidToGid) +
                  " 0 R /W [0 [" + widths + "]] >>\nendobj\n");
    Begin(descriptor);
    Output.append(FontDescriptor(face, name, file));

    // Without a subset the whole font goes in, and glyphs keep their numbers.
    if (subset)
        Stream(file, {}, subset->Compressed, subset->Length);
    else
        Stream(file, {}, pdffonts::Deflate(face.Data), static_cast<int>(face.Data.size()));
    Stream(cidToGid, {}, pdffonts::Deflate(CidToGidMap(font.GlyphOfCid, subset.get()), pdffonts::TPacking::Fast));
    Stream(toUnicode, {}, pdffonts::Deflate(ToUnicodeCMap(font.TextOfCid), pdffonts::TPacking::Fast));
}

void TPdfEngine::WriteFile()
{
    Output.clear();
    Output.reserve(65536);
    Output.append("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    const int catalog = NewId(), pages = NewId(), info = NewId(), resources = NewId();
    const std::vector<int> pageIds = WritePages(pages, resources);
    QByteArray fonts, images;
    for (TDocFont* font : FFontOrder) {
        const int id = NewId();
        fonts += "/F" + QByteArray::number(font->Index) + ' ' + QByteArray::number(id) + " 0 R ";
        WriteFont(*font, id);
    }
    for (const TDocImage* image : FImageOrder)
        images += WriteImage(*image);
    WriteResources(resources, fonts, images);

    Begin(pages);
    QByteArray kids;
    for (const int id : pageIds)
        kids += QByteArray::number(id) + " 0 R ";
    Output.append("<< /Type /Pages /Kids [" + kids.trimmed() + "] /Count " +
                  QByteArray::number(static_cast<qulonglong>(pageIds.size())) + " >>\nendobj\n");
    Begin(catalog);
    Output.append("<< /Type /Catalog /Pages " + QByteArray::number(pages) + " 0 R >>\nendobj\n");
    Begin(info);
    Output.append("<< /Title " + TextString(Title) + " /Creator " + TextString(Creator) + " /Producer " +
                  TextString(Creator) + " /CreationDate (D:" +
                  QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmss")).toLatin1() +
                  "Z) >>\nendobj\n");
    WriteTrailer(catalog, info);
}

// The pages and their content streams; gives the pages' ids.
std::vector<int> TPdfEngine::WritePages(int pages, int resources)
{
    std::vector<int> pageIds;
    for (const TPage& page : FPages) {
        const int id = NewId(), content = NewId();
        pageIds.push_back(id);
        Begin(id);
        QByteArray box;
        Num(box, page.Size.width() * 72.0 / Dpi);
        Num(box, page.Size.height() * 72.0 / Dpi);
        Output.append("<< /Type /Page /Parent " + QByteArray::number(pages) + " 0 R /MediaBox [0 0 " + box.trimmed() +
                      "] /Resources " + QByteArray::number(resources) + " 0 R /Contents " +
                      QByteArray::number(content) + " 0 R >>\nendobj\n");
        Stream(content, {}, pdffonts::Deflate(page.Content, pdffonts::TPacking::Fast));
    }
    return pageIds;
}

// An image and its soft mask; gives its entry in the resources.
QByteArray TPdfEngine::WriteImage(const TDocImage& image)
{
    const TEncodedImage& e = *image.Encoded;
    const int id = NewId();
    QByteArray mask;
    if (!e.Alpha.isEmpty()) {
        const int maskId = NewId();
        Stream(maskId, ImageDictionary(e, true), e.Alpha);
        mask = " /SMask " + QByteArray::number(maskId) + " 0 R";
    }
    const QByteArray dictionary = ImageDictionary(e, e.Gray) + mask;
    if (e.Jpeg) {
        Begin(id);
        Output.append("<< " + dictionary + " /Filter /DCTDecode /Length " + QByteArray::number(e.Data.size()) +
                      " >>\nstream\n");
        Output.append(e.Data);
        Output.append("\nendstream\nendobj\n");
    } else {
        Stream(id, dictionary, e.Data);
    }
    return "/Im" + QByteArray::number(image.Index) + ' ' + QByteArray::number(id) + " 0 R ";
}

void TPdfEngine::WriteResources(int resources, const QByteArray& fonts, const QByteArray& images)
{
    Begin(resources);
    Output.append("<< /ProcSet [/PDF /Text /ImageB /ImageC] /Font << " + fonts + ">> /XObject << " + images + ">>");
    if (!FAlphas.empty()) {
        Output.append(" /ExtGState <<");
        for (std::size_t i = 0; i < FAlphas.size(); ++i) {
            QByteArray gs = " /GS" + QByteArray::number(static_cast<qulonglong>(i)) + " << /ca ";
            Num(gs, FAlphas[i].first / 255.0);
            gs += "/CA ";
            Num(gs, FAlphas[i].second / 255.0);
            Output.append(gs + ">>");
        }
        Output.append(" >>");
    }
    Output.append(" >>\nendobj\n");
}

void TPdfEngine::WriteTrailer(int catalog, int info)
{
    const qsizetype xref = Output.size();
    Output.append("xref\n0 " + QByteArray::number(static_cast<qulonglong>(FOffsets.size())) +
                  "\n0000000000 65535 f \n");
    for (std::size_t id = 1; id < FOffsets.size(); ++id) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(FOffsets[id]));
        Output.append(entry, 20);
    }
    Output.append("trailer\n<< /Size " + QByteArray::number(static_cast<qulonglong>(FOffsets.size())) + " /Root " +
                  QByteArray::number(catalog) + " 0 R /Info " + QByteArray::number(info) + " 0 R >>\nstartxref\n" +
                  QByteArray::number(xref) + "\n%%EOF\n");
}

// ---- the device --------------------------------------------------------------

TPdfDevice::TPdfDevice(QSizeF pageSize, int dotsPerInch) : FEngine(std::make_unique<TPdfEngine>())
{
    FEngine->PageSize = pageSize;
    FEngine->Dpi = std::max(1, dotsPerInch);
}

TPdfDevice::~TPdfDevice() = default;

void TPdfDevice::SetTitle(const QString& title)
{
    FEngine->Title = title;
}

void TPdfDevice::SetCreator(const QString& creator)
{
    FEngine->Creator = creator;
}

void TPdfDevice::NewPage(QSizeF pageSize)
{
    FEngine->PageSize = pageSize;
    FEngine->StartPage(pageSize);
}

QByteArray TPdfDevice::Bytes() const
{
    return FEngine->Output;
}

QPaintEngine* TPdfDevice::paintEngine() const
{
    return FEngine.get();
}

int TPdfDevice::metric(PaintDeviceMetric metric) const
{
    const QSizeF size = FEngine->PageSize;
    const int dpi = FEngine->Dpi;
    switch (metric) {
    case PdmWidth: return qRound(size.width());
    case PdmHeight: return qRound(size.height());
    case PdmWidthMM: return qRound(size.width() * 25.4 / dpi);
    case PdmHeightMM: return qRound(size.height() * 25.4 / dpi);
    case PdmNumColors: return INT_MAX;
    case PdmDepth: return 32;
    case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return dpi;
    case PdmDevicePixelRatio: return 1;
    case PdmDevicePixelRatioScaled: return qRound(devicePixelRatioFScale());
    default: return 0;
    }
}
