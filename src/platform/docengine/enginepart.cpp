#include "platform/docengine/enginepart.h"

#include "platform/docengine/picturehandler.h"

#include <QAbstractTextDocumentLayout>
#include <QFont>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QUrl>

#include <algorithm>
#include <atomic>

namespace {

std::atomic<int> gPictureCounter {0};

void InstallFontSubstitutes()
{
    // Metric-compatible faces for the fonts Windows letterheads name.
    static const bool once = [] {
        const std::pair<const char*, const char*> table[] = {
            {"MS Sans Serif", "Liberation Sans"}, {"Arial", "Liberation Sans"},    {"Helvetica", "Liberation Sans"},
            {"Tahoma", "Liberation Sans"},        {"Verdana", "Liberation Sans"},  {"Calibri", "Carlito"},
            {"Cambria", "Caladea"},               {"Times New Roman", "Liberation Serif"},
            {"Times", "Liberation Serif"},        {"Courier New", "Liberation Mono"}, {"Courier", "Liberation Mono"},
        };
        for (const auto& [family, substitute] : table)
            QFont::insertSubstitution(QString::fromLatin1(family), QString::fromLatin1(substitute));
        return true;
    }();
    (void)once;
}

}  // namespace

QPaintDevice* TEnginePart::LayoutDevice()
{
    static QImage device = [] {
        QImage image(1, 1, QImage::Format_Mono);
        const int dotsPerMeter = qRound(1440 / 0.0254);
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        return image;
    }();
    return &device;
}

QTextCharFormat TEnginePart::DefaultCharFormat()
{
    QTextCharFormat format;
    format.setFontFamilies(QStringList {QStringLiteral("Arial")});
    format.setFontPointSize(10);
    format.setForeground(QColor(Qt::black));
    return format;
}

TEnginePart::TEnginePart() : Doc(std::make_unique<QTextDocument>())
{
    InstallFontSubstitutes();
    Doc->setUndoRedoEnabled(false);
    Doc->setDocumentMargin(0);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(10);
    Doc->setDefaultFont(font);
    QTextOption option = Doc->defaultTextOption();
    option.setTabStopDistance(720 / 15.0);  // half an inch, as word processors have it
    Doc->setDefaultTextOption(option);
    WatchChanges();
    Selection = QTextCursor(Doc.get());
    InputFormat = DefaultCharFormat();
}

void TEnginePart::WatchChanges()
{
    // contentsChanged comes with every edit, laid out or not.
    QObject::connect(Doc.get(), &QTextDocument::contentsChanged, Doc.get(),
                     [cache = FTextCache] { cache->Valid = false; });
}

QString TEnginePart::AsShown(QString text)
{
    // Paragraph, line and table-cell boundaries are all one break. All
    // four are at or above U+2028; most text is below.
    char16_t* c = reinterpret_cast<char16_t*>(text.data());
    for (char16_t* const end = c + text.size(); c != end; ++c)
        if (*c >= 0x2028 && (*c == 0x2028 || *c == 0x2029 || *c == 0xFDD0 || *c == 0xFDD1))
            *c = u'\n';
    return text;
}

QString TEnginePart::Text() const
{
    if (!FTextCache->Valid) {
        FTextCache->Text = AsShown(Doc->toRawText());
        FTextCache->Valid = true;
    }
    return FTextCache->Text;
}

void TEnginePart::Clear()
{
    Fields.clear();
    Pictures.clear();
    Doc->clear();
    FTextCache->Valid = false;
    Doc->setDocumentMargin(0);
    Selection = QTextCursor(Doc.get());
    InputFormat = DefaultCharFormat();
}

void TEnginePart::CopyContentFrom(const TEnginePart& from)
{
    DetachLayout();
    Clear();
    Doc->setDefaultTextOption(from.Doc->defaultTextOption());
    Doc->setDefaultFont(from.Doc->defaultFont());
    for (const auto& [name, picture] : from.Pictures) {
        Doc->addResource(QTextDocument::ImageResource, QUrl(name),
                         from.Doc->resource(QTextDocument::ImageResource, QUrl(name)));
        if (picture.Format == "wmf" || picture.Format == "emf")
            AddMetafileResource(*Doc, name, picture.Encoded);
        Pictures[name] = picture;
    }
    if (from.IsEmpty()) {
        // A fragment of an empty document carries nothing, not even the
        // formats of its one paragraph.
        const QTextCursor source(from.Doc.get());
        QTextCursor(Doc.get()).setBlockFormat(source.blockFormat());
        QTextCursor(Doc.get()).setBlockCharFormat(source.blockCharFormat());
    } else {
        QTextCursor(Doc.get()).insertFragment(QTextDocumentFragment(from.Doc.get()));
    }
    InputFormat = from.InputFormat;
    Selection = QTextCursor(Doc.get());
}

void TEnginePart::SwapContent(TEnginePart& other)
{
    // The text cache goes with its document, which tells it of changes.
    std::swap(Doc, other.Doc);
    std::swap(FTextCache, other.FTextCache);
    std::swap(Fields, other.Fields);
    std::swap(InputFormat, other.InputFormat);
    std::swap(Pictures, other.Pictures);
    // Both start again as a copy starts: unlaid, the caret at the start.
    for (TEnginePart* part : {this, &other}) {
        part->Doc->setDocumentLayout(nullptr);
        part->FLayoutReady = false;
        part->Selection = QTextCursor(part->Doc.get());
    }
    // A copy through a fragment keeps the first paragraph's formats only when
    // text follows its start; an empty one, or one a table opens, gets none.
    if (!IsEmpty() && Doc->findBlock(1).position() == 1) {
        QTextCursor first(Doc.get());
        first.setBlockFormat(QTextBlockFormat());
        first.setBlockCharFormat(QTextCharFormat());
    }
}

void TEnginePart::AddField(int id, int start, int end, bool changeable, int kind)
{
    TEngineField field;
    field.Start = QTextCursor(Doc.get());
    field.Start.setPosition(start);
    field.End = QTextCursor(Doc.get());
    field.End.setPosition(std::max(start, end));
    field.End.setKeepPositionOnInsert(true);
    field.Changeable = changeable;
    field.Kind = kind;
    Fields[id] = field;
}

std::pair<int, int> TEnginePart::FieldRange(const TEngineField& field) const
{
    const int start = field.Start.position();
    return {start, std::max(start, field.End.position())};
}

QTextImageFormat TEnginePart::AddPicture(const QImage& image, const QByteArray& encoded, const QByteArray& format,
                                         double widthTwips, double heightTwips)
{
    const QString name = QStringLiteral("orb-picture:%1").arg(++gPictureCounter);
    Doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    if (format == "wmf" || format == "emf")
        AddMetafileResource(*Doc, name, encoded);  // played when drawn; the image is its stand-in
    Pictures[name] = {encoded, format};
    QTextImageFormat imageFormat;
    imageFormat.setName(name);
    // Sizes are in 96-dpi pixels, which the layout scales to its device.
    imageFormat.setWidth(widthTwips / 15.0);
    imageFormat.setHeight(heightTwips / 15.0);
    return imageFormat;
}

void TEnginePart::DetachLayout()
{
    if (!FLayoutReady)
        return;
    Doc->setDocumentLayout(nullptr);  // made again, without layout, when next asked for
    FLayoutReady = false;
}

void TEnginePart::Insert(QTextCursor& cursor, const QString& text, const QTextCharFormat& format)
{
    DetachLayout();
    cursor.removeSelectedText();
    const int at = cursor.position();
    std::vector<TEngineField*> pinned;
    for (auto& [id, field] : Fields)
        if (field.Start.position() == at && field.End.position() <= at)
            pinned.push_back(&field);
    cursor.insertText(text, format);
    for (TEngineField* field : pinned) {
        field->Start.setPosition(at);
        field->End.setPosition(at);
    }
}

QTextCharFormat TEnginePart::FormatAt(int position, const QTextCharFormat& fallback) const
{
    if (Length() == 0)
        return fallback;
    QTextCursor at(Doc.get());
    at.setPosition(std::max(position, 1));
    QTextCharFormat format = at.charFormat();
    if (format.isImageFormat()) {
        QTextCharFormat text = DefaultCharFormat();
        text.setFont(format.font(), QTextCharFormat::FontPropertiesSpecifiedOnly);
        return text;
    }
    return format;
}

void TEnginePart::SetFieldText(int id, const QString& text)
{
    const TEditBlock block(Doc.get());
    TEngineField& field = Fields[id];
    const auto [from, to] = FieldRange(field);
    QTextCursor cursor(Doc.get());
    cursor.setPosition(from);
    const QTextCharFormat format = to > from ? FormatAt(from + 1, InputFormat) : InputFormat;
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    Insert(cursor, text, format);
    field.Start.setPosition(from);
    field.End.setPosition(from + static_cast<int>(text.size()));
}

void TEnginePart::EnsureLayout()
{
    if (!FLayoutReady) {
        PrepareLayout(*Doc);
        FLayoutReady = true;
    }
}
