// One part of a document (header, footer or main text) as the engine, the
// RTF reader and the writer share it: a QTextDocument laid out in twips, its
// fields as tracked ranges, its selection and the format of the next insert.
#pragma once

#include "platform/docengine/documentengine.h"

#include <QTextCursor>
#include <QTextDocument>

#include <map>
#include <memory>

struct TEngineField {
    QTextCursor Start;  // moves when text is inserted at the start: that text stays outside
    QTextCursor End;    // keeps its place when text is inserted at the end
    bool Changeable = true;
    int Kind = 0;
};

// Encoded bytes of an inline picture, for writing it back.
struct TInlinePicture {
    QByteArray Encoded;
    QByteArray Format;  // "png" or "jpeg"
};

class TEnginePart {
public:
    TEnginePart();

    int Length() const { return Doc->characterCount() - 1; }
    // The layout is made on first use, on the 1440-dpi device: a document
    // being built is not laid out after every insert.
    void EnsureLayout();
    // Before an edit: a live layout would redo a whole table for every
    // character that changes in it; the next page count lays out once.
    void DetachLayout();
    QString Text() const;
    // Text as Text() shows it once inserted: every break one '\n'.
    static QString AsShown(QString text);
    bool IsEmpty() const { return Doc->characterCount() <= 1; }
    void Clear();
    void AddField(int id, int start, int end, bool changeable, int kind);
    std::pair<int, int> FieldRange(const TEngineField& field) const;
    // Inserts at the cursor; empty fields standing there keep their place,
    // so the text comes after them as after any field the caret left.
    void Insert(QTextCursor& cursor, const QString& text, const QTextCharFormat& format);
    // The format text typed at a position would get: that of the character
    // before it (after it at the start of a block), never an image's; the
    // fallback in an empty part.
    QTextCharFormat FormatAt(int position, const QTextCharFormat& fallback) const;
    // A field's text replaced, in the look of what it replaces; line breaks
    // are one LF already.
    void SetFieldText(int id, const QString& text);
    // Makes this part a copy of another: its text, formats, pictures and tab
    // stops, without its fields.
    void CopyContentFrom(const TEnginePart& from);
    // Makes this part what another one was, fields and all, and that one
    // what this was: for a reading used once, whose copy would be wasted.
    void SwapContent(TEnginePart& other);
    // Registers a picture with the document and returns its image format.
    QTextImageFormat AddPicture(const QImage& image, const QByteArray& encoded, const QByteArray& format,
                                double widthTwips, double heightTwips);

    // The default look of text: Arial 10 points.
    static QTextCharFormat DefaultCharFormat();
    // Layouts are made on a 1440-dpi device, so one layout unit is one twip.
    static QPaintDevice* LayoutDevice();

    std::unique_ptr<QTextDocument> Doc;
    std::map<int, TEngineField> Fields;
    QTextCursor Selection;
    QTextCharFormat InputFormat;
    std::map<QString, TInlinePicture> Pictures;  // by resource name

private:
    bool FLayoutReady = false;
    // Text() is asked for after every edit; it is rebuilt only after a change.
    struct TTextCache {
        QString Text;
        bool Valid = false;
    };
    std::shared_ptr<TTextCache> FTextCache = std::make_shared<TTextCache>();
    void WatchChanges();
};

// Cursor moves inside an edit block skip Qt's search for the caret's x
// position, which shapes the block's text again on every move.
class TEditBlock {
public:
    explicit TEditBlock(QTextDocument* doc) : FCursor(doc) { FCursor.beginEditBlock(); }
    ~TEditBlock() { FCursor.endEditBlock(); }
    TEditBlock(const TEditBlock&) = delete;
    TEditBlock& operator=(const TEditBlock&) = delete;

private:
    QTextCursor FCursor;
};

// Paragraph spacing as the file gave it, in twips. Word processors add the
// space after one paragraph to the space before the next; the layout takes
// the larger of the two, so the reader folds the space after into the next
// paragraph's space before and keeps the file's values for writing back.
enum : int { kSpaceBeforeTwips = QTextFormat::UserProperty + 10, kSpaceAfterTwips = QTextFormat::UserProperty + 11 };

// A paragraph that starts a new page. Kept out of Qt's own page-break policy:
// the engine cuts pages itself, and Qt's pagination of thousands of breaks
// in one column is slow.
enum : int { kPageBreakBeforeProperty = QTextFormat::UserProperty + 13 };

// Paragraph looks the layout does not draw itself: line spacing as the file
// gave it (for writing back), tab leaders (one character per tab stop,
// blank for none) and borders (a list of four pens, top, left, bottom,
// right; an empty entry for no border).
enum : int {
    kLineSpacingProperty = QTextFormat::UserProperty + 14,
    kLineMultipleProperty = QTextFormat::UserProperty + 15,
    kTabLeadersProperty = QTextFormat::UserProperty + 16,
    kParagraphBordersProperty = QTextFormat::UserProperty + 17,
};

// A table row's height as the file gave it, on each of the row's cells:
// twips, positive for "at least", negative for "exactly". The layout has no
// row heights, so the engine pads the row's cells to reach it; the cell's
// own top and bottom padding (96-dpi pixels) are kept beside it.
enum : int {
    kRowHeightProperty = QTextFormat::UserProperty + 18,
    kCellTopPaddingProperty = QTextFormat::UserProperty + 19,
    kCellBottomPaddingProperty = QTextFormat::UserProperty + 20,
};

// A paragraph that starts a new column (a page when in the last one), and
// the room the layout adds to a paragraph's right indent so that it is laid
// out at its section's column width (twips; not the file's indent).
enum : int {
    kColumnBreakBeforeProperty = QTextFormat::UserProperty + 40,
    kColumnRoomProperty = QTextFormat::UserProperty + 41,
};

// On each cell of a row that is not cut between pages (\trkeep); on a table
// whose columns widen to their longest word (\trautofit1).
enum : int {
    kRowKeepProperty = QTextFormat::UserProperty + 21,
    kTableAutoFitProperty = QTextFormat::UserProperty + 22,
};

// Text that stands for the page number (1) or the page count (2): a PAGE or
// NUMPAGES field of a letterhead, drawn with the values of each page.
enum : int { kPageFieldProperty = QTextFormat::UserProperty + 12 };
enum : int { kPageNumberField = 1, kPageCountField = 2 };

// A footnote: where its reference mark stands in the main text, and its text.
struct DocumentEngine::TFootnote {
    QTextCursor Anchor;
    std::unique_ptr<TEnginePart> Body;
};

// What the RTF reader produced from a file.
struct TLoadedDocument {
    TEnginePart Header;
    TEnginePart Footer;
    TEnginePart Main;
    TEnginePart HeaderFirst;
    TEnginePart FooterFirst;
    TEnginePart HeaderLeft;
    TEnginePart FooterLeft;
    std::vector<std::pair<int, std::unique_ptr<TEnginePart>>> Footnotes;  // main-text position, text
    std::vector<TPositionedImage> Images;
    std::vector<TPositionedImage> OwnImages;  // described in the engine's own attributes
    std::vector<TPositionedShape> Shapes;
    TPageSetup Setup;
    std::vector<std::pair<int, TPageSetup>> Sections;  // later sections' main-text start and page
};
