// The RTF reader's inner parts, shared by its files: the group state, the
// places text goes to (sinks), tables being read, pictures and shapes.
// rtfreader.cpp drives the tokens and groups; rtfkeywords.cpp holds the
// keyword table; rtftables.cpp, rtfpictures.cpp and rtfshapes.cpp build
// tables, pictures and positioned objects.
#pragma once

#include "platform/docengine/enginepart.h"
#include "platform/docengine/rtftokenizer.h"

#include <QStringDecoder>
#include <QTextOption>

#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace rtf {

constexpr int kMaxDepth = 400;
// Qt lays a nested table out about twice per level of nesting; real reports
// nest two or three deep, deeper levels go into the eighth.
constexpr int kMaxTableDepth = 8;
constexpr qsizetype kMaxPictureBytes = 64 * 1024 * 1024;
constexpr int kMaxPictureMegabytes = 64;                  // decoded, per picture
constexpr qint64 kMaxDocumentPictureBytes = 256ll << 20;  // decoded, per document
constexpr int kMaxCellsPerRow = 64;
constexpr int kMaxTableRows = 20000;

enum class TDest {
    Text,           // text goes into the current sink
    Skip,           // nothing in this group is used
    FontTable,
    ColorTable,
    FieldInst,
    FormField,
    FormFieldItem,  // an entry of a drop-down list
    Pict,
    ShapeInst,
    ShapeName,
    ShapeValue,
    DrawingObject,
    NestTableProps,
    OrbField,
    OrbFieldEnd,
    OrbImage,
};

struct TBorder {
    bool Set = false;
    int Style = 0;  // 0 none, 1 single, 2 double, 3 dotted, 4 dashed, 5 thick
    int Width = 0;  // twips
    int Color = 0;  // colour table index
};

enum TSide { kTop, kLeft, kBottom, kRight };

struct TCharProps {
    int Font = -1;
    int HalfPoints = 24;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strike = false;
    bool Hidden = false;
    bool Caps = false;
    int Color = 0;
    int Highlight = 0;  // colour table index; 0 none
    int VerticalAlign = 0;  // 1 super, 2 sub
};

struct TParaProps {
    Qt::Alignment Align = Qt::AlignLeft;
    int LeftIndent = 0;
    int RightIndent = 0;
    int FirstIndent = 0;
    int SpaceBefore = 0;
    int SpaceAfter = 0;
    int LineSpacing = 0;   // \sl: > 0 at least, < 0 exactly, in twips
    bool LineMultiple = false;
    bool PageBreakBefore = false;
    QList<QTextOption::Tab> Tabs;
    QTextOption::TabType NextTabType = QTextOption::LeftTab;
    char NextLeader = 0;
    QString Leaders;  // one leader character per tab stop, blank for none
    bool InTable = false;
    int TableLevel = 1;
    TBorder Borders[4];
    int Shading = 0;  // colour table index of the paragraph's background
    // A paragraph frame: a text box at a position.
    bool Frame = false;
    int PosX = 0, PosY = 0, FrameWidth = 0, FrameHeight = 0;
    char HRef = 'c';  // page, margin, column
    char VRef = 't';  // page, margin, text (the paragraph)
    int HAlign = 0;   // 1 left, 2 centre, 3 right, 0 at PosX
    bool operator==(const TParaProps&) const = default;
};

struct TState {
    TDest Dest = TDest::Text;
    TCharProps Char;
    TParaProps Para;
    int Uc = 1;
    int Sink = 0;       // where text of this group goes
    int PageField = 0;  // inside the result of a PAGE or NUMPAGES field
    bool StarSeen = false;
    bool GroupStart = true;  // no control word read yet in this group
};

// A place text is written to: a part of the document (main text, a header
// or footer, a footnote), or a document of its own until its place is
// known (a table cell, a frame or text box).
struct TSink {
    enum TKind { kPart, kCell, kFrame };
    TKind Kind = kPart;
    TEnginePart* Part = nullptr;           // pictures are registered there
    std::unique_ptr<QTextDocument> Own;    // frames
    QTextDocument* Doc = nullptr;
    QTextCursor Cursor;
    // A cell is [Start, End) of a document its table's cells share; End is
    // set, and the cursor let go, once the cell is closed.
    int Start = 0;
    int End = -1;
    int Length() const { return (End >= 0 ? End : Cursor.position()) - Start; }
};

struct TCellDef {
    int Right = 0;
    TBorder Borders[4];
    int Shading = 0;         // colour table index
    int Pattern = 0;         // \clcfpat: the colour mixed in by ShadePercent
    int ShadePercent = 0;    // \clshdng, in hundredths of a percent
    int VAlign = 0;          // 0 top, 1 centre, 2 bottom
    bool MergeFirst = false, Merged = false;    // horizontal
    bool VMergeFirst = false, VMerged = false;  // vertical
    int Padding[4] = {-1, -1, -1, -1};
};

struct TRowDef {
    int Left = 0;
    int Gap = 0;      // \trgaph: half the space between cells' text
    int Height = 0;   // \trrh
    bool Header = false;
    bool Keep = false;     // \trkeep: not cut between pages
    bool AutoFit = false;  // \trautofit1: columns widen to their longest word
    int Align = 0;    // 0 left, 1 centre, 2 right
    TBorder Borders[6];  // top, left, bottom, right, inside horizontal, inside vertical
    int Padding[4] = {-1, -1, -1, -1};
    std::vector<TCellDef> Cells;
};

struct TRow {
    TRowDef Def;
    std::vector<int> Cells;  // sinks
};

struct TTable {
    int Parent = 0;  // the sink the table is built into
    std::vector<TRow> Rows;
    std::vector<int> Cells;  // the row being read
    int OpenCell = -1;
};

struct TPicture {
    QByteArray Data;
    int HexHigh = -1;
    QByteArray Kind;  // "png", "jpeg", "dib", "wmf", "emf", ...
    int PicW = 0, PicH = 0, GoalW = 0, GoalH = 0, ScaleX = 100, ScaleY = 100;
    int CropL = 0, CropR = 0, CropT = 0, CropB = 0;
};

struct TShape {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    QByteArray HorizontalBase, VerticalBase;  // "page", "margin", "column", "para", "ignore"
    int PosRelH = -1, PosRelV = -1;
    int PosH = 0, PosV = 0;  // alignment: 1 left/top, 2 centre, 3 right/bottom
    bool InHeader = false;
    int Sink = 0;  // the part it stands in
    bool BehindText = false;
    int ShapeType = -1;
    int FillColor = -1, LineColor = -1, LineWidth = -1;  // BGR; line width in EMU
    bool Filled = true, Lined = true;
    bool FlipV = false;
    int AnchorPosition = -1;
    int TextSink = -1;
    std::optional<QImage> Picture;
    QByteArray Encoded, EncodedFormat;
    QString PropertyName;
    QString PropertyValue;
    bool Background = false;  // the document's background shape
};

// A legacy drawing object ({\*\do ...}).
struct TDrawing {
    QByteArray Kind;  // "rect", "ellipse", "line", "txbx"
    int X = 0, Y = 0, W = 0, H = 0;
    bool PageX = false, PageY = false, MarginY = false;
    int LineColor[3] = {0, 0, 0};
    int FillBack[3] = {255, 255, 255}, FillFore[3] = {0, 0, 0};
    int FillPattern = 0;
    bool LineHollow = false;
    int LineWidth = 15;
    int AnchorPosition = -1;
};

struct TOwnImage {
    std::map<QByteArray, int> Values;
    QString Path;
};

// A field being read: its instruction, and what a form field holds.
struct TField {
    int Depth = 0;
    QByteArray Instruction;
    int FormType = -1;  // 0 text, 1 check box, 2 drop-down
    int FormResult = -1, FormDefault = -1;
    QStringList Items;
    QString ItemText;
    bool Written = false;
    bool HasResult = false;
};

class TDecoders {
public:
    QString Decode(int codePage, const QByteArray& bytes);

private:
    std::unordered_map<int, std::unique_ptr<QStringDecoder>> FDecoders;
};

int CodePageOfCharset(int charset, int documentCodePage);
// Characters of the Symbol and Wingdings fonts, as Unicode.
QString SymbolFontText(const QString& fontName, const QByteArray& bytes);

class TRtfReader {
public:
    TRtfReader(const QByteArray& bytes, TLoadedDocument& out);
    void Read();

    // ---- tokens and groups (rtfreader.cpp)
    void GroupOpen();
    void GroupClose();
    void ControlWord(QByteArrayView word, bool hasParam, int param);
    void ControlSymbol(char symbol);
    void TextBytes(QByteArrayView bytes);
    void TextByte(unsigned char byte);
    void BinData(QByteArrayView data);
    void Unicode(int value);
    bool SkippingFallback();
    bool StartDestination(const std::string& word);
    bool StartTableDestination(const std::string& word);
    bool StartPartDestination(const std::string& word);
    bool StartFieldDestination(const std::string& word);
    bool StartObjectDestination(const std::string& word);
    bool StartShapeDestination(const std::string& word);
    bool StartOwnDestination(const std::string& word);
    // Control words by the destination they stand in.
    bool RepairFontTable(const std::string& word);
    void PictureWord(const std::string& word, int param);
    void ShapeWord(const std::string& word, int param);
    void DrawingWord(const std::string& word, bool hasParam, int param);
    void FormFieldWord(const std::string& word, int param);

    // ---- output (rtfreader.cpp)
    TState& S() { return FStack.back(); }
    const TState& S() const { return FStack.back(); }
    TSink& Sink(int id) { return *FSinks[static_cast<std::size_t>(id)]; }
    int NewSink(TSink::TKind kind, TEnginePart* part);
    int NewCellSink(int parent);
    void CloseCell(int sink);
    int TargetSink();  // where the current paragraph's text goes
    void FlushBytes();
    void Flush();
    void AppendText(const QString& text);
    void Special(char16_t ch);
    void EndParagraph(bool pageBreakAfter = false, bool columnBreakAfter = false);
    std::optional<QColor> ColorOf(int index) const;  // a colour table entry; none for 0 (the default)
    QTextCharFormat CharFormat() const;
    QTextBlockFormat BlockFormat(const QTextCursor& cursor) const;
    void InsertPicture(const QImage& image, const QByteArray& encoded, const QByteArray& format, double w, double h);
    void CloseFrame(int base);
    void Finish();
    void FinishParts();
    std::map<int, int> PlaceVariants();
    void DropUnshownObjects(const std::map<int, int>& partsOfSink);
    void FinishSections();

    // ---- keywords (rtfkeywords.cpp)
    void TextKeyword(const std::string& word, bool hasParam, int param);
    TBorder* BorderTarget();

    // ---- tables (rtftables.cpp)
    void EndCell(int level);
    void EndRow(int level);
    void FinishTable(int base);
    void FinishTables(int base, std::size_t keep);
    TRowDef& RowDef();
    void BuildTable(const TTable& table);
    void MoveFields(int from, int to, int offset);

    // ---- pictures, shapes, drawing objects (rtfpictures.cpp, rtfshapes.cpp)
    void FinishPicture();
    void FinishShape();
    QPointF ShapePosition(const TShape& shape, int width, int height, bool& anchored);
    void AddShapePicture(const TShape& shape, const QRectF& box, bool anchored);
    void AddShapeObject(const TShape& shape, const QRectF& box, bool anchored,
                        const std::shared_ptr<QTextDocument>& text);
    void FinishDrawing();
    void FinishOwnImage();
    void ShapeProperty(const QString& name, const QString& value);
    int AnchorHere();  // the main-text position a floating object is anchored at

    // ---- state
    const QByteArray& FIn;
    TLoadedDocument& FOut;
    std::vector<TState> FStack;
    int FOverflowDepth = 0;

    std::vector<std::unique_ptr<TSink>> FSinks;  // 0 is the main text
    // The cells of the tables built into a sink, one document for them all
    // rather than one each.
    std::map<int, std::unique_ptr<QTextDocument>> FCellDocs;
    std::vector<std::unique_ptr<TEnginePart>> FVariantParts;
    std::map<QByteArray, int> FVariants;  // "header", "footerf", ... -> sink
    // Images and shapes of headers and footers, shown on the pages of the
    // parts their variant becomes.
    struct TPartObject {
        bool Image;
        std::size_t Index;
        int Sink;
    };
    std::vector<TPartObject> FPartObjects;
    bool IsFooterSink(int sink) const
    {
        for (const auto& [variant, s] : FVariants)
            if (s == sink)
                return variant.startsWith("footer");
        return false;
    }
    std::map<int, std::vector<TTable>> FTables;  // by the sink they stand in
    std::map<int, int> FFrames;                  // base sink -> the frame being read
    std::map<int, TParaProps> FFrameProps;       // frame sink -> its paragraph's frame properties
    std::vector<TRowDef> FRowDefs = std::vector<TRowDef>(kMaxTableDepth + 1);
    int FDefLevel = 1;
    TCellDef FCellDef;
    int FBorderTarget = -1;  // which border the next border properties describe (see BorderTarget)

    TDecoders FDecoders;
    int FDocumentCodePage = 1252;
    int FDefaultTab = 720;  // twips between default tab stops
    int FDefaultFont = -1;
    struct TFont {
        QString Name;
        int Charset = 0;
    };
    std::map<int, TFont> FFonts;
    int FFontEntry = -1;
    QByteArray FFontNameBytes;
    std::vector<std::optional<QColor>> FColors;
    int FRed = -1, FGreen = -1, FBlue = -1;

    QByteArray FPendingBytes;
    QString FPendingText;
    int FSkipFallback = 0;
    bool FLastWasCr = false;  // a hex-escaped CR LF is one paragraph mark

    struct TSetupValues {
        std::optional<int> W, H, L, R, T, B;
        std::optional<int> Columns, ColumnGap;
        bool Landscape = false;
    } FDocSetup, FSectSetup;
    TPageSetup PageOf(const TSetupValues& section) const;
    // The page of the section being read, as the file gives it so far (twips).
    struct TPageNow {
        int Width, Height, MarginL, MarginR, MarginT, MarginB;
    };
    TPageNow PageNow() const;
    // The page of each section that has ended, and where the sections after
    // the first start in the main text.
    std::vector<TSetupValues> FSectionValues;
    std::vector<int> FSectionStarts;
    std::optional<int> FHeaderY, FFooterY;
    bool FInFirstSection = true;
    bool FTitlePage = false, FFacingPages = false;
    bool FSectionBreakPending = false;
    // The empty paragraph (sink, position) whose page break its own \page set.
    std::pair<int, int> FBareBreak {-1, -1};
    bool FSectionBreakIsPage = true;
    bool FSectionBreakIsColumn = false;

    std::optional<TPicture> FPicture;
    int FPictureDepth = -1;
    qint64 FPictureBytes = 0;
    std::optional<TShape> FShape;
    int FShapeDepth = -1;
    std::optional<TDrawing> FDrawing;
    int FDrawingDepth = -1;
    std::optional<TOwnImage> FOwnImage;
    int FOwnImageDepth = -1;
    bool FOwnImagePending = false;  // the next shape only carries its picture
    std::vector<TPositionedImage> FPendingOwnImages;

    std::vector<TField> FFields;
    std::vector<std::pair<int, int>> FFootnotes;  // main-text anchor, sink
    std::vector<std::unique_ptr<TEnginePart>> FFootnoteParts;

    std::map<int, std::tuple<int, int, bool, int>> FOpenFields;  // id -> sink, start, changeable, kind
    struct TClosedField {
        int Sink, Id, Start, End;
        bool Changeable;
        int Kind;
    };
    // Made into tracked ranges only when all text is in, so that appending
    // after an empty field does not carry it along.
    std::vector<TClosedField> FClosedFields;
    std::map<QByteArray, int> FOrbValues;
};

}  // namespace rtf
