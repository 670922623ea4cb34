// Objects at positions of their own: shapes (pictures, text boxes,
// rectangles, ellipses, lines), legacy drawing objects, and the engine's
// own image descriptions.
#include "platform/docengine/rtfreaderimpl.h"

#include <QImageReader>

#include <algorithm>

namespace rtf {
namespace {

QColor FromBgr(int value)
{
    return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

}  // namespace

void TRtfReader::ShapeProperty(const QString& name, const QString& value)
{
    if (!FShape)
        return;
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok)
        return;
    struct TProperty {
        const char* Name;
        void (*Set)(TShape& s, int number);
    };
    static const TProperty kProperties[] = {
        {"posrelh", [](TShape& s, int n) { s.PosRelH = n; }},
        {"posrelv", [](TShape& s, int n) { s.PosRelV = n; }},
        {"posh", [](TShape& s, int n) { s.PosH = n; }},
        {"posv", [](TShape& s, int n) { s.PosV = n; }},
        {"shapeType", [](TShape& s, int n) { s.ShapeType = n; }},
        {"fillColor", [](TShape& s, int n) { s.FillColor = n; }},
        {"lineColor", [](TShape& s, int n) { s.LineColor = n; }},
        {"lineWidth", [](TShape& s, int n) { s.LineWidth = n; }},
        {"fFilled", [](TShape& s, int n) { s.Filled = n != 0; }},
        {"fLine", [](TShape& s, int n) { s.Lined = n != 0; }},
        {"fBehindDocument", [](TShape& s, int n) { s.BehindText = s.BehindText || n != 0; }},
        {"fFlipV", [](TShape& s, int n) { s.FlipV = n != 0; }},
        {"fBackground", [](TShape& s, int n) { s.Background = n != 0; }},
    };
    for (const TProperty& property : kProperties)
        if (name == QLatin1String(property.Name)) {
            property.Set(*FShape, number);
            return;
        }
}

void TRtfReader::FinishShape()
{
    TShape shape = std::move(*FShape);
    FShape.reset();
    FShapeDepth = -1;
    std::shared_ptr<QTextDocument> text;
    if (shape.TextSink >= 0) {
        FinishTables(shape.TextSink, 0);
        TSink& box = Sink(shape.TextSink);
        box.Cursor.endEditBlock();
        if (box.Own && !box.Own->isEmpty())
            text = std::shared_ptr<QTextDocument>(box.Own.release());
        box.Doc = nullptr;
    }
    if (FOwnImagePending && !FPendingOwnImages.empty()) {
        // The engine's own image description came first; this shape only carries its picture.
        FOwnImagePending = false;
        TPositionedImage& own = FPendingOwnImages.back();
        if (shape.Picture && own.Image.isNull()) {
            own.Image = *shape.Picture;
            own.Encoded = shape.Encoded;
            own.EncodedFormat = shape.EncodedFormat;
        }
        return;
    }
    if (shape.Background)
        return;  // a page colour, not an object
    const int width = std::max(1, shape.Right - shape.Left);
    const int height = std::max(1, shape.Bottom - shape.Top);
    if (shape.Picture && shape.Top < 0 && shape.Bottom <= 0 && !shape.InHeader) {
        // An "as character" picture: it stands in the text.
        InsertPicture(*shape.Picture, shape.Encoded, shape.EncodedFormat, width, height);
        return;
    }
    bool anchored = false;
    const QPointF at = ShapePosition(shape, width, height, anchored);
    if (shape.Picture)
        AddShapePicture(shape, QRectF(at, QSizeF(width, height)), anchored);
    else
        AddShapeObject(shape, QRectF(at, QSizeF(width, height)), anchored, text);
}

// Where a shape stands on the page; anchored when it moves with its paragraph.
QPointF TRtfReader::ShapePosition(const TShape& shape, int width, int height, bool& anchored)
{
    const TPageNow page = PageNow();
    // Horizontal: page, or the margin (column); an alignment overrides the offset.
    const QByteArray& bx = shape.HorizontalBase;
    const bool pageX = bx == "page" || (bx == "ignore" && shape.PosRelH == 1) || (bx.isEmpty() && shape.PosRelH == 1);
    const double refLeft = pageX ? 0 : page.MarginL;
    const double refWidth = pageX ? page.Width : page.Width - page.MarginL - page.MarginR;
    double x = refLeft + shape.Left;
    if (shape.PosH == 1)
        x = refLeft;
    else if (shape.PosH == 2)
        x = refLeft + (refWidth - width) / 2;
    else if (shape.PosH == 3)
        x = refLeft + refWidth - width;
    // Vertical: page, margin, or the paragraph the shape is anchored at.
    const QByteArray& by = shape.VerticalBase;
    const bool pageY = by == "page" || ((by == "ignore" || by.isEmpty()) && shape.PosRelV == 1);
    const bool marginY = by == "margin" || ((by == "ignore" || by.isEmpty()) && shape.PosRelV == 0);
    const bool paraY = !pageY && !marginY;
    const double refTop = pageY ? 0 : marginY ? page.MarginT : 0;
    const double refHeight = pageY ? page.Height : page.Height - page.MarginT - page.MarginB;
    double y = refTop + shape.Top;
    if ((pageY || marginY) && shape.PosV == 1)
        y = refTop;
    else if ((pageY || marginY) && shape.PosV == 2)
        y = refTop + (refHeight - height) / 2;
    else if ((pageY || marginY) && shape.PosV == 3)
        y = refTop + refHeight - height;
    anchored = paraY && !shape.InHeader;
    if (paraY && shape.InHeader) {
        // A header's paragraph stands at the header distance, a footer's
        // near the footer distance from the bottom; the shape stays on the page.
        const bool footer = Sink(shape.Sink).Part && IsFooterSink(shape.Sink);
        y += footer ? page.Height - FFooterY.value_or(720) - 240 : FHeaderY.value_or(720);
        y = std::clamp<double>(y, 0, std::max(0, page.Height - height));
    }
    return QPointF(x, y);
}

void TRtfReader::AddShapePicture(const TShape& shape, const QRectF& box, bool anchored)
{
    TPositionedImage image;
    image.Image = *shape.Picture;
    image.Encoded = shape.Encoded;
    image.EncodedFormat = shape.EncodedFormat;
    image.PosX = static_cast<int>(box.x());
    image.PosY = static_cast<int>(box.y());
    image.WidthOverride = static_cast<int>(box.width());
    image.HeightOverride = static_cast<int>(box.height());
    image.EveryPage = shape.InHeader;
    image.BehindText = shape.BehindText;
    image.AnchorPosition = anchored ? shape.AnchorPosition : -1;
    if (shape.InHeader)
        FPartObjects.push_back({true, FOut.Images.size(), shape.Sink});
    FOut.Images.push_back(std::move(image));
}

void TRtfReader::AddShapeObject(const TShape& shape, const QRectF& box, bool anchored,
                                const std::shared_ptr<QTextDocument>& text)
{
    TPositionedShape s;
    switch (shape.ShapeType) {
    case 3: s.Shape = TPositionedShape::Ellipse; break;
    case 20: case 32: s.Shape = TPositionedShape::Line; break;
    case 202: s.Shape = TPositionedShape::TextBox; break;
    default: s.Shape = text ? TPositionedShape::TextBox : TPositionedShape::Rectangle; break;
    }
    s.Box = box;
    if (shape.Filled && s.Shape != TPositionedShape::Line)
        s.Fill = shape.FillColor >= 0 ? FromBgr(shape.FillColor) : QColor(Qt::white);
    if (shape.Lined)
        s.Outline = shape.LineColor >= 0 ? FromBgr(shape.LineColor) : QColor(Qt::black);
    s.OutlineWidth = shape.LineWidth >= 0 ? shape.LineWidth / 635.0 : 15;  // EMU: 635 to the twip
    s.FlipLine = shape.FlipV;
    s.EveryPage = shape.InHeader;
    s.BehindText = shape.BehindText;
    s.AnchorPosition = anchored ? shape.AnchorPosition : -1;
    s.Text = text;
    if (shape.InHeader)
        FPartObjects.push_back({false, FOut.Shapes.size(), shape.Sink});
    FOut.Shapes.push_back(std::move(s));
}

void TRtfReader::FinishDrawing()
{
    const TDrawing d = *FDrawing;
    FDrawing.reset();
    FDrawingDepth = -1;
    if (d.Kind.isEmpty())
        return;
    const TPageNow page = PageNow();
    TPositionedShape s;
    s.Shape = d.Kind == "ellipse" ? TPositionedShape::Ellipse
              : d.Kind == "line"  ? TPositionedShape::Line
                                  : TPositionedShape::Rectangle;
    const double x = d.X + (d.PageX ? 0 : page.MarginL);
    double y = d.Y;
    if (d.MarginY)
        y += page.MarginT;
    s.Box = QRectF(x, y, std::abs(d.W), std::abs(d.H));
    s.FlipLine = (d.W < 0) != (d.H < 0);
    auto rgb = [](const int c[3]) { return QColor(std::clamp(c[0], 0, 255), std::clamp(c[1], 0, 255), std::clamp(c[2], 0, 255)); };
    if (!d.LineHollow)
        s.Outline = rgb(d.LineColor);
    s.OutlineWidth = std::max(1, d.LineWidth);
    // Pattern 0 leaves the shape clear; a solid pattern fills with the
    // fill colour word processors show (the background one).
    if (d.FillPattern != 0 && s.Shape != TPositionedShape::Line)
        s.Fill = rgb(d.FillBack);
    s.AnchorPosition = d.PageY || d.MarginY ? -1 : d.AnchorPosition;
    FOut.Shapes.push_back(std::move(s));
}

void TRtfReader::FinishOwnImage()
{
    TOwnImage own = std::move(*FOwnImage);
    FOwnImage.reset();
    FOwnImageDepth = -1;
    auto value = [&](const char* key, int fallback) {
        const auto it = own.Values.find(key);
        return it == own.Values.end() ? fallback : it->second;
    };
    TPositionedImage image;
    image.FileName = own.Path.trimmed();
    image.PosX = value("orbx", 0);
    image.PosY = value("orby", 0);
    image.ScaleX = value("orbsx", 100);
    image.ScaleY = value("orbsy", 100);
    image.LayoutCodeA = value("orbla", 0);
    image.LayoutCodeB = value("orblb", 0);
    image.Distance1 = value("orbda", 0);
    image.Distance2 = value("orbdb", 0);
    image.Distance3 = value("orbdc", 0);
    image.Distance4 = value("orbdd", 0);
    image.WidthOverride = value("orbw", 0);
    image.HeightOverride = value("orbh", 0);
    image.EveryPage = value("orbevery", 0) != 0;
    FPendingOwnImages.push_back(std::move(image));
    FOwnImagePending = true;
}

}  // namespace rtf
