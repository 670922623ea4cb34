// Tables: cells are read into a document their table's cells share, then built
// as a table once the table ends: columns at every cell edge any row has,
// cells spanning the columns between their edges, merged cells, borders,
// shading, padding and header rows.
#include "platform/docengine/rtfreaderimpl.h"

#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextTable>

#include <algorithm>
#include <array>

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
        table.OpenCell = NewCellSink(table.Parent);
    // An empty cell, like an empty paragraph, is as tall as the character format at its mark.
    if (QTextCursor& cell = Sink(table.OpenCell).Cursor; cell.block().length() == 1)
        cell.setBlockCharFormat(CharFormat());
    CloseCell(table.OpenCell);
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
    if (table.OpenCell >= 0)
        CloseCell(table.OpenCell);
    if (table.OpenCell >= 0 && Sink(table.OpenCell).Length() == 0)
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
    if (table.OpenCell >= 0)
        CloseCell(table.OpenCell);
    if (table.OpenCell >= 0 && Sink(table.OpenCell).Length() > 0)
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

double WidthOf(const TBorder& b)
{
    return !b.Set || b.Style == 0 ? 0.0 : std::max(10, b.Width) / 15.0 * (b.Style == 2 ? 3 : 1);
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

// The table's columns: every edge of every row is a column edge; edges
// closer than a tenth of a millimetre are one.
struct TGrid {
    std::vector<std::vector<std::pair<int, int>>> RowsEdges;
    std::vector<int> Columns;
    int ColumnCount = 0;

    explicit TGrid(const TTable& table)
    {
        std::vector<int> grid;
        for (const TRow& row : table.Rows) {
            RowsEdges.push_back(CellEdges(row));
            for (const auto& [l, r] : RowsEdges.back()) {
                grid.push_back(l);
                grid.push_back(r);
            }
        }
        std::sort(grid.begin(), grid.end());
        for (int edge : grid)
            if (Columns.empty() || edge - Columns.back() > 6)
                Columns.push_back(edge);
        if (Columns.size() < 2)
            Columns.push_back(Columns.empty() ? 1440 : Columns.back() + 1440);
        ColumnCount = std::min<int>(static_cast<int>(Columns.size()) - 1, kMaxCellsPerRow * 2);
    }
    int ColumnOf(int edge) const
    {
        const auto it = std::min_element(Columns.begin(), Columns.end(),
                                         [&](int a, int b) { return std::abs(a - edge) < std::abs(b - edge); });
        return std::clamp(static_cast<int>(it - Columns.begin()), 0, ColumnCount);
    }
};

// Borders as word processors draw them, one line on each edge between
// two cells, without Qt's collapsing: that looks at a cell's neighbours
// for each of its edges every time the table is laid out or drawn, which
// made a 50-row table several times slower than its text. Each cell
// draws its top and left edge (the wider of its own and its neighbour's),
// and the right and bottom edges where no cell follows. A row that starts
// a page so has its top line.
QTextTableFormat TableFormat(const TTable& table, const TGrid& grid)
{
    const TRowDef& first = table.Rows.front().Def;
    QTextTableFormat format;
    format.setBorderCollapse(false);
    format.setBorder(0);
    format.setCellSpacing(0);
    format.setCellPadding(0);
    // The layout takes table measures in 96-dpi pixels.
    QList<QTextLength> widths;
    for (int c = 0; c < grid.ColumnCount; ++c)
        widths.append(QTextLength(QTextLength::FixedLength, (grid.Columns[c + 1] - grid.Columns[c]) / 15.0));
    format.setColumnWidthConstraints(widths);
    // Word tables start left of the margin by their padding.
    format.setLeftMargin(std::max(-1440, grid.Columns.front()) / 15.0);
    format.setAlignment(first.Align == 1 ? Qt::AlignHCenter : first.Align == 2 ? Qt::AlignRight : Qt::AlignLeft);
    int headerRows = 0;
    while (headerRows < static_cast<int>(table.Rows.size()) && table.Rows[headerRows].Def.Header)
        ++headerRows;
    format.setHeaderRowCount(headerRows);
    if (std::any_of(table.Rows.begin(), table.Rows.end(), [](const TRow& r) { return r.Def.AutoFit; }))
        format.setProperty(kTableAutoFitProperty, true);
    return format;
}

// A cell's padding: its own, else the row's (left and right: else half the gap).
std::array<int, 4> PaddingOf(const TRowDef& row, const TCellDef& def)
{
    const int gap = row.Gap;
    return {def.Padding[kTop] >= 0 ? def.Padding[kTop] : std::max(0, row.Padding[kTop]),
            def.Padding[kLeft] >= 0 ? def.Padding[kLeft] : row.Padding[kLeft] >= 0 ? row.Padding[kLeft] : gap,
            def.Padding[kBottom] >= 0 ? def.Padding[kBottom] : std::max(0, row.Padding[kBottom]),
            def.Padding[kRight] >= 0 ? def.Padding[kRight] : row.Padding[kRight] >= 0 ? row.Padding[kRight] : gap};
}

void SetBorder(QTextTableCellFormat& cf, int side, double width, const QBrush& brush,
               QTextFrameFormat::BorderStyle style)
{
    switch (side) {
    case kTop: cf.setTopBorder(width); cf.setTopBorderBrush(brush); cf.setTopBorderStyle(style); break;
    case kLeft: cf.setLeftBorder(width); cf.setLeftBorderBrush(brush); cf.setLeftBorderStyle(style); break;
    case kBottom: cf.setBottomBorder(width); cf.setBottomBorderBrush(brush); cf.setBottomBorderStyle(style); break;
    case kRight: cf.setRightBorder(width); cf.setRightBorderBrush(brush); cf.setRightBorderStyle(style); break;
    }
}

// Builds a table read as rows of cells into a QTextTable: cells placed on
// the grid and merged, their formats and borders, then their text.
class TTableBuilder {
public:
    TTableBuilder(TRtfReader& reader, const TTable& table)
        : FReader(reader), FTable(table), FGrid(table), FRowCount(static_cast<int>(table.Rows.size())),
          FColumnCount(FGrid.ColumnCount), FOwner(static_cast<std::size_t>(FRowCount * FColumnCount), -1),
          FOriginRow(static_cast<std::size_t>(FColumnCount), -1)
    {
    }
    void Build();

private:
    struct TCellPlan {
        int Row, Column, LastRow, LastColumn;
        QTextTableCellFormat Format;
        TBorder Borders[4];
    };
    struct TPlaced {
        int Row, Column, Sink;
    };

    // The plan that covers each position of the grid; -1 where no cell is.
    int& OwnerAt(int r, int c) { return FOwner[static_cast<std::size_t>(r * FColumnCount + c)]; }
    void PlanRow(int r);
    void MergeDown(const TRow& row, const TCellDef& def, int r, int from, int to);
    TCellPlan PlanCell(const TRow& row, const TCellDef& def, int r, int from, int to) const;
    TBorder BorderOf(const TRow& row, const TCellDef& def, int side, int r, int from, int to) const;
    TBorder Wider(const TBorder& own, int neighbour, int side) const;
    void SetBorders(TCellPlan& p);
    void PlaceText();

    TRtfReader& FReader;
    const TTable& FTable;
    const TGrid FGrid;
    const int FRowCount;
    const int FColumnCount;
    QTextTable* FBuilt = nullptr;
    std::vector<TCellPlan> FPlans;
    std::vector<int> FOwner;
    std::vector<int> FOriginRow;  // where each column's cell of the row above started, for vertical merges
    std::vector<TPlaced> FPlaced;
};

void TTableBuilder::Build()
{
    const QTextTableFormat format = TableFormat(FTable, FGrid);
    QTextCursor& cursor = FReader.Sink(FTable.Parent).Cursor;
    // One edit: each cell's cursor moves skip the caret's x position, which
    // shapes its paragraph's text again.
    const TEditBlock edit(cursor.document());
    // The table goes in at an empty paragraph of its own, and the text after
    // it starts in a new one: the layout gives an empty paragraph next to a
    // table no height, so these two stand for nothing (the writer leaves
    // them out), and the file's own paragraphs around the table keep theirs.
    if (cursor.block().length() > 1 || cursor.currentTable())
        cursor.insertBlock();
    FBuilt = cursor.insertTable(FRowCount, FColumnCount, format);
    for (int r = 0; r < FRowCount; ++r)
        PlanRow(r);
    for (TCellPlan& p : FPlans)
        SetBorders(p);
    PlaceText();
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
}

void TTableBuilder::PlanRow(int r)
{
    const TRow& row = FTable.Rows[static_cast<std::size_t>(r)];
    const auto& edges = FGrid.RowsEdges[static_cast<std::size_t>(r)];
    int column = 0;
    for (std::size_t i = 0; i < edges.size() && column < FColumnCount; ++i) {
        const TCellDef def = i < row.Def.Cells.size() ? row.Def.Cells[i] : TCellDef {};
        const int from = std::max(column, FGrid.ColumnOf(edges[i].first));
        int to = std::max(from + 1, FGrid.ColumnOf(edges[i].second));
        // A horizontally merged cell joins the cell before it, which
        // keeps the text.
        const std::size_t first = i;
        while (i + 1 < edges.size() && i + 1 < row.Def.Cells.size() && row.Def.Cells[i + 1].Merged) {
            ++i;
            to = std::max(to, FGrid.ColumnOf(edges[i].second));
        }
        to = std::min(to, FColumnCount);
        if (from >= FColumnCount)
            break;
        column = to;
        if (def.VMerged && r > 0 && FOriginRow[static_cast<std::size_t>(from)] >= 0) {
            MergeDown(row, def, r, from, to);
            continue;
        }
        FOriginRow[static_cast<std::size_t>(from)] = r;
        if (to - from > 1)
            FBuilt->mergeCells(r, from, 1, to - from);
        for (int c = from; c < to; ++c)
            OwnerAt(r, c) = static_cast<int>(FPlans.size());
        FPlans.push_back(PlanCell(row, def, r, from, to));
        if (first < row.Cells.size())
            FPlaced.push_back({r, from, row.Cells[first]});
    }
}

// A vertically merged cell joins the cell above it.
void TTableBuilder::MergeDown(const TRow& row, const TCellDef& def, int r, int from, int to)
{
    const int top = FOriginRow[static_cast<std::size_t>(from)];
    FBuilt->mergeCells(top, from, r - top + 1, to - from);
    const int plan = OwnerAt(top, from);
    if (plan < 0)
        return;
    TCellPlan& p = FPlans[static_cast<std::size_t>(plan)];
    p.LastRow = r;
    for (int c = p.Column; c <= p.LastColumn; ++c)
        OwnerAt(r, c) = plan;
    // The merged cell's bottom edge is the last row's.
    p.Borders[kBottom] = BorderOf(row, def, kBottom, r, from, to);
}

TTableBuilder::TCellPlan TTableBuilder::PlanCell(const TRow& row, const TCellDef& def, int r, int from, int to) const
{
    TCellPlan plan {r, from, r, to - 1, {}, {}};
    QTextTableCellFormat& cf = plan.Format;
    const std::array<int, 4> padding = PaddingOf(row.Def, def);
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
        plan.Borders[side] = BorderOf(row, def, side, r, from, to);
    if (def.ShadePercent > 0) {
        // Shading mixes the pattern colour (black by default) into the background (white).
        const QColor back = FReader.ColorOf(def.Shading).value_or(QColor(Qt::white));
        const QColor fore = FReader.ColorOf(def.Pattern).value_or(QColor(Qt::black));
        const double p = def.ShadePercent / 10000.0;
        cf.setBackground(QColor::fromRgbF(static_cast<float>(back.redF() * (1 - p) + fore.redF() * p),
                                          static_cast<float>(back.greenF() * (1 - p) + fore.greenF() * p),
                                          static_cast<float>(back.blueF() * (1 - p) + fore.blueF() * p)));
    } else if (const auto shade = FReader.ColorOf(def.Shading)) {
        cf.setBackground(*shade);
    }
    if (row.Def.Keep)
        cf.setProperty(kRowKeepProperty, true);
    if (def.VAlign == 1)
        cf.setVerticalAlignment(QTextCharFormat::AlignMiddle);
    else if (def.VAlign == 2)
        cf.setVerticalAlignment(QTextCharFormat::AlignBottom);
    return plan;
}

// A cell's own border, else the row's outside or inside border.
TBorder TTableBuilder::BorderOf(const TRow& row, const TCellDef& def, int side, int r, int from, int to) const
{
    if (def.Borders[side].Set)
        return def.Borders[side];
    const bool outside = (side == kTop && r == 0) || (side == kBottom && r == FRowCount - 1) ||
                         (side == kLeft && from == 0) || (side == kRight && to == FColumnCount);
    return outside ? row.Def.Borders[side] : row.Def.Borders[side == kTop || side == kBottom ? 4 : 5];
}

TBorder TTableBuilder::Wider(const TBorder& own, int neighbour, int side) const
{
    if (neighbour < 0)
        return own;
    const TBorder& other = FPlans[static_cast<std::size_t>(neighbour)].Borders[side];
    return WidthOf(other) > WidthOf(own) ? other : own;
}

void TTableBuilder::SetBorders(TCellPlan& p)
{
    TBorder edges[4];
    edges[kTop] = Wider(p.Borders[kTop], p.Row > 0 ? OwnerAt(p.Row - 1, p.Column) : -1, kBottom);
    edges[kLeft] = Wider(p.Borders[kLeft], p.Column > 0 ? OwnerAt(p.Row, p.Column - 1) : -1, kRight);
    if (p.LastColumn + 1 >= FColumnCount || OwnerAt(p.Row, p.LastColumn + 1) < 0)
        edges[kRight] = p.Borders[kRight];
    if (p.LastRow + 1 >= FRowCount || OwnerAt(p.LastRow + 1, p.Column) < 0)
        edges[kBottom] = p.Borders[kBottom];
    for (int side = 0; side < 4; ++side) {
        const TBorder& b = edges[side];
        const double width = WidthOf(b);
        if (width > 0)
            SetBorder(p.Format, side, width, QBrush(FReader.ColorOf(b.Color).value_or(QColor(Qt::black))),
                      StyleOf(b.Style));
    }
    FBuilt->cellAt(p.Row, p.Column).setFormat(p.Format);
}

// Text without frames or lists: copied paragraph by paragraph and run by
// run, without a fragment (a document of its own) for each of thousands of cells.
bool IsPlain(const TSink& cell)
{
    const QTextDocument& doc = *cell.Doc;
    const int end = cell.Start + cell.Length();
    for (const QTextFrame* frame : doc.rootFrame()->childFrames())
        if (frame->lastPosition() >= cell.Start && frame->firstPosition() <= end)
            return false;
    for (QTextBlock block = doc.findBlock(cell.Start); block.isValid() && block.position() <= end; block = block.next())
        if (block.textList())
            return false;
    return true;
}

void InsertPlain(QTextCursor& at, const TSink& cell)
{
    const QTextBlock first = cell.Doc->findBlock(cell.Start);
    const int end = cell.Start + cell.Length();
    for (QTextBlock block = first; block.isValid() && block.position() <= end; block = block.next()) {
        if (block != first)
            at.insertBlock(block.blockFormat(), block.charFormat());
        for (auto it = block.begin(); !it.atEnd(); ++it)
            at.insertText(it.fragment().text(), it.fragment().charFormat());
    }
}

// The cells' text, in document order so that positions already taken stay
// where they are.
void TTableBuilder::PlaceText()
{
    std::sort(FPlaced.begin(), FPlaced.end(),
              [](const TPlaced& a, const TPlaced& b) { return a.Row != b.Row ? a.Row < b.Row : a.Column < b.Column; });
    for (const TPlaced& p : FPlaced) {
        TSink& cell = FReader.Sink(p.Sink);
        if (!cell.Doc)
            continue;
        QTextCursor at = FBuilt->cellAt(p.Row, p.Column).firstCursorPosition();
        const QTextBlock first = cell.Doc->findBlock(cell.Start);
        if (cell.Length() == 0) {
            // Its height: the font only, as the block's character format holds the cell's own.
            QTextCharFormat font;
            font.setFont(first.charFormat().font(), QTextCharFormat::FontPropertiesSpecifiedOnly);
            at.mergeBlockCharFormat(font);
            continue;
        }
        at.setBlockFormat(first.blockFormat());
        const int offset = at.position();
        if (IsPlain(cell)) {
            InsertPlain(at, cell);
        } else {
            QTextCursor range(cell.Doc);
            range.setPosition(cell.Start);
            range.setPosition(cell.Start + cell.Length(), QTextCursor::KeepAnchor);
            at.insertFragment(QTextDocumentFragment(range));
        }
        FReader.MoveFields(p.Sink, FTable.Parent, offset - cell.Start);
    }
}

}  // namespace

void TRtfReader::BuildTable(const TTable& table)
{
    // A document's frames are brought up to date only once no edit is open:
    // the reading's own edit is closed while the table goes in.
    QTextCursor& at = Sink(table.Parent).Cursor;
    at.endEditBlock();
    TTableBuilder(*this, table).Build();
    at.beginEditBlock();
}

}  // namespace rtf
