// Tables laid out and drawn by the engine itself. The main text keeps its
// tables (they are what the edits by value, the fields and the writer see),
// but Qt's table layout lays every cell out twice and copies each cell's
// format for every edge it measures: a long table cost 30 ms a page. So the
// pages are cut from a flow: a copy of the main text's paragraphs in which
// each table row is one empty paragraph of the row's height. The cells'
// paragraphs are laid out once, at their cell's width, where they stand in
// the main text, and drawn by the row.
#pragma once

#include <QBrush>
#include <QRectF>
#include <QTextBlock>
#include <QTextFormat>

#include <memory>
#include <unordered_map>
#include <vector>

class QPainter;
class QTextDocument;
class QTextTable;
class QTextTableCell;
class TEnginePart;

// On a paragraph of the flow that stands for a table row: the row's index.
enum : int { kFlowRowProperty = QTextFormat::UserProperty + 40 };

class TTableFlow {
public:
    struct TEdge {
        double Width = 0;  // twips; 0 for none
        QBrush Brush;
        bool Double = false;
    };
    struct TCell {
        int Row = 0, Column = 0, RowSpan = 1, ColumnSpan = 1;
        double Left = 0, Right = 0;  // twips from the column's left
        double ContentLeft = 0, ContentWidth = 0;
        double PadTop = 0, PadBottom = 0;
        double Height = 0;  // of its text
        int VAlign = 0;     // 0 top, 1 middle, 2 bottom
        QBrush Background;
        TEdge Edges[4];  // top, left, bottom, right
        std::vector<std::pair<QTextBlock, double>> Blocks;  // with their top in the text
    };
    struct TRow {
        int Table = 0;
        int Row = 0;          // in its table
        double Top = 0;       // in the flow, once it is laid out
        double Height = 0;
        bool Exact = false;
        bool Keep = false;        // not cut between pages
        bool SpannedFromAbove = false;
        std::vector<int> Cells;   // the cells that start in this row
        std::vector<std::pair<double, double>> Lines;  // text lines from the row's top, merged
    };
    struct TTable {
        QTextTable* Table = nullptr;
        int FirstRow = 0;  // index in Rows
        int RowCount = 0;
        int HeaderRows = 0;
    };

    // The flow of a main text whose tables this layout takes, laid out in a
    // column of this width; null for a main text without tables, or with one
    // it leaves to Qt (nested tables, frames, lists in cells).
    static std::unique_ptr<TTableFlow> Make(TEnginePart& main, double width);
    ~TTableFlow();

    QTextDocument& Doc() const { return *FDoc; }
    // Once the flow is laid out: where each row stands in it.
    void Place();
    const std::vector<TRow>& Rows() const { return FRows; }
    const std::vector<TTable>& Tables() const { return FTables; }
    // The row a paragraph of the flow stands for, or null.
    const TRow* RowOf(const QTextBlock& flowBlock) const;
    // The flow's height of a main-text position: its line's middle, or its
    // paragraph's top.
    double YOf(int mainPosition, bool lineMiddle) const;
    // The rows between two heights of the flow; text lines only when their
    // middle is inside.
    void Draw(QPainter& painter, double from, double to) const;

private:
    TTableFlow() = default;
    bool LayOutTable(QTextTable* table, const TEnginePart& main);
    void WriteFlow(const QTextDocument& src);
    bool LayOutRow(QTextTable* table, TRow& row, const std::vector<double>& columns, std::vector<int>& spanning,
                   const TEnginePart& main);
    double LayOutCell(TCell& cell, const QTextTableCell& source, const QTextTableCellFormat& format,
                      const TEnginePart& main, bool wholeWords);
    // Columns of an auto-fitted table widened to the longest words of their
    // cells (from firstCell on); false when every word fits.
    bool Widen(std::vector<double>& columns, std::size_t firstCell) const;
    void DrawCell(QPainter& painter, const TCell& cell, const TRow& row, const QRectF& box, double from,
                  double to) const;

    std::unique_ptr<QTextDocument> FDoc;
    const QTextDocument* FMain = nullptr;
    double FWidth = 0;
    std::vector<TTable> FTables;
    std::vector<TRow> FRows;
    std::vector<TCell> FCells;
    std::vector<double> FTableLeft;             // the tables' left edge in the column
    std::vector<std::vector<double>> FColumns;  // the tables' column edges from their left
    std::vector<int> FRowBlocks;                // each row's paragraph number in the flow
    // Main-text paragraph position -> flow paragraph number * 2, + 1 for a
    // paragraph left out (it counts as the next one).
    std::unordered_map<int, int> FBlockOf;
    std::unordered_map<const QTextTable*, int> FTableIndex;
};
