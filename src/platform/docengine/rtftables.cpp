// Tables: rows and cells are read into documents of their own, then built
// as a table once the table ends: columns at every cell edge any row has,
// cells spanning the columns between their edges, merged cells, borders,
// shading, padding and header rows.
#include "platform/docengine/rtfreaderimpl.h"

#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextTable>

#include <algorithm>

namespace rtf {

void TRtfReader::EndCell(int level)
{
    Flush();
    const int base = S().Sink;
    std::vector<TTable>& tables = FTables[base];
    if (tables.size() > static_cast<std::size_t>(level))
        FinishTables(base, static_cast<std::size_t>(level));
    if (tables.size() < static_cast<std::size_t>(level)) {
        // A cell mark before any of its text: the table starts here.
        const bool inTable = S().Para.InTable;
        const int tableLevel = S().Para.TableLevel;
        S().Para.InTable = true;
        S().Para.TableLevel = level;
        TargetSink();
        S().Para.InTable = inTable;
        S().Para.TableLevel = tableLevel;
    }
    if (tables.size() < static_cast<std::size_t>(level))
        return;
    TTable& table = tables[static_cast<std::size_t>(level - 1)];
    if (table.OpenCell < 0)
        table.OpenCell = NewSink(TSink::kCell, Sink(base).Part);
    if (static_cast<int>(table.Cells.size()) < kMaxCellsPerRow)
        table.Cells.push_back(table.OpenCell);
    table.OpenCell = -1;
}

void TRtfReader::EndRow(int level)
{
    Flush();
    const int base = S().Sink;
    std::vector<TTable>& tables = FTables[base];
    if (tables.size() < static_cast<std::size_t>(level))
        return;  // a row mark with no table
    FinishTables(base, static_cast<std::size_t>(level));
    TTable& table = tables[static_cast<std::size_t>(level - 1)];
    // The paragraph that carries the row mark holds no cell of its own.
    if (table.OpenCell >= 0 && Sink(table.OpenCell).Doc->isEmpty())
        table.OpenCell = -1;
    if (table.OpenCell >= 0) {
        table.Cells.push_back(table.OpenCell);
        table.OpenCell = -1;
    }
    if (table.Cells.empty() || static_cast<int>(table.Rows.size()) >= kMaxTableRows) {
        table.Cells.clear();
        return;
    }
    TRow row;
    row.Def = FRowDefs[static_cast<std::size_t>(level)];
    row.Cells = std::move(table.Cells);
    table.Cells.clear();
    table.Rows.push_back(std::move(row));
}

void TRtfReader::FinishTables(int base, std::size_t keep)
{
    while (FTables[base].size() > keep)
        FinishTable(base);
}

void TRtfReader::FinishTable(int base)
{
    std::vector<TTable>& tables = FTables[base];
    if (tables.empty())
        return;
    TTable table = std::move(tables.back());
    tables.pop_back();
    // Cells read after the last row mark (a damaged file) make a last row.
    if (table.OpenCell >= 0 && !Sink(table.OpenCell).Doc->isEmpty())
        table.Cells.push_back(table.OpenCell);
    if (!table.Cells.empty()) {
        TRow row;
        row.Def = FRowDefs[std::min<std::size_t>(tables.size() + 1, kMaxTableDepth)];
        row.Cells = std::move(table.Cells);
        table.Rows.push_back(std::move(row));
    }
    if (!table.Rows.empty())
        BuildTable(table);
}

namespace {

QTextFrameFormat::BorderStyle StyleOf(int style)
{
    switch (style) {
    case 2: return QTextFrameFormat::BorderStyle_Double;
    case 3: return QTextFrameFormat::BorderStyle_Dotted;
    case 4: return QTextFrameFormat::BorderStyle_Dashed;
    default: return QTextFrameFormat::BorderStyle_Solid;
    }
}

// The cells' left and right edges of a row, in twips from the margin.
std::vector<std::pair<int, int>> CellEdges(const TRow& row)
{
    std::vector<std::pair<int, int>> edges;
    int left = row.Def.Left;
    const std::size_t count = std::max(row.Cells.size(), row.Def.Cells.size());
    for (std::size_t i = 0; i < count; ++i) {
        int right = i < row.Def.Cells.size() ? row.Def.Cells[i].Right : left + 1440;
        if (right <= left)
            right = left + 1;  // a broken definition still gives the cell a column
        edges.emplace_back(left, right);
        left = right;
    }
    return edges;
}

}  // namespace

void TRtfReader::BuildTable(const TTable& table)
{
    // Every edge of every row is a column edge; edges closer than a
    // tenth of a millimetre are one.
    std::vector<int> grid;
    std::vector<std::vector<std::pair<int, int>>> rowsEdges;
    for (const TRow& row : table.Rows) {
        rowsEdges.push_back(CellEdges(row));
        for (const auto& [l, r] : rowsEdges.back()) {
            grid.push_back(l);
            grid.push_back(r);
        }
    }
    std::sort(grid.begin(), grid.end());
    std::vector<int> columns;
    for (int edge : grid)
        if (columns.empty() || edge - columns.back() > 6)
            columns.push_back(edge);
    if (columns.size() < 2)
        columns.push_back(columns.empty() ? 1440 : columns.back() + 1440);
    const int columnCount = std::min<int>(static_cast<int>(columns.size()) - 1, kMaxCellsPerRow * 2);
    auto columnOf = [&](int edge) {
        const auto it = std::min_element(columns.begin(), columns.end(),
                                         [&](int a, int b) { return std::abs(a - edge) < std::abs(b - edge); });
        return std::clamp(static_cast<int>(it - columns.begin()), 0, columnCount);
    };

    const TRowDef& first = table.Rows.front().Def;
    // Borders as word processors draw them, one line on each edge between
    // two cells, without Qt's collapsing: that looks at a cell's neighbours
    // for each of its edges every time the table is laid out or drawn, which
    // made a 50-row table several times slower than its text. Each cell
    // draws its top and left edge (the wider of its own and its neighbour's),
    // and the right and bottom edges where no cell follows. A row that starts
    // a page so has its top line.
    QTextTableFormat format;
    format.setBorderCollapse(false);
    format.setBorder(0);
    format.setCellSpacing(0);
    format.setCellPadding(0);
    // The layout takes table measures in 96-dpi pixels.
    QList<QTextLength> widths;
    for (int c = 0; c < columnCount; ++c)
        widths.append(QTextLength(QTextLength::FixedLength, (columns[c + 1] - columns[c]) / 15.0));
    format.setColumnWidthConstraints(widths);
    format.setLeftMargin(std::max(-1440, columns.front()) / 15.0);  // Word tables start left of the margin by their padding
    format.setAlignment(first.Align == 1 ? Qt::AlignHCenter : first.Align == 2 ? Qt::AlignRight : Qt::AlignLeft);
    int headerRows = 0;
    while (headerRows < static_cast<int>(table.Rows.size()) && table.Rows[headerRows].Def.Header)
        ++headerRows;
    format.setHeaderRowCount(headerRows);

    TSink& parent = Sink(table.Parent);
    QTextCursor& cursor = parent.Cursor;
    // The table goes in at an empty paragraph of its own, and the text after
    // it starts in a new one: the layout gives an empty paragraph next to a
    // table no height, so these two stand for nothing (the writer leaves
    // them out), and the file's own paragraphs around the table keep theirs.
    if (cursor.block().length() > 1 || cursor.currentTable())
        cursor.insertBlock();
    const int rowCount = static_cast<int>(table.Rows.size());
    QTextTable* built = cursor.insertTable(rowCount, columnCount, format);

    auto color = [&](int index) -> std::optional<QColor> {
        if (index > 0 && index < static_cast<int>(FColors.size()))
            return FColors[static_cast<std::size_t>(index)];
        return std::nullopt;
    };
    struct TPlaced {
        int Row, Column, Sink;
    };
    std::vector<TPlaced> placed;
    struct TCellPlan {
        int Row, Column, LastRow, LastColumn;
        QTextTableCellFormat Format;
        TBorder Borders[4];
    };
    std::vector<TCellPlan> plans;
    // The plan that covers each position of the grid; -1 where no cell is.
    std::vector<int> owner(static_cast<std::size_t>(rowCount * columnCount), -1);
    auto ownerAt = [&](int r, int c) -> int& { return owner[static_cast<std::size_t>(r * columnCount + c)]; };
    // A cell's own border, else the row's outside or inside border.
    auto borderOf = [&](const TRow& row, const TCellDef& def, int side, int r, int from, int to) {
        if (def.Borders[side].Set)
            return def.Borders[side];
        const bool outside = (side == kTop && r == 0) || (side == kBottom && r == rowCount - 1) ||
                             (side == kLeft && from == 0) || (side == kRight && to == columnCount);
        return outside ? row.Def.Borders[side] : row.Def.Borders[side == kTop || side == kBottom ? 4 : 5];
    };
    // Where each column's cell of the row above started, for vertical merges.
    std::vector<int> originRow(static_cast<std::size_t>(columnCount), -1);
    for (int r = 0; r < rowCount; ++r) {
        const TRow& row = table.Rows[static_cast<std::size_t>(r)];
        const auto& edges = rowsEdges[static_cast<std::size_t>(r)];
        int column = 0;
        for (std::size_t i = 0; i < edges.size() && column < columnCount; ++i) {
            const TCellDef def = i < row.Def.Cells.size() ? row.Def.Cells[i] : TCellDef {};
            int from = std::max(column, columnOf(edges[i].first));
            int to = std::max(from + 1, columnOf(edges[i].second));
            // A horizontally merged cell joins the cell before it, which
            // keeps the text.
            const std::size_t first = i;
            while (i + 1 < edges.size() && i + 1 < row.Def.Cells.size() && row.Def.Cells[i + 1].Merged) {
                ++i;
                to = std::max(to, columnOf(edges[i].second));
            }
            to = std::min(to, columnCount);
            if (from >= columnCount)
                break;
            column = to;
            if (def.VMerged && r > 0 && originRow[static_cast<std::size_t>(from)] >= 0) {
                const int top = originRow[static_cast<std::size_t>(from)];
                built->mergeCells(top, from, r - top + 1, to - from);
                const int plan = ownerAt(top, from);
                if (plan >= 0) {
                    TCellPlan& p = plans[static_cast<std::size_t>(plan)];
                    p.LastRow = r;
                    for (int c = p.Column; c <= p.LastColumn; ++c)
                        ownerAt(r, c) = plan;
                    // The merged cell's bottom edge is the last row's.
                    p.Borders[kBottom] = borderOf(row, def, kBottom, r, from, to);
                }
                continue;
            }
            originRow[static_cast<std::size_t>(from)] = r;
            if (to - from > 1)
                built->mergeCells(r, from, 1, to - from);
            TCellPlan plan {r, from, r, to - 1, {}, {}};
            QTextTableCellFormat& cf = plan.Format;
            const int gap = row.Def.Gap;
            const int padding[4] = {def.Padding[kTop] >= 0 ? def.Padding[kTop] : std::max(0, row.Def.Padding[kTop]),
                                    def.Padding[kLeft] >= 0 ? def.Padding[kLeft] : row.Def.Padding[kLeft] >= 0 ? row.Def.Padding[kLeft] : gap,
                                    def.Padding[kBottom] >= 0 ? def.Padding[kBottom] : std::max(0, row.Def.Padding[kBottom]),
                                    def.Padding[kRight] >= 0 ? def.Padding[kRight] : row.Def.Padding[kRight] >= 0 ? row.Def.Padding[kRight] : gap};
            // The table's own padding is 0: a padding of 0 is left out, and
            // the cell's format that the layout copies for every edge it
            // measures stays smaller.
            if (padding[kTop] > 0)
                cf.setTopPadding(padding[kTop] / 15.0);
            if (padding[kLeft] > 0)
                cf.setLeftPadding(padding[kLeft] / 15.0);
            if (padding[kBottom] > 0)
                cf.setBottomPadding(padding[kBottom] / 15.0);
            if (padding[kRight] > 0)
                cf.setRightPadding(padding[kRight] / 15.0);
            if (row.Def.Height != 0) {
                cf.setProperty(kRowHeightProperty, row.Def.Height);
                cf.setProperty(kCellTopPaddingProperty, padding[kTop] / 15.0);
                cf.setProperty(kCellBottomPaddingProperty, padding[kBottom] / 15.0);
            }
            for (int side = 0; side < 4; ++side)
                plan.Borders[side] = borderOf(row, def, side, r, from, to);
            if (const auto shade = color(def.Shading))
                cf.setBackground(*shade);
            if (def.VAlign == 1)
                cf.setVerticalAlignment(QTextCharFormat::AlignMiddle);
            else if (def.VAlign == 2)
                cf.setVerticalAlignment(QTextCharFormat::AlignBottom);
            for (int c = from; c < to; ++c)
                ownerAt(r, c) = static_cast<int>(plans.size());
            plans.push_back(std::move(plan));
            if (first < row.Cells.size())
                placed.push_back({r, from, row.Cells[first]});
        }
    }

    auto widthOf = [](const TBorder& b) {
        return !b.Set || b.Style == 0 ? 0.0 : std::max(10, b.Width) / 15.0 * (b.Style == 2 ? 3 : 1);
    };
    auto wider = [&](const TBorder& own, int neighbour, int side) {
        if (neighbour < 0)
            return own;
        const TBorder& other = plans[static_cast<std::size_t>(neighbour)].Borders[side];
        return widthOf(other) > widthOf(own) ? other : own;
    };
    for (TCellPlan& p : plans) {
        TBorder edges[4];
        edges[kTop] = wider(p.Borders[kTop], p.Row > 0 ? ownerAt(p.Row - 1, p.Column) : -1, kBottom);
        edges[kLeft] = wider(p.Borders[kLeft], p.Column > 0 ? ownerAt(p.Row, p.Column - 1) : -1, kRight);
        if (p.LastColumn + 1 >= columnCount || ownerAt(p.Row, p.LastColumn + 1) < 0)
            edges[kRight] = p.Borders[kRight];
        if (p.LastRow + 1 >= rowCount || ownerAt(p.LastRow + 1, p.Column) < 0)
            edges[kBottom] = p.Borders[kBottom];
        QTextTableCellFormat& cf = p.Format;
        for (int side = 0; side < 4; ++side) {
            const TBorder& b = edges[side];
            const double width = widthOf(b);
            if (width <= 0)
                continue;
            const QBrush brush(color(b.Color).value_or(QColor(Qt::black)));
            const auto style = StyleOf(b.Style);
            switch (side) {
            case kTop: cf.setTopBorder(width); cf.setTopBorderBrush(brush); cf.setTopBorderStyle(style); break;
            case kLeft: cf.setLeftBorder(width); cf.setLeftBorderBrush(brush); cf.setLeftBorderStyle(style); break;
            case kBottom: cf.setBottomBorder(width); cf.setBottomBorderBrush(brush); cf.setBottomBorderStyle(style); break;
            case kRight: cf.setRightBorder(width); cf.setRightBorderBrush(brush); cf.setRightBorderStyle(style); break;
            }
        }
        built->cellAt(p.Row, p.Column).setFormat(cf);
    }

    // The cells' text, in document order so that positions already taken
    // stay where they are.
    std::sort(placed.begin(), placed.end(),
              [](const TPlaced& a, const TPlaced& b) { return a.Row != b.Row ? a.Row < b.Row : a.Column < b.Column; });
    for (const TPlaced& p : placed) {
        TSink& cell = Sink(p.Sink);
        if (!cell.Doc || cell.Doc->isEmpty())
            continue;
        QTextCursor at = built->cellAt(p.Row, p.Column).firstCursorPosition();
        at.setBlockFormat(cell.Doc->begin().blockFormat());
        const int offset = at.position();
        at.insertFragment(QTextDocumentFragment(cell.Doc));
        MoveFields(p.Sink, table.Parent, offset);
    }
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
}

}  // namespace rtf
