// The rich-text document engine that reports are composed in: three parts
// (header 1, footer 4, main text 16), positions as 0-based characters of the
// active part with every line break one LF, fields that survive edits around
// them, positioned images, pages of a set size, and three file formats:
// RTF (9), RTF with this engine's own attributes (3) and PDF (12).
#pragma once

#include "util/imageplacement.h"
#include "util/result.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QTextDocument;

// The engine's error event, raised as a failure is returned: a handler sets
// CancelDisplay so that the engine shows nothing itself.
struct TEngineErrorEvent {
    int Number = 0;
    QString Description;
    bool CancelDisplay = false;
};

// An image placed at a page position (twips from the page's top-left corner).
struct TPositionedImage : TImagePlacement {
    TPositionedImage() : TImagePlacement {.ScaleX = 100, .ScaleY = 100} {}

    QString FileName;       // where it was loaded from; empty for embedded pictures
    QImage Image;
    QByteArray Encoded;     // the bytes written back to files (PNG or JPEG)
    QByteArray EncodedFormat;
    int WidthOverride = 0;   // twips, when the file gave the size
    int HeightOverride = 0;
    bool EveryPage = false;  // from a header or footer: drawn on every page
    int Parts = 0;           // with EveryPage: the header and footer parts it is on (0: all)
    bool BehindText = false;
    // Anchored to a paragraph of the main text: PosY counts from that
    // paragraph's top, and the image is on the paragraph's page. -1: page 1.
    int AnchorPosition = -1;
    int WidthTwips() const;
    int HeightTwips() const;
};

// A shape drawn at a page position: a text box or frame with its text, a
// rectangle, an ellipse or a line, with a fill and an outline.
struct TPositionedShape {
    enum Kind { TextBox, Rectangle, Ellipse, Line };
    Kind Shape = TextBox;
    QRectF Box;               // twips from the page's top-left (from the anchor paragraph's top when anchored)
    QColor Fill;              // invalid: not filled
    QColor Outline;           // invalid: no outline
    double OutlineWidth = 15;  // twips
    bool FlipLine = false;    // a line from bottom-left to top-right
    bool EveryPage = false;
    int Parts = 0;            // as for images
    bool BehindText = false;
    int AnchorPosition = -1;  // as for images
    std::shared_ptr<QTextDocument> Text;  // a text box's or frame's text, laid out in twips
};

// Page size and margins in twips; header and footer distances from the page
// edge, or -1 to place them at the margins. A first-page header and footer
// (TitlePage) and left-page ones (FacingPages) take the place of the others
// on their pages.
struct TPageSetup {
    int PageWidth = 11906;
    int PageHeight = 16838;
    int MarginL = 1134;
    int MarginT = 1134;
    int MarginR = 1134;
    int MarginB = 1134;
    int HeaderY = -1;
    int FooterY = -1;
    bool TitlePage = false;
    bool FacingPages = false;
    int Columns = 1;  // newspaper columns of equal width, ColumnGap twips apart
    int ColumnGap = 720;
};

// Where the parts sit on every page, in twips.
struct TPageGeometry {
    double Width = 0;
    double HeaderTop = 0;
    double HeaderHeight = 0;
    double BodyTop = 0;
    double BodyHeight = 0;
    double FooterTop = 0;
    double FooterHeight = 0;
};

// A look of text as the character formats name it; what is unset is left as
// it is where the look is applied.
struct TTextLook {
    std::optional<QString> Font = std::nullopt;
    std::optional<int> Size = std::nullopt;   // points; one the engine cannot take leaves the size in force
    std::optional<int> Color = std::nullopt;  // 0x00BBGGRR
    std::optional<bool> Bold = std::nullopt;
    std::optional<bool> Italic = std::nullopt;
    std::optional<bool> Underline = std::nullopt;
};

// A run of text, with the change of look that comes before it; or, as a
// placeholder, the run followed by a changeable field of one blank (kind 20).
struct TTextRun {
    TTextLook Change = {};
    QString Text = {};
    bool Placeholder = false;
};

// What a field is filled with: its text in the look of the text it replaces.
struct TFieldFill {
    QString Text = {};
    bool Changeable = true;
    std::optional<int> Kind = std::nullopt;
};

// What a marked range of text is to hold, asked with the text between its
// marks: a field with that fill, or nothing to leave the marked text as it
// is (the pass then ends on it).
using TFieldFiller = std::function<std::optional<TFieldFill>(const QString& inner)>;

class TEnginePart;
class TTableFlow;
struct TLoadedDocument;
class TLoadCache;

class DocumentEngine {
public:
    // Header and footer variants: the first page's and the left (even) pages'.
    enum Part {
        HeaderPart = 1,
        HeaderFirstPart = 2,
        FooterPart = 4,
        FooterFirstPart = 8,
        MainPart = 16,
        HeaderLeftPart = 32,
        FooterLeftPart = 64
    };
    enum Format { OwnFormat = 3, WordFormat = 9, PdfFormat = 12 };
    static constexpr int kMaxFontSize = 1638;  // points

    DocumentEngine();
    ~DocumentEngine();
    DocumentEngine(const DocumentEngine&) = delete;
    DocumentEngine& operator=(const DocumentEngine&) = delete;

    // Documents and files. A failure's reason is the engine's message.
    void ClearDocument();
    // The whole document of an RTF file: its parts, page layout and images.
    TOutcome LoadDocument(const QString& file);
    // The main text of an RTF file (the engine's own attributes read too) in
    // place of [start, start + length) of the main text, with its fields,
    // pictures, shapes and footnotes; its page layout is not taken.
    TOutcome InsertDocument(const QString& file, int start, int length);
    // The page size and margins the last loaded file gave, as its own attributes number them.
    int LoadSaveAttribute(int index) const;
    // The file appears whole or not at all.
    TOutcome SaveDocument(const QString& file, int format);
    // The bytes SaveDocument writes to file (a PDF is titled with its base
    // name), for a caller that writes them itself.
    TResult<QByteArray> DocumentBytes(const QString& file, int format);

    // The header or footer parts some page shows: the plain one, then the
    // first page's and the left pages' when the document has them.
    std::vector<int> HeaderParts() const;
    std::vector<int> FooterParts() const;
    bool TitlePage() const { return FSetup.TitlePage; }
    bool FacingPages() const { return FSetup.FacingPages; }

    // Editing by value: each names the part and the place, and leaves the
    // active part and the selection as they are. Places are clamped to the
    // part.
    QString PartText(int part) const;
    // The look text typed at a position of a part gets (as FontName,
    // FontSize and ForeColor tell it).
    TTextLook LookAt(int part, int position) const;
    // The part's text made text, keeping what stays the same; what is new has
    // the look of the part's end, changed by change.
    void SetPartText(int part, const QString& text, const TTextLook& change = {});
    // [start, start + length) of a part replaced by text in the look of the text at start.
    void ReplaceText(int part, int start, int length, const QString& text);
    // The first count occurrences of marker in a part (all with -1) replaced
    // by text; how many were.
    int ReplaceMarker(int part, const QString& marker, const QString& text, int count = -1);
    // [start, start + length) of a part given the look base and replaced by
    // the runs, each in the look so far changed by its own, as if typed
    // there: the part's caret then waits on the first placeholder field,
    // which becomes the current one. False when a placeholder could not be
    // made: the runs after it are not written.
    bool WriteRuns(int part, int start, int length, const TTextLook& base, const std::vector<TTextRun>& runs);
    // [start, end) of a part made a field with that text; fails where it
    // would cut another field.
    TResult<int> MakeField(int part, int start, int end);
    TOutcome FillField(int id, const TFieldFill& fill);
    // Every range from open to close of a part made a field, as filler says,
    // from the part's start. An open mark with another before its close
    // marks nothing. A field's own text is searched too: a range in it would
    // cut the field, and the pass ends there.
    void FillMarkedFields(int part, const QString& open, const QString& close, const TFieldFiller& filler);

    // Text of the active part.
    void ActivatePart(int part);
    void SelectPart(int part);
    int ActivePart() const { return FActive; }
    QString Text() const;
    void SetText(const QString& text);
    int Find(const QString& text, int start, int options = 0) const;
    int SelStart() const;
    void SetSelStart(int position);
    int SelLength() const;
    void SetSelLength(int length);
    QString SelText() const;
    void SetSelText(const QString& text);

    // Character and paragraph formats: with a selection they format it; in
    // any case they apply to the text inserted next.
    QString FontName() const;
    void SetFontName(const QString& name);
    int FontSize() const;
    TOutcome SetFontSize(int points);
    int FontBold() const;
    void SetFontBold(int on);
    int FontItalic() const;
    void SetFontItalic(int on);
    int FontUnderline() const;
    void SetFontUnderline(int on);
    int ForeColor() const;  // 0x00BBGGRR
    void SetForeColor(int color);
    int Alignment() const;  // 0 left, 1 right, 2 centre, 3 justified
    TOutcome SetAlignment(int alignment);

    // Fields: ranges with an id, a text, a changeable flag and a kind.
    // The new field's id; it becomes the current field.
    TResult<int> InsertField(const QString& text);
    TOutcome SetFieldKind(int id, int kind);
    int FieldKind(int id) const;
    int FieldCurrent() const { return FFieldCurrent; }
    TOutcome SetFieldCurrent(int id);
    QString FieldText() const;
    TOutcome SetFieldText(const QString& text);
    bool FieldChangeable() const;
    TOutcome SetFieldChangeable(bool changeable);
    int FieldStart() const;
    std::vector<int> FieldIds(int part) const;

    // Positioned images; fails when the file cannot be loaded.
    TOutcome InsertImage(const QString& file, const TImagePlacement& placement);
    const std::vector<TPositionedImage>& Images() const { return FImages; }
    const std::vector<TPositionedShape>& Shapes() const { return FShapes; }
    // Footnotes: the main-text position of each reference mark and its text.
    int FootnoteCount() const;
    int FootnoteAnchor(int index) const;
    QTextDocument* FootnoteDocument(int index) const;

    // Pages.
    int CurrentPages();
    int PageWidth() const { return FSetup.PageWidth; }
    TOutcome SetPageWidth(int twips);
    int PageHeight() const { return FSetup.PageHeight; }
    TOutcome SetPageHeight(int twips);
    int PageMarginL() const { return FSetup.MarginL; }
    TOutcome SetPageMarginL(int twips);
    int PageMarginT() const { return FSetup.MarginT; }
    TOutcome SetPageMarginT(int twips);
    int PageMarginR() const { return FSetup.MarginR; }
    TOutcome SetPageMarginR(int twips);
    int PageMarginB() const { return FSetup.MarginB; }
    TOutcome SetPageMarginB(int twips);
    const TPageSetup& PageSetup() const { return FSetup; }
    // Sections after the first with a page of their own (size, orientation,
    // margins, columns): where each starts in the main text and its page. A
    // page takes the setup of the section its first line is in.
    int SectionCount() const { return 1 + static_cast<int>(FSections.size()); }
    int SectionStart(int section) const;
    const TPageSetup& SectionSetup(int section) const;
    const TPageSetup& PageSetupOf(int page);
    // Where the parts sit on page 1, and on page n.
    const TPageGeometry& Geometry();
    TPageGeometry PageGeometry(int page);

    // Drawing: page n (from 1) on the painter in PrintDevice, or any painter.
    QPainter* PrintDevice() const { return FPrintDevice; }
    void SetPrintDevice(QPainter* painter) { FPrintDevice = painter; }
    TOutcome PrintPage(int page);
    void DrawPage(QPainter& painter, int page);
    // Prints every page through the handler the printing layer installs.
    TOutcome PrintDocument(const QString& jobName);
    std::function<bool(DocumentEngine&, const QString& jobName)> PrintHandler;
    // The whole document as PDF bytes.
    QByteArray PdfBytes(const QString& title);

    // View and layout switches kept for callers; the engine always shows
    // header and footer when they hold text.
    int ViewMode() const { return FViewMode; }
    void SetViewMode(int mode) { FViewMode = mode; }
    int HeaderFooter() const { return FHeaderFooter; }
    void SetHeaderFooter(int value) { FHeaderFooter = value; }
    int HeaderFooterStyle() const { return FHeaderFooterStyle; }
    void SetHeaderFooterStyle(int value) { FHeaderFooterStyle = value; }
    bool FormatSelection() const { return FFormatSelection; }
    void SetFormatSelection(bool on) { FFormatSelection = on; }
    void Refresh();

    std::function<void(TEngineErrorEvent&)> OnError;
    std::function<void()> OnChanged;  // for the view

    // For the file writers and the view.
    QTextDocument* PartDocument(int part) const;
    const std::map<int, std::pair<int, int>> FieldRanges(int part) const;  // id -> [start, end)
    bool FieldChangeableOf(int id) const;
    const TEnginePart& PartData(int part) const;

private:
    friend struct TLoadedDocument;
    TEnginePart& Active() const;
    TEnginePart& Part(int part) { return const_cast<TEnginePart&>(PartData(part)); }
    // A field of [start, end) of a part, made when it cuts no other: its id.
    TResult<int> AddField(TEnginePart& part, int start, int end);
    void ReplaceKeepingCommon(TEnginePart& part, const QString& text, const QTextCharFormat& format);
    void WriteFieldText(TEnginePart& part, int id, const QString& text);
    TEnginePart* PartOf(int id) const;
    // The failure, told to OnError first.
    TFailure Fail(int number, const QString& message);
    void Changed();
    // A file checked and read (through the cache), its page attributes kept;
    // own tells that the reading is not kept, so its parts may be taken.
    TResult<TLoadedDocument*> ReadDocument(const QString& file, bool& own);
    void AdoptLoaded(TLoadedDocument& loaded, bool take);
    // The main text of a loaded file in place of the cursor's selection; the
    // cursor ends after it.
    void InsertLoadedInto(QTextCursor& cursor, const TLoadedDocument& loaded);
    void ApplyCharFormat(TEnginePart& part, const QTextCharFormat& format);
    void UpdateLayout();
    void Paginate();
    int HeaderOf(int page) const;
    int FooterOf(int page) const;

    std::unique_ptr<TEnginePart> FHeader;
    std::unique_ptr<TEnginePart> FFooter;
    std::unique_ptr<TEnginePart> FMain;
    std::unique_ptr<TEnginePart> FHeaderFirst;
    std::unique_ptr<TEnginePart> FFooterFirst;
    std::unique_ptr<TEnginePart> FHeaderLeft;
    std::unique_ptr<TEnginePart> FFooterLeft;
    std::unique_ptr<TLoadCache> FLoadCache;
    struct TFootnote;
    std::vector<TFootnote> FFootnotes;
    std::vector<TPositionedShape> FShapes;
    // The main text is laid out in one column; these are the pages cut from it.
    struct TPageBand {
        double Top = 0;       // layout range of the main text on the page
        double Bottom = 0;
        double RepeatTop = 0;  // header rows of a table cut by the page top, drawn first
        double RepeatBottom = 0;
        std::vector<int> Footnotes;
        double FootnoteHeight = 0;
        int Section = 0;
        // The layout ranges of the page's further newspaper columns, left to right.
        std::vector<std::pair<double, double>> Columns;
    };
    struct TSection {
        QTextCursor Start;
        TPageSetup Setup;
    };
    std::vector<TSection> FSections;
    TPageGeometry GeometryFor(const TPageSetup& setup, int page);
    // Each paragraph of the main text laid out at its section's column width.
    double FitColumnWidths();
    std::vector<TPageBand> FPages;
    // The main text's pages are cut from this when the engine lays its tables out.
    std::unique_ptr<TTableFlow> FTableFlow;
    int FActive = MainPart;
    int FFieldCurrent = 0;
    int FNextFieldId = 1;
    std::vector<TPositionedImage> FImages;
    TPageSetup FSetup;
    int FLoadedAttributes[6] = {11906, 16838, 1134, 1134, 1134, 1134};
    QPainter* FPrintDevice = nullptr;
    int FViewMode = 0;
    int FHeaderFooter = 0;
    int FHeaderFooterStyle = 0;
    bool FFormatSelection = true;
    bool FLayoutDirty = true;
    TPageGeometry FGeometry;
};
