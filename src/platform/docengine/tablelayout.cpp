#include "platform/docengine/tablelayout.h"

#include "platform/docengine/enginepart.h"
#include "platform/docengine/picturehandler.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

// The layout's table measures are 96-dpi pixels; the engine's layout unit is the twip.
constexpr double kPixel = 15;

TTableFlow::TEdge EdgeOf(const QTextTableCellFormat& f, QTextFormat::Property width,
                         QTextFrameFormat::BorderStyle style, const QBrush& brush)
{
    TTableFlow::TEdge edge;
    if (!f.hasProperty(width) || style == QTextFrameFormat::BorderStyle_None)
        return edge;
    edge.Width = f.doubleProperty(width) * kPixel;
    edge.Brush = brush.style() == Qt::NoBrush ? QBrush(Qt::black) : brush;
    edge.Double = style == QTextFrameFormat::BorderStyle_Double;
    return edge;
}

}  // namespace

TTableFlow::~TTableFlow() = default;

namespace {

// Tables of their own at the top of the main text; a table in a table is
// left to Qt's layout.
bool OnlyFlatTables(const QList<QTextFrame*>& children)
{
    for (QTextFrame* child : children) {
        const auto* table = qobject_cast<QTextTable*>(child);
        if (!table || !table->childFrames().isEmpty())
            return false;
    }
    return true;
}

// The document the flow is laid out in, with the main text's fonts,
// options and pictures.
std::unique_ptr<QTextDocument> FlowDocument(const TEnginePart& main)
{
    const QTextDocument& src = *main.Doc;
    auto doc = std::make_unique<QTextDocument>();
    doc->setUndoRedoEnabled(false);
    doc->setDocumentMargin(0);
    doc->setDefaultFont(src.defaultFont());
    doc->setDefaultTextOption(src.defaultTextOption());
    for (const auto& [name, picture] : main.Pictures) {
        const QUrl url(name);
        doc->addResource(QTextDocument::ImageResource, url, src.resource(QTextDocument::ImageResource, url));
        if (picture.Format == "wmf" || picture.Format == "emf")
            AddMetafileResource(*doc, name, picture.Encoded);
    }
    PrepareLayout(*doc);
    return doc;
}

}  // namespace

std::unique_ptr<TTableFlow> TTableFlow::Make(TEnginePart& main, double width)
{
    QTextDocument& src = *main.Doc;
    const QList<QTextFrame*> children = src.rootFrame()->childFrames();
    if (children.isEmpty() || !OnlyFlatTables(children))
        return nullptr;
    std::unique_ptr<TTableFlow> flow(new TTableFlow);
    flow->FMain = &src;
    flow->FWidth = width;
    main.EnsureLayout();
    // Qt lays the main text out no more: without a page size its layout waits.
    if (!src.pageSize().isNull())
        src.setPageSize(QSizeF(0, 0));
    for (QTextFrame* child : children)
        if (!flow->LayOutTable(static_cast<QTextTable*>(child), main))
            return nullptr;
    flow->FDoc = FlowDocument(main);
    flow->WriteFlow(src);
    return flow;
}

// The main text's paragraphs copied into the flow, each table row a
// paragraph as tall as the row.
void TTableFlow::WriteFlow(const QTextDocument& src)
{
    QTextCursor out(FDoc.get());
    const TEditBlock edit(FDoc.get());
    bool first = true;
    auto open = [&](const QTextBlockFormat& bf, const QTextCharFormat& cf) {
        if (first) {
            out.setBlockFormat(bf);
            out.setBlockCharFormat(cf);
            first = false;
        } else {
            out.insertBlock(bf, cf);
        }
        return out.block().blockNumber();
    };
    // The reader puts a table between two empty paragraphs that stand for
    // nothing (Qt gives them no height): they are left out, and their
    // positions count as the next paragraph's.
    std::vector<int> skipped;
    bool carryBreak = false;
    bool carryColumnBreak = false;
    bool afterTable = false;
    auto settle = [&](int number) {
        for (int position : skipped)
            FBlockOf[position] = number * 2 + 1;
        skipped.clear();
    };
    QTextCharFormat rowChars;
    rowChars.setFontPointSize(1);
    for (auto it = src.rootFrame()->begin(); !it.atEnd(); ++it) {
        if (QTextFrame* frame = it.currentFrame()) {
            const TTable& table = FTables[static_cast<std::size_t>(FTableIndex.at(static_cast<QTextTable*>(frame)))];
            for (int r = 0; r < table.RowCount; ++r) {
                const TRow& row = FRows[static_cast<std::size_t>(table.FirstRow + r)];
                QTextBlockFormat rf;
                rf.setLineHeight(row.Height / kPixel, QTextBlockFormat::FixedHeight);
                rf.setProperty(kFlowRowProperty, table.FirstRow + r);
                if (r == 0 && carryBreak)
                    rf.setProperty(kPageBreakBeforeProperty, true);
                if (r == 0 && carryColumnBreak)
                    rf.setProperty(kColumnBreakBeforeProperty, true);
                const int number = open(rf, rowChars);
                FRowBlocks.push_back(number);
                if (r == 0)
                    settle(number);
            }
            carryBreak = carryColumnBreak = false;
            afterTable = true;
            continue;
        }
        const QTextBlock block = it.currentBlock();
        auto next = it;
        ++next;
        if (block.length() == 1 && (afterTable || (!next.atEnd() && next.currentFrame()))) {
            skipped.push_back(block.position());
            carryBreak = carryBreak || block.blockFormat().boolProperty(kPageBreakBeforeProperty);
            carryColumnBreak = carryColumnBreak || block.blockFormat().boolProperty(kColumnBreakBeforeProperty);
            afterTable = false;
            continue;
        }
        afterTable = false;
        QTextBlockFormat bf = block.blockFormat();
        if (carryBreak)
            bf.setProperty(kPageBreakBeforeProperty, true);
        if (carryColumnBreak)
            bf.setProperty(kColumnBreakBeforeProperty, true);
        carryBreak = carryColumnBreak = false;
        const int number = open(bf, block.charFormat());
        settle(number);
        FBlockOf[block.position()] = number * 2;
        for (auto f = block.begin(); !f.atEnd(); ++f)
            out.insertText(f.fragment().text(), f.fragment().charFormat());
    }
    settle(out.block().blockNumber());
}

namespace {

// A merged cell taller than its rows makes the last of them taller.
void GrowForMergedCells(const std::vector<TTableFlow::TCell>& cells, const std::vector<int>& spanning,
                        std::vector<TTableFlow::TRow>& rows)
{
    const int rowCount = static_cast<int>(rows.size());
    for (int id : spanning) {
        const TTableFlow::TCell& cell = cells[static_cast<std::size_t>(id)];
        const int last = std::min(cell.Row + cell.RowSpan, rowCount) - 1;
        double have = 0;
        for (int r = cell.Row; r <= last; ++r)
            have += rows[static_cast<std::size_t>(r)].Height;
        const double need = cell.Edges[0].Width + cell.PadTop + cell.Height + cell.PadBottom + cell.Edges[2].Width;
        if (need > have)
            rows[static_cast<std::size_t>(last)].Height += need - have;
        for (int r = cell.Row; r <= last; ++r)
            rows[static_cast<std::size_t>(r)].Keep = true;  // a merged cell is not cut
    }
}

// The row's text lines, where it may be cut between pages.
void FindRowLines(const std::vector<TTableFlow::TCell>& cells, TTableFlow::TRow& row)
{
    std::vector<std::pair<double, double>> lines;
    for (int id : row.Cells) {
        const TTableFlow::TCell& cell = cells[static_cast<std::size_t>(id)];
        if (cell.RowSpan != 1)
            continue;
        const double inner = row.Height - cell.Edges[0].Width - cell.Edges[2].Width - cell.PadTop - cell.PadBottom;
        const double shift = std::max(0.0, cell.VAlign == 1 ? (inner - cell.Height) / 2
                                            : cell.VAlign == 2 ? inner - cell.Height
                                                               : 0.0);
        const double top = cell.Edges[0].Width + cell.PadTop + shift;
        for (const auto& [block, y] : cell.Blocks) {
            const QTextLayout* layout = block.layout();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                lines.emplace_back(top + y + line.y(), top + y + line.y() + line.height());
            }
        }
    }
    std::sort(lines.begin(), lines.end());
    for (const auto& line : lines)
        if (!row.Lines.empty() && line.first < row.Lines.back().second - 0.5)
            row.Lines.back().second = std::max(row.Lines.back().second, line.second);
        else
            row.Lines.push_back(line);
}

}  // namespace

bool TTableFlow::LayOutTable(QTextTable* table, const TEnginePart& main)
{
    const QTextTableFormat format = table->format();
    const int index = static_cast<int>(FTables.size());
    TTable t;
    t.Table = table;
    t.FirstRow = static_cast<int>(FRows.size());
    t.RowCount = table->rows();
    t.HeaderRows = std::min(format.headerRowCount(), t.RowCount);
    std::vector<double> columns {0};
    const QList<QTextLength> widths = format.columnWidthConstraints();
    for (int c = 0; c < table->columns(); ++c)
        columns.push_back(columns.back() + (c < widths.size() ? widths[c].rawValue() * kPixel : 1440));
    const std::size_t firstCell = FCells.size();
    std::vector<TRow> rows;
    std::vector<int> spanning;
    for (int pass = 0;; ++pass) {
        rows.assign(static_cast<std::size_t>(t.RowCount), TRow {});
        spanning.clear();
        FCells.resize(firstCell);
        for (int r = 0; r < t.RowCount; ++r) {
            TRow& row = rows[static_cast<std::size_t>(r)];
            row.Table = index;
            row.Row = r;
            if (!LayOutRow(table, row, columns, spanning, main))
                return false;
        }
        // An auto-fitted table's columns widen to their longest word once.
        if (pass > 0 || !format.boolProperty(kTableAutoFitProperty) || !Widen(columns, firstCell))
            break;
    }
    // A centred or right-aligned row stands between the margins, whatever its left indent.
    double left = format.leftMargin() * kPixel;
    const double total = columns.back();
    if (format.alignment() & Qt::AlignHCenter)
        left = (FWidth - total) / 2;
    else if (format.alignment() & Qt::AlignRight)
        left = FWidth - total;
    GrowForMergedCells(FCells, spanning, rows);
    for (TRow& row : rows)
        FindRowLines(FCells, row);
    FRows.insert(FRows.end(), rows.begin(), rows.end());
    FTableLeft.push_back(left);
    FColumns.push_back(std::move(columns));
    FTableIndex[table] = index;
    FTables.push_back(t);
    return true;
}

// The cells that start in a row laid out, and the row's height from those
// that end in it; false where Qt's layout is needed.
bool TTableFlow::LayOutRow(QTextTable* table, TRow& row, const std::vector<double>& columns,
                           std::vector<int>& spanning, const TEnginePart& main)
{
    const bool autoFit = table->format().boolProperty(kTableAutoFitProperty);
    const int r = row.Row;
    double height = 0;
    for (int c = 0; c < table->columns(); ++c) {
        // Where a cell starts, told by its neighbours in the grid: asking a
        // cell for its row and column searches the table.
        const QTextTableCell cell = table->cellAt(r, c);
        if (!cell.isValid() || (c > 0 && table->cellAt(r, c - 1) == cell))
            continue;
        if (r > 0 && table->cellAt(r - 1, c) == cell) {
            row.SpannedFromAbove = true;
            continue;
        }
        // The cell's format once: each span asked of the cell reads it again.
        const QTextTableCellFormat f = cell.format().toTableCellFormat();
        TCell tc;
        tc.Row = r;
        tc.Column = c;
        tc.RowSpan = std::max(1, f.tableCellRowSpan());
        tc.ColumnSpan = std::max(1, f.tableCellColumnSpan());
        tc.Left = columns[static_cast<std::size_t>(c)];
        tc.Right = columns[static_cast<std::size_t>(std::min(c + tc.ColumnSpan, table->columns()))];
        const double need = LayOutCell(tc, cell, f, main, autoFit);
        if (need < 0)
            return false;
        if (f.hasProperty(kRowKeepProperty))
            row.Keep = true;
        const int given = f.hasProperty(kRowHeightProperty) ? f.intProperty(kRowHeightProperty) : 0;
        const double borders = tc.Edges[0].Width + tc.Edges[2].Width;
        double cellHeight = need;
        if (given > 0) {
            cellHeight = std::max(need, std::min(given, 31680) + borders);
        } else if (given < 0) {
            cellHeight = std::min(-given, 31680) + borders;
            row.Exact = true;
        }
        const int id = static_cast<int>(FCells.size());
        if (tc.RowSpan == 1)
            height = std::max(height, cellHeight);
        else
            spanning.push_back(id);
        row.Cells.push_back(id);
        FCells.push_back(std::move(tc));
    }
    row.Height = std::max(1.0, height);
    return true;
}

bool TTableFlow::Widen(std::vector<double>& columns, std::size_t firstCell) const
{
    const std::size_t count = columns.size() - 1;
    std::vector<double> need(count, 0);
    for (std::size_t i = firstCell; i < FCells.size(); ++i) {
        const TCell& cell = FCells[i];
        if (cell.ColumnSpan != 1)
            continue;
        const double insets = cell.Right - cell.Left - cell.ContentWidth;
        for (const auto& [block, y] : cell.Blocks) {
            const QTextBlockFormat bf = block.blockFormat();
            const double word = block.layout()->minimumWidth() + bf.leftMargin() + bf.rightMargin() +
                                std::max(0.0, bf.textIndent());
            need[static_cast<std::size_t>(cell.Column)] =
                std::max(need[static_cast<std::size_t>(cell.Column)], word + insets);
        }
    }
    double extra = 0, slack = 0;
    for (std::size_t c = 0; c < count; ++c) {
        const double width = columns[c + 1] - columns[c];
        extra += std::max(0.0, need[c] - width);
        slack += std::max(0.0, width - need[c]);
    }
    if (extra < 1)
        return false;
    // The room comes from the columns that have some to spare, as far as they have.
    const double take = slack > 0 ? std::min(extra, slack) / slack : 0.0;
    std::vector<double> widths(count);
    for (std::size_t c = 0; c < count; ++c) {
        const double width = columns[c + 1] - columns[c];
        widths[c] = need[c] > width ? need[c] : width - (width - need[c]) * take;
    }
    for (std::size_t c = 0; c < count; ++c)
        columns[c + 1] = columns[c] + widths[c];
    return true;
}

// Lays a cell's paragraphs out at its width, as Qt's layout lays out a
// paragraph; returns the height the cell needs, or -1 for a cell this layout
// leaves to Qt.
double TTableFlow::LayOutCell(TCell& cell, const QTextTableCell& source, const QTextTableCellFormat& f,
                              const TEnginePart& main, bool wholeWords)
{
    cell.Edges[0] = EdgeOf(f, QTextFormat::TableCellTopBorder, f.topBorderStyle(), f.topBorderBrush());
    cell.Edges[1] = EdgeOf(f, QTextFormat::TableCellLeftBorder, f.leftBorderStyle(), f.leftBorderBrush());
    cell.Edges[2] = EdgeOf(f, QTextFormat::TableCellBottomBorder, f.bottomBorderStyle(), f.bottomBorderBrush());
    cell.Edges[3] = EdgeOf(f, QTextFormat::TableCellRightBorder, f.rightBorderStyle(), f.rightBorderBrush());
    cell.PadTop = f.topPadding() * kPixel;
    cell.PadBottom = f.bottomPadding() * kPixel;
    cell.ContentLeft = cell.Left + cell.Edges[1].Width + f.leftPadding() * kPixel;
    cell.ContentWidth = std::max(1.0, cell.Right - cell.ContentLeft - cell.Edges[3].Width - f.rightPadding() * kPixel);
    cell.Background = f.background();
    const auto align = f.verticalAlignment();
    cell.VAlign = align == QTextCharFormat::AlignMiddle ? 1 : align == QTextCharFormat::AlignBottom ? 2 : 0;

    const QTextDocument& doc = *main.Doc;
    const double indentWidth = doc.indentWidth() * kPixel;
    double y = 0;
    QTextBlockFormat previous;
    bool havePrevious = false;
    const int last = source.lastPosition();
    // By position: a cursor would shape the block to find its caret's x.
    for (QTextBlock block = doc.findBlock(source.firstPosition()); block.isValid() && block.position() <= last;
         block = block.next()) {
        // Lists and tab leaders are drawn by what draws the main text's paragraphs.
        if (block.textList() || block.blockFormat().hasProperty(kTabLeadersProperty))
            return -1;
        if (!block.isVisible())
            continue;
        const QTextBlockFormat bf = block.blockFormat();
        // Word processors keep the first paragraph's space before and the
        // last one's space after inside the cell.
        if (havePrevious)
            y += std::max(0.0, std::max(bf.topMargin(), previous.bottomMargin())) * kPixel;
        else
            y += std::max(0, bf.intProperty(kSpaceBeforeTwips));
        QTextLayout* layout = block.layout();
        QTextOption option = doc.defaultTextOption();
        option.setTextDirection(block.textDirection());
        option.setTabs(bf.tabPositions());
        Qt::Alignment align = bf.hasProperty(QTextFormat::BlockAlignment) ? bf.alignment() : option.alignment();
        if (!(align & Qt::AlignHorizontal_Mask))
            align |= Qt::AlignLeft;
        if (!(align & Qt::AlignAbsolute) && (align & (Qt::AlignLeft | Qt::AlignRight))) {
            if (block.textDirection() == Qt::RightToLeft)
                align ^= (Qt::AlignLeft | Qt::AlignRight);
            align |= Qt::AlignAbsolute;
        }
        option.setAlignment(align);
        if (bf.nonBreakableLines())
            option.setWrapMode(QTextOption::ManualWrap);
        else if (wholeWords)
            option.setWrapMode(QTextOption::WordWrap);  // the longest word gives the column's width
        layout->setTextOption(option);
        layout->setCacheEnabled(true);
        const double leftMargin = bf.leftMargin() + bf.indent() * indentWidth;
        const double right = cell.ContentWidth - bf.rightMargin();
        double by = 0;
        bool firstLine = true;
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLeadingIncluded(true);
            const double left = leftMargin + (firstLine ? bf.textIndent() : 0.0);
            firstLine = false;
            line.setLineWidth(std::max(0.0, right - left));
            const double natural = line.height();
            const double height = bf.lineHeight(natural, kPixel);
            double adjust = 0;
            if (bf.lineHeightType() == QTextBlockFormat::FixedHeight)
                adjust = line.ascent() + std::max(line.leading(), 0.0) - height * 4 / 5;
            else if (bf.lineHeightType() == QTextBlockFormat::MinimumHeight)
                adjust = natural - height;
            line.setPosition(QPointF(left, by - adjust));
            by += height;
        }
        layout->endLayout();
        cell.Blocks.emplace_back(block, y);
        y += by;
        previous = bf;
        havePrevious = true;
    }
    if (havePrevious)
        y += std::max(0, previous.intProperty(kSpaceAfterTwips));
    cell.Height = y;
    return cell.Edges[0].Width + cell.PadTop + y + cell.PadBottom + cell.Edges[2].Width;
}

void TTableFlow::Place()
{
    QAbstractTextDocumentLayout* layout = FDoc->documentLayout();
    (void)layout;
    for (std::size_t i = 0; i < FRows.size(); ++i)
        FRows[i].Top = FDoc->findBlockByNumber(FRowBlocks[i]).layout()->position().y();
}

const TTableFlow::TRow* TTableFlow::RowOf(const QTextBlock& flowBlock) const
{
    const QTextBlockFormat format = flowBlock.blockFormat();
    if (!format.hasProperty(kFlowRowProperty))
        return nullptr;
    const int index = format.intProperty(kFlowRowProperty);
    return index >= 0 && index < static_cast<int>(FRows.size()) ? &FRows[static_cast<std::size_t>(index)] : nullptr;
}

double TTableFlow::YOf(int mainPosition, bool lineMiddle) const
{
    const QTextBlock block = FMain->findBlock(mainPosition);
    if (!block.isValid())
        return FDoc->documentLayout()->documentSize().height();
    if (QTextTable* table = QTextCursor(block).currentTable()) {
        const auto it = FTableIndex.find(table);
        if (it != FTableIndex.end()) {
            const TTable& t = FTables[static_cast<std::size_t>(it->second)];
            const TRow& row = FRows[static_cast<std::size_t>(t.FirstRow + table->cellAt(mainPosition).row())];
            return row.Top + (lineMiddle ? std::min(1.0, row.Height / 2) : 0.0);
        }
    }
    const auto it = FBlockOf.find(block.position());
    if (it == FBlockOf.end())
        return 0;
    const QTextBlock flowBlock = FDoc->findBlockByNumber(it->second / 2);
    const QRectF box = FDoc->documentLayout()->blockBoundingRect(flowBlock);
    if (const TRow* row = RowOf(flowBlock))
        return row->Top;
    if (!lineMiddle || it->second % 2)
        return box.top();
    const QTextLayout* lines = flowBlock.layout();
    if (const QTextLine line = lines->lineForTextPosition(mainPosition - block.position()); line.isValid())
        return lines->position().y() + line.y() + line.height() / 2;
    return box.top();
}

void TTableFlow::Draw(QPainter& painter, double from, double to) const
{
    const auto first = std::partition_point(FRows.begin(), FRows.end(),
                                            [&](const TRow& r) { return r.Top + r.Height <= from + 1; });
    for (auto it = first; it != FRows.end() && it->Top < to - 1; ++it) {
        const TTable& table = FTables[static_cast<std::size_t>(it->Table)];
        for (int id : it->Cells) {
            const TCell& cell = FCells[static_cast<std::size_t>(id)];
            double height = 0;
            for (int r = cell.Row; r < std::min(cell.Row + cell.RowSpan, table.RowCount); ++r)
                height += FRows[static_cast<std::size_t>(table.FirstRow + r)].Height;
            const double left = FTableLeft[static_cast<std::size_t>(it->Table)];
            DrawCell(painter, cell, *it, QRectF(left + cell.Left, it->Top, cell.Right - cell.Left, height), from, to);
        }
    }
}

void TTableFlow::DrawCell(QPainter& painter, const TCell& cell, const TRow& row, const QRectF& box, double from,
                          double to) const
{
    const double top = std::max(box.top(), from);
    const double bottom = std::min(box.bottom(), to);
    if (bottom <= top)
        return;
    if (cell.Background.style() != Qt::NoBrush)
        painter.fillRect(QRectF(box.left(), top, box.width(), bottom - top), cell.Background);

    const double inner = box.height() - cell.Edges[0].Width - cell.Edges[2].Width - cell.PadTop - cell.PadBottom;
    const double shift = std::max(0.0, cell.VAlign == 1 ? (inner - cell.Height) / 2
                                        : cell.VAlign == 2 ? inner - cell.Height
                                                           : 0.0);
    const double textTop = box.top() + cell.Edges[0].Width + cell.PadTop + shift;
    const double left = box.left() - cell.Left + cell.ContentLeft;
    for (const auto& [block, y] : cell.Blocks) {
        const QTextLayout* layout = block.layout();
        if (const QBrush back = block.blockFormat().background(); back.style() != Qt::NoBrush && layout->lineCount()) {
            const QTextLine last = layout->lineAt(layout->lineCount() - 1);
            const QRectF shade(left, textTop + y, cell.ContentWidth, last.y() + last.height());
            painter.fillRect(shade.intersected(QRectF(box.left(), top, box.width(), bottom - top)), back);
        }
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const double lineTop = textTop + y + line.y();
            const double middle = lineTop + line.height() / 2;
            if (middle < from || middle > to)
                continue;
            if (row.Exact && lineTop + line.height() > box.bottom() + 1)
                continue;  // an exact height cuts what does not fit
            line.draw(&painter, QPointF(left, textTop + y));
        }
    }

    auto fill = [&](const TEdge& e, const QRectF& r, bool horizontal) {
        if (!e.Double) {
            painter.fillRect(r, e.Brush);
            return;
        }
        const double third = (horizontal ? r.height() : r.width()) / 3;
        if (horizontal) {
            painter.fillRect(QRectF(r.left(), r.top(), r.width(), third), e.Brush);
            painter.fillRect(QRectF(r.left(), r.bottom() - third, r.width(), third), e.Brush);
        } else {
            painter.fillRect(QRectF(r.left(), r.top(), third, r.height()), e.Brush);
            painter.fillRect(QRectF(r.right() - third, r.top(), third, r.height()), e.Brush);
        }
    };
    const TEdge& topEdge = cell.Edges[0];
    const TEdge& bottomEdge = cell.Edges[2];
    // A row cut by a page is closed on both sides of the cut with its top border.
    if (topEdge.Width > 0)
        fill(topEdge, QRectF(box.left(), top, box.width(), topEdge.Width), true);
    if (bottomEdge.Width > 0 && box.bottom() <= to)
        fill(bottomEdge, QRectF(box.left(), box.bottom() - bottomEdge.Width, box.width(), bottomEdge.Width), true);
    else if (box.bottom() > to && topEdge.Width > 0)
        fill(topEdge, QRectF(box.left(), bottom - topEdge.Width, box.width(), topEdge.Width), true);
    if (cell.Edges[1].Width > 0)
        fill(cell.Edges[1], QRectF(box.left(), top, cell.Edges[1].Width, bottom - top), false);
    if (cell.Edges[3].Width > 0)
        fill(cell.Edges[3], QRectF(box.right() - cell.Edges[3].Width, top, cell.Edges[3].Width, bottom - top), false);
}
