// Pages: the main text is laid out in one long column, then cut into pages
// (and a page into its section's newspaper columns) at line and table-row
// boundaries, so that each page can have its own
// header and footer (first page, left pages), a page break is obeyed,
// footnotes take their room at the foot of their page and a table's header
// rows repeat on every page it runs onto. Page n is drawn on any painter,
// scaled from twips to its device.
#include "platform/docengine/documentengine.h"
#include "platform/docengine/enginepart.h"
#include "platform/docengine/picturehandler.h"
#include "platform/docengine/textmetrics.h"
#include "platform/docengine/tablelayout.h"

#include <QAbstractTextDocumentLayout>
#include <QPaintDevice>
#include <QPainter>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr double kMinBodyHeight = 720;  // half an inch, whatever header and footer take
constexpr double kFootnoteGap = 120;    // above the separator line of the footnotes
// The column the main text is laid out in: far longer than any report.
// Qt's layout without any page height is pathologically slow on some
// inputs (a fuzzed file took minutes), so it gets this one.
constexpr double kColumnHeight = 1e7;

// Lays a document out as one long column of this width, its lines keeping
// their glyphs for drawing.
void LayOutAsColumn(QTextDocument& doc, double width)
{
    MatchWordProcessorWidths(doc);
    KeepGlyphs(doc);
    doc.setPageSize(QSizeF(width, kColumnHeight));
}

// A copy of a header or footer with its page-number and page-count fields
// showing this page's values, laid out at this page's width; null when the
// part as laid out serves.
std::unique_ptr<QTextDocument> WithPageValues(const TEnginePart& part, double width, int page, int pages)
{
    bool any = std::abs(part.Doc->pageSize().width() - width) > 0.5;
    for (QTextBlock block = part.Doc->begin(); block.isValid() && !any; block = block.next())
        for (auto it = block.begin(); !it.atEnd() && !any; ++it)
            any = it.fragment().charFormat().hasProperty(kPageFieldProperty);
    if (!any)
        return nullptr;
    std::unique_ptr<QTextDocument> copy(part.Doc->clone());
    copy->setDocumentMargin(0);
    PrepareLayout(*copy);
    LayOutAsColumn(*copy, width);
    // Fields from the end backwards, so positions stay valid.
    std::vector<std::pair<QTextFragment, int>> fields;
    for (QTextBlock block = copy->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().hasProperty(kPageFieldProperty))
                fields.emplace_back(it.fragment(), it.fragment().charFormat().intProperty(kPageFieldProperty));
    for (auto f = fields.rbegin(); f != fields.rend(); ++f) {
        QTextCursor cursor(copy.get());
        cursor.setPosition(f->first.position());
        cursor.setPosition(f->first.position() + f->first.length(), QTextCursor::KeepAnchor);
        cursor.insertText(QString::number(f->second == kPageNumberField ? page : pages), f->first.charFormat());
    }
    return copy;
}

// Rows with a height from the file: each cell is padded to reach it, from
// its own padding again on every layout, so that a cell whose text grows
// gives the extra back. Returns whether the document has such rows.
bool FitRowHeights(QTextDocument& doc)
{
    std::vector<QTextTableCell> cells;
    std::vector<QTextFrame*> frames {doc.rootFrame()};
    while (!frames.empty()) {
        QTextFrame* frame = frames.back();
        frames.pop_back();
        for (QTextFrame* child : frame->childFrames())
            frames.push_back(child);
        auto* table = qobject_cast<QTextTable*>(frame);
        if (!table)
            continue;
        for (int row = 0; row < table->rows(); ++row)
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                if (cell.row() == row && cell.column() == column && cell.rowSpan() == 1 &&
                    cell.format().hasProperty(kRowHeightProperty))
                    cells.push_back(cell);
            }
    }
    if (cells.empty())
        return false;
    auto setPadding = [](QTextTableCell& cell, double top, double bottom) {
        QTextTableCellFormat f = cell.format().toTableCellFormat();
        if (std::abs(f.topPadding() - top) < 0.01 && std::abs(f.bottomPadding() - bottom) < 0.01)
            return;
        f.setTopPadding(top);
        f.setBottomPadding(bottom);
        cell.setFormat(f);
    };
    for (QTextTableCell& cell : cells) {
        const QTextFormat f = cell.format();
        setPadding(cell, f.doubleProperty(kCellTopPaddingProperty), f.doubleProperty(kCellBottomPaddingProperty));
    }
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    (void)layout->documentSize();
    struct TExtra {
        QTextTableCell Cell;
        double Top, Bottom;
    };
    std::vector<TExtra> extras;
    for (QTextTableCell& cell : cells) {
        const QTextTableCellFormat f = cell.format().toTableCellFormat();
        QRectF box;
        for (QTextBlock block = cell.firstCursorPosition().block();
             block.isValid() && block.position() <= cell.lastPosition(); block = block.next())
            box = box.isNull() ? layout->blockBoundingRect(block) : box.united(layout->blockBoundingRect(block));
        const double need = std::min(std::abs(f.intProperty(kRowHeightProperty)), 31680) / 15.0;
        const double has = box.height() / 15.0 + f.topPadding() + f.bottomPadding();
        if (has + 0.01 >= need)
            continue;
        const double extra = need - has;
        const auto align = f.verticalAlignment();
        const double above = align == QTextCharFormat::AlignMiddle ? extra / 2
                             : align == QTextCharFormat::AlignBottom ? extra
                                                                     : 0;
        extras.push_back({cell, f.topPadding() + above, f.bottomPadding() + extra - above});
    }
    // Without a page size the layout waits: one layout for all the cells
    // instead of the whole table again after each one.
    const QSizeF pageSize = doc.pageSize();
    if (!extras.empty())
        doc.setPageSize(QSizeF(0, 0));
    for (TExtra& e : extras)
        setPadding(e.Cell, e.Top, e.Bottom);
    if (!extras.empty())
        doc.setPageSize(pageSize);
    return true;
}

// The width of each of a section's columns.
double ColumnWidth(const TPageSetup& s)
{
    const int columns = std::max(1, s.Columns);
    return std::max(720.0, (s.PageWidth - s.MarginL - s.MarginR - (columns - 1.0) * s.ColumnGap) / columns);
}

double PartHeight(const TEnginePart* part)
{
    return !part || part->IsEmpty() ? 0.0 : part->Doc->documentLayout()->documentSize().height();
}

// A piece of the main text that is never cut: a line, or a table row.
struct TUnit {
    double Top = 0;     // where a page that starts with it starts
    double Bottom = 0;  // where its ink ends
    double SpaceAbove = 0;  // the paragraph's own space before, kept on a page a break starts
    bool BreakBefore = false;
    bool ColumnBreakBefore = false;
    bool MayBreakBefore = true;  // false inside rows a merged cell spans
    const void* Table = nullptr;  // the table a row is of
    int Row = -1;
    std::vector<int> Footnotes;
    int HeaderRows = 0;  // of its table, which repeat on the pages it runs onto
    double HeadTop = 0;  // where they start
};

struct TCollector {
    QAbstractTextDocumentLayout* Layout;
    std::vector<TUnit> Units;
    bool BreakNext = false;
    double MaxWholeRow = 1e18;  // a row taller than this is cut between its lines
    const TTableFlow* Flow = nullptr;

    void Block(const QTextBlock& block)
    {
        if (Flow)
            if (const TTableFlow::TRow* row = Flow->RowOf(block)) {
                FlowRow(*row, block.blockFormat().boolProperty(kPageBreakBeforeProperty));
                return;
            }
        const QRectF box = Layout->blockBoundingRect(block);
        const QTextLayout* lines = block.layout();
        const QTextBlockFormat format = block.blockFormat();
        bool first = true;
        for (int i = 0; i < std::max(1, lines->lineCount()); ++i) {
            TUnit unit;
            if (i < lines->lineCount()) {
                const QTextLine line = lines->lineAt(i);
                unit.Top = first ? box.top() : lines->position().y() + line.y();
                unit.Bottom = lines->position().y() + line.y() + line.height();
            } else {
                unit.Top = box.top();
                unit.Bottom = box.bottom();
            }
            if (first) {
                unit.SpaceAbove = format.intProperty(kSpaceBeforeTwips);
                unit.BreakBefore = BreakNext || format.boolProperty(kPageBreakBeforeProperty);
                unit.ColumnBreakBefore = format.boolProperty(kColumnBreakBeforeProperty);
                BreakNext = false;
            }
            first = false;
            Units.push_back(unit);
        }
    }

    // The rectangle a cell's blocks take, nested tables included.
    QRectF CellBox(const QTextTableCell& cell) const
    {
        QRectF box;
        const int last = cell.lastPosition();
        for (QTextBlock block = cell.firstCursorPosition().block(); block.isValid() && block.position() <= last;
             block = block.next())
            box = box.isNull() ? Layout->blockBoundingRect(block) : box.united(Layout->blockBoundingRect(block));
        return box;
    }

    void Table(const QTextTable* table)
    {
        const QTextTableFormat format = table->format();
        const double border = format.border() * 15;
        const QRectF frame = Layout->frameBoundingRect(const_cast<QTextTable*>(table));
        double previousBottom = frame.top();
        for (int row = 0; row < table->rows(); ++row) {
            double top = 1e18, bottom = previousBottom;
            bool spannedFromAbove = false;
            for (int column = 0; column < table->columns(); ++column) {
                const QTextTableCell cell = table->cellAt(row, column);
                if (!cell.isValid() || cell.column() != column)
                    continue;
                if (cell.row() != row) {
                    spannedFromAbove = true;
                    continue;
                }
                const QRectF box = CellBox(cell);
                const QTextTableCellFormat cf = cell.format().toTableCellFormat();
                top = std::min(top, box.top() - cf.topPadding() * 15 - border);
                if (cell.rowSpan() == 1)
                    bottom = std::max(bottom, box.bottom() + cf.bottomPadding() * 15 + border);
            }
            if (top > 1e17)
                top = previousBottom;
            TUnit unit;
            unit.Top = std::max(previousBottom, std::min(top, previousBottom + border));
            unit.Bottom = std::max(bottom, unit.Top);
            unit.Table = table;
            unit.Row = row;
            unit.HeaderRows = format.headerRowCount();
            unit.HeadTop = frame.top();
            unit.MayBreakBefore = !spannedFromAbove;
            if (row == 0) {
                unit.Top = frame.top();
                unit.BreakBefore = BreakNext;
                BreakNext = false;
            }
            if (row == table->rows() - 1)
                unit.Bottom = std::max(unit.Bottom, frame.bottom());
            previousBottom = unit.Bottom;
            if (unit.Bottom - unit.Top > MaxWholeRow)
                SplitRow(table, row, unit);
            else
                Units.push_back(unit);
        }
    }

    // A row taller than a page: cut where no line of any of its cells is,
    // so that no text is lost beyond the foot of a page.
    void SplitRow(const QTextTable* table, int row, const TUnit& whole)
    {
        std::vector<std::pair<double, double>> lines;
        for (int column = 0; column < table->columns(); ++column) {
            const QTextTableCell cell = table->cellAt(row, column);
            if (!cell.isValid() || cell.column() != column || cell.row() != row)
                continue;
            const int last = cell.lastPosition();
            for (QTextBlock block = cell.firstCursorPosition().block(); block.isValid() && block.position() <= last;
                 block = block.next()) {
                const double top = Layout->blockBoundingRect(block).top();
                const QTextLayout* layout = block.layout();
                for (int i = 0; i < layout->lineCount(); ++i)
                    lines.emplace_back(top + layout->lineAt(i).y(),
                                       top + layout->lineAt(i).y() + layout->lineAt(i).height());
            }
        }
        std::sort(lines.begin(), lines.end());
        std::vector<std::pair<double, double>> merged;
        for (const auto& line : lines)
            if (!merged.empty() && line.first < merged.back().second - 0.5)
                merged.back().second = std::max(merged.back().second, line.second);
            else
                merged.push_back(line);
        TUnit piece = whole;
        for (std::size_t i = 0; i + 1 < merged.size(); ++i) {
            piece.Bottom = std::max(piece.Top, merged[i].second);
            Units.push_back(piece);
            piece = whole;
            piece.BreakBefore = false;
            piece.MayBreakBefore = true;
            piece.Top = merged[i].second;
        }
        piece.Bottom = whole.Bottom;
        Units.push_back(piece);
    }

    // A row the engine laid out: cut between its lines where it may be.
    void FlowRow(const TTableFlow::TRow& row, bool breakBefore)
    {
        const TTableFlow::TTable& table = Flow->Tables()[static_cast<std::size_t>(row.Table)];
        TUnit unit;
        unit.Top = row.Top;
        unit.Bottom = row.Top + row.Height;
        unit.Table = &table;
        unit.Row = row.Row;
        unit.HeaderRows = table.HeaderRows;
        unit.HeadTop = Flow->Rows()[static_cast<std::size_t>(table.FirstRow)].Top;
        unit.MayBreakBefore = !row.SpannedFromAbove;
        unit.BreakBefore = BreakNext || breakBefore;
        BreakNext = false;
        const bool cut = row.Lines.size() > 1 && ((!row.Keep && !row.Exact) || row.Height > MaxWholeRow);
        if (!cut) {
            Units.push_back(unit);
            return;
        }
        TUnit piece = unit;
        for (std::size_t i = 0; i + 1 < row.Lines.size(); ++i) {
            piece.Bottom = std::max(piece.Top, row.Top + row.Lines[i].second);
            Units.push_back(piece);
            piece = unit;
            piece.BreakBefore = false;
            piece.MayBreakBefore = true;
            piece.Top = row.Top + row.Lines[i].second;
        }
        piece.Bottom = unit.Bottom;
        Units.push_back(piece);
    }

    void Frame(QTextFrame* frame)
    {
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                if (const auto* table = qobject_cast<QTextTable*>(child)) {
                    Table(table);
                } else {
                    const QRectF box = Layout->frameBoundingRect(child);
                    TUnit unit;
                    unit.Top = box.top();
                    unit.Bottom = box.bottom();
                    unit.BreakBefore = BreakNext;
                    Units.push_back(unit);
                    BreakNext = false;
                }
            } else if (it.currentBlock().isValid()) {
                Block(it.currentBlock());
            }
        }
    }
};

QVariantList BordersOf(const QTextBlock& block)
{
    return block.isValid() ? block.blockFormat().property(kParagraphBordersProperty).toList() : QVariantList();
}

// A paragraph's borders; a run of paragraphs with the same borders is one box.
void DrawParagraphBorders(QPainter& painter, QAbstractTextDocumentLayout* layout, const QTextBlock& block,
                          double width, const QRectF& box)
{
    const QTextBlockFormat format = block.blockFormat();
    const QVariantList borders = BordersOf(block);
    const bool joinedAbove = BordersOf(block.previous()) == borders;
    const bool joinedBelow = BordersOf(block.next()) == borders;
    const double left = format.leftMargin() - 60;
    const double right = width - format.rightMargin() + 60;
    const double top = box.top() - 30;
    const double bottom = joinedBelow ? layout->blockBoundingRect(block.next()).top() - 30 : box.bottom() + 30;
    const QLineF sides[4] = {{left, top, right, top}, {left, top, left, bottom},
                             {left, bottom, right, bottom}, {right, top, right, bottom}};
    for (int side = 0; side < std::min<int>(4, static_cast<int>(borders.size())); ++side) {
        if ((side == 0 && joinedAbove) || (side == 2 && joinedBelow) || !borders[side].canConvert<QPen>())
            continue;
        painter.setPen(borders[side].value<QPen>());
        painter.drawLine(sides[side]);
    }
}

// The leader characters that fill a paragraph's tabs up to the stops that ask for them.
void DrawTabLeaders(QPainter& painter, const QTextDocument& doc, const QTextBlock& block, const QRectF& box)
{
    const QTextBlockFormat format = block.blockFormat();
    const QString chars = format.stringProperty(kTabLeadersProperty);
    const QList<QTextOption::Tab> tabs = format.tabPositions();
    const QString text = block.text();
    const QTextLayout* lines = block.layout();
    const QPointF origin = box.topLeft();
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('\t'))
            continue;
        const QTextLine line = lines->lineForTextPosition(i);
        if (!line.isValid())
            continue;
        const double x0 = line.cursorToX(i), x1 = line.cursorToX(i + 1);
        // The stop the tab reached: the first one at or after its end.
        qsizetype stop = -1;
        for (qsizetype t = 0; t < tabs.size(); ++t)
            if (tabs[t].position * 15 >= x1 - line.x() - 30) {
                stop = t;
                break;
            }
        if (stop < 0 || stop >= chars.size() || chars[stop] == QLatin1Char(' ') || x1 - x0 < 60)
            continue;
        const QTextCharFormat cf = block.charFormat();
        // Sized in twips, as the painter measures here, whatever its device.
        QFont font = block.begin().atEnd() ? doc.defaultFont() : block.begin().fragment().charFormat().font();
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pointSizeF() * 20))));
        painter.setFont(font);
        painter.setPen(cf.hasProperty(QTextFormat::ForegroundBrush) ? cf.foreground().color() : Qt::black);
        const QFontMetricsF metrics(font);
        const double step = std::max(1.0, metrics.horizontalAdvance(chars[stop]));
        const double baseline = origin.y() + line.y() + line.ascent();
        // Leader characters on a grid, as word processors align them.
        for (double x = std::ceil((origin.x() + x0 + step / 2) / step) * step; x + step <= origin.x() + x1; x += step)
            painter.drawText(QPointF(x, baseline), QString(chars[stop]));
    }
}

// What the layout does not draw of paragraphs between two heights of their
// document: borders (paragraphs with the same borders share one box) and
// the leaders that fill the room before a tab stop.
void DrawParagraphExtras(QPainter& painter, const QTextDocument& doc, double from, double to)
{
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    // Drawn for every page: the formats, far fewer than the paragraphs, tell
    // whether any paragraph has a border or leaders at all, and which.
    const QList<QTextFormat> formats = doc.allFormats();
    std::vector<bool> extras(static_cast<std::size_t>(formats.size()));
    bool any = false;
    for (qsizetype i = 0; i < formats.size(); ++i)
        if (formats[i].isBlockFormat() &&
            (formats[i].hasProperty(kParagraphBordersProperty) || formats[i].hasProperty(kTabLeadersProperty)))
            extras[static_cast<std::size_t>(i)] = any = true;
    if (!any)
        return;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const int index = block.blockFormatIndex();
        if (index < 0 || index >= formats.size() || !extras[static_cast<std::size_t>(index)])
            continue;
        const QTextBlockFormat format = block.blockFormat();
        const bool bordered = format.hasProperty(kParagraphBordersProperty);
        const bool leaders = format.hasProperty(kTabLeadersProperty);
        if (!bordered && !leaders)
            continue;
        const QRectF box = layout->blockBoundingRect(block);
        if (box.bottom() < from || box.top() > to)
            continue;
        if (bordered && !QTextCursor(block).currentTable())
            DrawParagraphBorders(painter, layout, block, doc.pageSize().width(), box);
        if (leaders)
            DrawTabLeaders(painter, doc, block, box);
    }
}

// The column's height of a main-text position: its line's middle, or its
// paragraph's top.
double MainY(const QTextDocument& doc, const TTableFlow* flow, int position, bool lineMiddle)
{
    if (flow)
        return flow->YOf(position, lineMiddle);
    const QTextBlock block = doc.findBlock(position);
    const QRectF box = doc.documentLayout()->blockBoundingRect(block);
    double y = box.top();
    if (!lineMiddle)
        return y;
    if (const QTextLayout* lines = block.layout())
        if (const QTextLine line = lines->lineForTextPosition(position - block.position()); line.isValid())
            y = lines->position().y() + line.y() + line.height() / 2;
    return y;
}

// The unit a main-text position falls in.
std::size_t UnitOf(const std::vector<TUnit>& units, const QTextDocument& doc, const TTableFlow* flow, int position)
{
    if (!doc.findBlock(position).isValid())
        return units.empty() ? 0 : units.size() - 1;
    const double y = MainY(doc, flow, position, true);
    const auto it = std::upper_bound(units.begin(), units.end(), y, [](double v, const TUnit& u) { return v < u.Top; });
    return it == units.begin() ? 0 : static_cast<std::size_t>(it - units.begin() - 1);
}

void DrawShape(QPainter& painter, const TPositionedShape& shape, const QRectF& box)
{
    painter.save();
    painter.setPen(shape.Outline.isValid() ? QPen(shape.Outline, std::max(1.0, shape.OutlineWidth)) : QPen(Qt::NoPen));
    painter.setBrush(shape.Fill.isValid() ? QBrush(shape.Fill) : QBrush(Qt::NoBrush));
    switch (shape.Shape) {
    case TPositionedShape::Rectangle:
    case TPositionedShape::TextBox:
        if (shape.Fill.isValid() || shape.Outline.isValid())
            painter.drawRect(box);
        break;
    case TPositionedShape::Ellipse:
        painter.drawEllipse(box);
        break;
    case TPositionedShape::Line:
        if (shape.FlipLine)
            painter.drawLine(box.bottomLeft(), box.topRight());
        else
            painter.drawLine(box.topLeft(), box.bottomRight());
        break;
    }
    if (shape.Text) {
        // A box's text is not cut at its height: a frame grows with its text.
        painter.translate(box.topLeft());
        shape.Text->drawContents(&painter);
    }
    painter.restore();
}

// A header or footer part on its page.
void DrawPart(QPainter& painter, const TEnginePart& part, const TPageSetup& ps, double width, int page, int pages,
              double top, double height)
{
    if (part.IsEmpty() || height <= 0)
        return;
    painter.save();
    painter.translate(ps.MarginL, top);
    const std::unique_ptr<QTextDocument> paged = WithPageValues(part, width, page, pages);
    const QTextDocument* doc = paged ? paged.get() : part.Doc.get();
    const_cast<QTextDocument*>(doc)->drawContents(&painter,
                                                  QRectF(-ps.MarginL, 0.5, ps.PageWidth, std::max(0.0, height - 1.0)));
    DrawParagraphExtras(painter, *doc, 0, height);
    painter.restore();
}

// A range of the main text's column drawn at a height of the page. The
// layout keeps line positions in 1/64 units, so the range is narrowed by
// a few twips: a line of the page before or after is then not drawn (not
// even clipped, which would leave its text in a PDF).
void DrawBand(QPainter& painter, QTextDocument& main, const TTableFlow* flow, const TPageSetup& ps, double from,
              double to, double at)
{
    if (to <= from + 8)
        return;
    painter.save();
    painter.translate(ps.MarginL, at - from);
    main.drawContents(&painter, QRectF(-ps.MarginL, from + 3, ps.PageWidth, to - from - 6));
    if (flow)
        flow->Draw(painter, from, to);
    // Borders stand a little outside their paragraphs' text.
    painter.setClipRect(QRectF(-ps.MarginL, from - 60, ps.PageWidth, to - from + 120));
    DrawParagraphExtras(painter, main, from + 3, to - 3);
    painter.restore();
}

// Where a positioned object stands on a page, if it is on it: objects of
// headers and footers on the pages that show their part, unanchored ones on
// the first page, anchored ones with their paragraph.
struct TObjectPlace {
    const QTextDocument& Main;
    const TTableFlow* Flow;
    int Page;
    int ShownParts;
    double BandTop, BandBottom, BodyTop, RepeatHeight;

    std::optional<double> At(int anchor, double y, bool everyPage, int parts) const
    {
        if (everyPage)
            return parts == 0 || (parts & ShownParts) ? std::optional<double>(y) : std::nullopt;
        if (anchor < 0)
            return Page == 1 ? std::optional<double>(y) : std::nullopt;
        const double top = MainY(Main, Flow, anchor, false);
        if (top < BandTop - 0.5 || top >= BandBottom - 0.5)
            return std::nullopt;
        return BodyTop + RepeatHeight + (top - BandTop) + y;
    }
};

void DrawObjects(QPainter& painter, const std::vector<TPositionedShape>& shapes,
                 const std::vector<TPositionedImage>& images, const TObjectPlace& place, bool behind)
{
    for (const TPositionedShape& shape : shapes)
        if (shape.BehindText == behind)
            if (const auto y = place.At(shape.AnchorPosition, shape.Box.top(), shape.EveryPage, shape.Parts))
                DrawShape(painter, shape, QRectF(shape.Box.left(), *y, shape.Box.width(), shape.Box.height()));
    for (const TPositionedImage& image : images)
        if (image.BehindText == behind)
            if (const auto y = place.At(image.AnchorPosition, image.PosY, image.EveryPage, image.Parts))
                painter.drawImage(QRectF(image.PosX, *y, image.WidthTwips(), image.HeightTwips()), image.Image);
}

// The first page's part, the left pages', else the plain one.
int PartOfPage(const TPageSetup& setup, int page, int first, int left, int plain)
{
    if (page == 1 && setup.TitlePage)
        return first;
    if (page % 2 == 0 && setup.FacingPages)
        return left;
    return plain;
}

}  // namespace

int DocumentEngine::HeaderOf(int page) const
{
    return PartOfPage(FSetup, page, HeaderFirstPart, HeaderLeftPart, HeaderPart);
}

int DocumentEngine::FooterOf(int page) const
{
    return PartOfPage(FSetup, page, FooterFirstPart, FooterLeftPart, FooterPart);
}

int DocumentEngine::SectionStart(int section) const
{
    if (section <= 0)
        return 0;
    return section <= static_cast<int>(FSections.size()) ? FSections[static_cast<std::size_t>(section - 1)].Start.position()
                                                        : -1;
}

const TPageSetup& DocumentEngine::SectionSetup(int section) const
{
    return section <= 0 || section > static_cast<int>(FSections.size())
               ? FSetup
               : FSections[static_cast<std::size_t>(section - 1)].Setup;
}

const TPageSetup& DocumentEngine::PageSetupOf(int page)
{
    UpdateLayout();
    if (page < 1 || page > static_cast<int>(FPages.size()))
        return FSetup;
    return SectionSetup(FPages[static_cast<std::size_t>(page - 1)].Section);
}

TPageGeometry DocumentEngine::PageGeometry(int page)
{
    UpdateLayout();
    return GeometryFor(PageSetupOf(page), page);
}

TPageGeometry DocumentEngine::GeometryFor(const TPageSetup& s, int page)
{
    TPageGeometry g;
    // Headers, footers and footnotes span their section's text width (their
    // heights are measured at the first section's).
    g.Width = std::max(720, s.PageWidth - s.MarginL - s.MarginR);
    g.HeaderHeight = PartHeight(&PartData(HeaderOf(page)));
    g.FooterHeight = PartHeight(&PartData(FooterOf(page)));
    // A header distance from the file puts the header there and the body at
    // the margin below it; otherwise the header sits at the top margin.
    g.HeaderTop = s.HeaderY >= 0 ? s.HeaderY : s.MarginT;
    g.BodyTop = s.HeaderY >= 0 ? std::max<double>(s.MarginT, g.HeaderTop + g.HeaderHeight) : s.MarginT + g.HeaderHeight;
    const double footerBottom = s.FooterY >= 0 ? s.PageHeight - s.FooterY : s.PageHeight - s.MarginB;
    g.FooterTop = footerBottom - g.FooterHeight;
    const double bodyBottom = s.FooterY >= 0 ? std::min<double>(s.PageHeight - s.MarginB, g.FooterTop) : g.FooterTop;
    g.BodyHeight = std::max(kMinBodyHeight, bodyBottom - g.BodyTop);
    return g;
}

const TPageGeometry& DocumentEngine::Geometry()
{
    UpdateLayout();
    return FGeometry;
}

void DocumentEngine::UpdateLayout()
{
    if (!FLayoutDirty)
        return;
    FLayoutDirty = false;
    const double width = std::max(720, FSetup.PageWidth - FSetup.MarginL - FSetup.MarginR);
    for (int part : {HeaderPart, HeaderFirstPart, HeaderLeftPart, FooterPart, FooterFirstPart, FooterLeftPart,
                     MainPart}) {
        TEnginePart& p = const_cast<TEnginePart&>(PartData(part));
        p.EnsureLayout();
        const double columnWidth = part == MainPart ? FitColumnWidths() : width;
        if (part == MainPart) {
            // The cells are laid out from the main text, so they are measured first.
            MatchWordProcessorWidths(*p.Doc);
            FTableFlow = TTableFlow::Make(p, columnWidth);
            if (FTableFlow) {
                LayOutAsColumn(FTableFlow->Doc(), columnWidth);
                continue;
            }
        }
        LayOutAsColumn(*p.Doc, columnWidth);  // pages are cut below
        FitRowHeights(*p.Doc);
    }
    for (TFootnote& note : FFootnotes) {
        note.Body->EnsureLayout();
        LayOutAsColumn(*note.Body->Doc, width);
    }
    for (TPositionedShape& shape : FShapes)
        if (shape.Text) {
            PrepareLayout(*shape.Text);
            LayOutAsColumn(*shape.Text, std::max(1.0, shape.Box.width()));
        }
    Paginate();
    FGeometry = GeometryFor(PageSetupOf(1), 1);
}

double DocumentEngine::FitColumnWidths()
{
    double width = ColumnWidth(FSetup);
    for (const TSection& section : FSections)
        width = std::max(width, ColumnWidth(section.Setup));
    // A paragraph of a narrower section gets the difference as room beside
    // its right indent. Table cells keep their widths.
    QTextDocument& doc = *FMain->Doc;
    QTextCursor cursor(&doc);
    bool changing = false;
    std::size_t next = 0;
    double room = width - ColumnWidth(FSetup);
    for (auto it = doc.rootFrame()->begin(); !it.atEnd(); ++it) {
        const QTextBlock block = it.currentBlock();
        if (!block.isValid())
            continue;
        for (; next < FSections.size() && FSections[next].Start.position() <= block.position(); ++next)
            room = width - ColumnWidth(FSections[next].Setup);
        QTextBlockFormat format = block.blockFormat();
        const double had = format.doubleProperty(kColumnRoomProperty);
        if (std::abs(had - room) < 0.01)
            continue;
        if (!changing)
            doc.setPageSize(QSizeF(0, 0));  // laid out once, after the last change
        changing = true;
        format.setRightMargin(format.rightMargin() - had + room);
        if (room > 0)
            format.setProperty(kColumnRoomProperty, room);
        else
            format.clearProperty(kColumnRoomProperty);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
    return width;
}

namespace {

// What pages are cut between: the column's paragraphs, lines and table rows
// in layout order, laid out first.
std::vector<TUnit> UnitsOf(QTextDocument& column, TTableFlow* flow, double maxWholeRow)
{
    QAbstractTextDocumentLayout* layout = column.documentLayout();
    (void)layout->documentSize();  // the whole layout at once; asked block by block it is redone each time
    if (flow)
        flow->Place();
    TCollector collector {layout, {}};
    collector.MaxWholeRow = maxWholeRow;
    collector.Flow = flow;
    collector.Frame(column.rootFrame());
    std::vector<TUnit> units = std::move(collector.Units);
    // The layout puts an empty paragraph next to a table inside the table's
    // rectangle: no unit starts above the end of the one before.
    for (std::size_t i = 1; i < units.size(); ++i) {
        units[i].Top = std::max(units[i].Top, units[i - 1].Bottom);
        units[i].Bottom = std::max(units[i].Bottom, units[i].Top);
    }
    return units;
}

// The header rows a table cut before this unit shows again on the new page:
// from their top down to the first row after them (a row cut between pages
// has more than one unit). None where the cut is not in a table's body.
std::optional<std::pair<double, double>> RepeatedRows(const TUnit& unit, const std::vector<TUnit>& units)
{
    if (!unit.Table || unit.Row < unit.HeaderRows || unit.HeaderRows <= 0)
        return std::nullopt;
    for (const TUnit& u : units)
        if (u.Table == unit.Table && u.Row == unit.HeaderRows)
            return std::make_pair(unit.HeadTop, u.Top);
    return std::make_pair(unit.HeadTop, unit.HeadTop);
}

}  // namespace

void DocumentEngine::Paginate()
{
    QTextDocument& column = FTableFlow ? FTableFlow->Doc() : *FMain->Doc;
    std::vector<TUnit> units = UnitsOf(column, FTableFlow.get(), GeometryFor(FSetup, 1).BodyHeight * 0.8);
    for (std::size_t i = 0; i < FFootnotes.size(); ++i)
        if (!units.empty())
            units[UnitOf(units, *FMain->Doc, FTableFlow.get(), FFootnotes[i].Anchor.position())].Footnotes.push_back(
                static_cast<int>(i));

    // The section each unit is in, from the layout height of the sections' starts.
    std::vector<double> sectionTops;
    for (const TSection& section : FSections)
        sectionTops.push_back(MainY(*FMain->Doc, FTableFlow.get(), section.Start.position(), false));
    auto sectionOf = [&](const TUnit& unit) {
        int section = 0;
        for (std::size_t i = 0; i < sectionTops.size(); ++i)
            if (unit.Top >= sectionTops[i] - 0.5)
                section = static_cast<int>(i) + 1;
        return section;
    };

    FPages.clear();
    TPageBand band;
    band.Section = units.empty() ? 0 : sectionOf(units.front());
    // The first page keeps the first paragraph's space before it, as word
    // processors do (the column's layout drops it).
    band.Top = units.empty() ? 0 : units.front().Top - units.front().SpaceAbove;
    double available = GeometryFor(SectionSetup(band.Section), 1).BodyHeight;
    bool empty = true;
    double columnTop = band.Top;  // where the page's current column starts
    auto repeatHeight = [&] { return band.RepeatBottom - band.RepeatTop; };
    auto noteHeight = [&](const TUnit& unit, bool first) {
        double h = 0;
        for (int n : unit.Footnotes)
            h += FFootnotes[static_cast<std::size_t>(n)].Body->Doc->documentLayout()->documentSize().height();
        return h > 0 && first ? h + kFootnoteGap : h;
    };
    for (const TUnit& unit : units) {
        const double notes = noteHeight(unit, band.Footnotes.empty());
        const bool overflow =
            unit.Bottom - columnTop + repeatHeight() + band.FootnoteHeight + notes > available + 0.5;
        const int columns = SectionSetup(band.Section).Columns;
        if (!empty && unit.MayBreakBefore && !unit.BreakBefore && (unit.ColumnBreakBefore || overflow) &&
            static_cast<int>(band.Columns.size()) + 1 < columns) {
            // The next column of the same page.
            (band.Columns.empty() ? band.Bottom : band.Columns.back().second) = unit.Top;
            band.Columns.emplace_back(unit.Top, unit.Top);
            columnTop = unit.Top;
        } else if (!empty && unit.MayBreakBefore && (unit.BreakBefore || unit.ColumnBreakBefore || overflow)) {
            (band.Columns.empty() ? band.Bottom : band.Columns.back().second) = unit.Top;
            FPages.push_back(band);
            band = TPageBand {};
            band.Section = sectionOf(unit);
            band.Top = unit.BreakBefore ? std::max(FPages.back().Top, unit.Top - unit.SpaceAbove) : unit.Top;
            columnTop = band.Top;
            if (const auto repeated = RepeatedRows(unit, units))
                std::tie(band.RepeatTop, band.RepeatBottom) = *repeated;
            available = GeometryFor(SectionSetup(band.Section), static_cast<int>(FPages.size()) + 1).BodyHeight;
        }
        empty = false;
        const double added = noteHeight(unit, band.Footnotes.empty());
        band.FootnoteHeight += added;
        band.Footnotes.insert(band.Footnotes.end(), unit.Footnotes.begin(), unit.Footnotes.end());
    }
    const double end = std::max(band.Top, column.documentLayout()->documentSize().height()) + 1;
    (band.Columns.empty() ? band.Bottom : band.Columns.back().second) = end;
    FPages.push_back(band);
}

int DocumentEngine::CurrentPages()
{
    UpdateLayout();
    return std::max(1, static_cast<int>(FPages.size()));
}

void DocumentEngine::DrawPage(QPainter& painter, int page)
{
    UpdateLayout();
    page = std::clamp(page, 1, CurrentPages());
    const TPageGeometry g = PageGeometry(page);
    const TPageSetup ps = PageSetupOf(page);
    const TPageBand& band = FPages[static_cast<std::size_t>(page - 1)];
    const int pages = CurrentPages();
    painter.save();
    const QPaintDevice* device = painter.device();
    painter.scale(device->logicalDpiX() / 1440.0, device->logicalDpiY() / 1440.0);

    QTextDocument& column = FTableFlow ? FTableFlow->Doc() : *FMain->Doc;
    const TObjectPlace place {*FMain->Doc,  FTableFlow.get(), page, HeaderOf(page) | FooterOf(page),
                              band.Top,     band.Bottom,      g.BodyTop, band.RepeatBottom - band.RepeatTop};
    DrawObjects(painter, FShapes, FImages, place, true);
    DrawPart(painter, PartData(HeaderOf(page)), ps, g.Width, page, pages, g.HeaderTop, g.HeaderHeight);
    double y = g.BodyTop;
    if (band.RepeatBottom > band.RepeatTop) {
        DrawBand(painter, column, FTableFlow.get(), ps, band.RepeatTop, band.RepeatBottom, y);
        y += band.RepeatBottom - band.RepeatTop;
    }
    DrawBand(painter, column, FTableFlow.get(), ps, band.Top, std::min(band.Bottom, band.Top + g.BodyHeight), y);
    TPageSetup columnSetup = ps;
    for (const auto& [top, bottom] : band.Columns) {
        columnSetup.MarginL += static_cast<int>(std::lround(ColumnWidth(ps) + ps.ColumnGap));
        DrawBand(painter, column, FTableFlow.get(), columnSetup, top, std::min(bottom, top + g.BodyHeight), g.BodyTop);
    }
    if (!band.Footnotes.empty()) {
        double noteTop = g.BodyTop + g.BodyHeight - band.FootnoteHeight + kFootnoteGap;
        painter.save();
        painter.setPen(QPen(Qt::black, 10));
        painter.drawLine(QPointF(ps.MarginL, noteTop - kFootnoteGap / 2),
                         QPointF(ps.MarginL + g.Width / 3, noteTop - kFootnoteGap / 2));
        painter.restore();
        for (int n : band.Footnotes) {
            const TEnginePart& note = *FFootnotes[static_cast<std::size_t>(n)].Body;
            const double h = note.Doc->documentLayout()->documentSize().height();
            DrawPart(painter, note, ps, g.Width, page, pages, noteTop, h + 1);
            noteTop += h;
        }
    }
    DrawPart(painter, PartData(FooterOf(page)), ps, g.Width, page, pages, g.FooterTop, g.FooterHeight);
    DrawObjects(painter, FShapes, FImages, place, false);
    painter.restore();
}
