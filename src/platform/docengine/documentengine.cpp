#include "platform/docengine/documentengine.h"

#include "platform/docengine/enginepart.h"
#include "platform/docengine/loadcache.h"
#include "platform/docengine/picturehandler.h"
#include "platform/docengine/rtfreader.h"
#include "platform/docengine/rtfwriter.h"
#include "platform/docengine/tablelayout.h"
#include "platform/pdf/pdfdevice.h"
#include "util/codepage.h"
#include "util/outputfile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocumentFragment>

#include <algorithm>

namespace {

constexpr qint64 kMaxDocumentBytes = 128ll * 1024 * 1024;

QString NormaliseBreaks(const QString& text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QColor FromColorRef(int color)
{
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

int ToColorRef(const QColor& color)
{
    return color.red() | (color.green() << 8) | (color.blue() << 16);
}

}  // namespace

int TPositionedImage::WidthTwips() const
{
    if (WidthOverride > 0)
        return WidthOverride;
    const double dpi = Image.dotsPerMeterX() > 0 ? Image.dotsPerMeterX() * 0.0254 : 96.0;
    return static_cast<int>(Image.width() * 1440.0 / dpi * (ScaleX == 0 ? 100 : ScaleX) / 100.0);
}

int TPositionedImage::HeightTwips() const
{
    if (HeightOverride > 0)
        return HeightOverride;
    const double dpi = Image.dotsPerMeterY() > 0 ? Image.dotsPerMeterY() * 0.0254 : 96.0;
    return static_cast<int>(Image.height() * 1440.0 / dpi * (ScaleY == 0 ? 100 : ScaleY) / 100.0);
}

DocumentEngine::DocumentEngine()
    : FHeader(std::make_unique<TEnginePart>()),
      FFooter(std::make_unique<TEnginePart>()),
      FMain(std::make_unique<TEnginePart>()),
      FHeaderFirst(std::make_unique<TEnginePart>()),
      FFooterFirst(std::make_unique<TEnginePart>()),
      FHeaderLeft(std::make_unique<TEnginePart>()),
      FFooterLeft(std::make_unique<TEnginePart>()),
      FLoadCache(std::make_unique<TLoadCache>())
{
}

DocumentEngine::~DocumentEngine() = default;

TEnginePart& DocumentEngine::Active() const
{
    return const_cast<TEnginePart&>(PartData(FActive));
}

QTextDocument* DocumentEngine::PartDocument(int part) const
{
    return PartData(part).Doc.get();
}

const TEnginePart& DocumentEngine::PartData(int part) const
{
    switch (part) {
    case HeaderPart: return *FHeader;
    case HeaderFirstPart: return *FHeaderFirst;
    case HeaderLeftPart: return *FHeaderLeft;
    case FooterPart: return *FFooter;
    case FooterFirstPart: return *FFooterFirst;
    case FooterLeftPart: return *FFooterLeft;
    default: return *FMain;
    }
}

std::vector<int> DocumentEngine::HeaderParts() const
{
    std::vector<int> parts {HeaderPart};
    if (FSetup.TitlePage)
        parts.push_back(HeaderFirstPart);
    if (FSetup.FacingPages)
        parts.push_back(HeaderLeftPart);
    return parts;
}

std::vector<int> DocumentEngine::FooterParts() const
{
    std::vector<int> parts {FooterPart};
    if (FSetup.TitlePage)
        parts.push_back(FooterFirstPart);
    if (FSetup.FacingPages)
        parts.push_back(FooterLeftPart);
    return parts;
}

int DocumentEngine::FootnoteCount() const
{
    return static_cast<int>(FFootnotes.size());
}

int DocumentEngine::FootnoteAnchor(int index) const
{
    return index >= 0 && index < FootnoteCount() ? FFootnotes[static_cast<std::size_t>(index)].Anchor.position() : -1;
}

QTextDocument* DocumentEngine::FootnoteDocument(int index) const
{
    return index >= 0 && index < FootnoteCount() ? FFootnotes[static_cast<std::size_t>(index)].Body->Doc.get()
                                                 : nullptr;
}

TFailure DocumentEngine::Fail(int number, const QString& message)
{
    TEngineErrorEvent event;
    event.Number = number;
    event.Description = message;
    if (OnError)
        OnError(event);
    return ::Fail(message.toStdString());
}

void DocumentEngine::Changed()
{
    FLayoutDirty = true;
    if (OnChanged)
        OnChanged();
}

void DocumentEngine::ClearDocument()
{
    for (TEnginePart* part : {FHeader.get(), FFooter.get(), FMain.get(), FHeaderFirst.get(), FFooterFirst.get(),
                              FHeaderLeft.get(), FFooterLeft.get()})
        part->Clear();
    FSetup.TitlePage = false;
    FSetup.FacingPages = false;
    FFootnotes.clear();
    FShapes.clear();
    FImages.clear();
    FSections.clear();
    FFieldCurrent = 0;
    FActive = MainPart;
    Changed();
}

// ---- documents and files -------------------------------------------------

TResult<TLoadedDocument*> DocumentEngine::ReadDocument(const QString& file, bool& own)
{
    QFile in(file);
    if (!in.exists())
        return Fail(1, QStringLiteral("The file %1 does not exist.").arg(file));
    if (in.size() > kMaxDocumentBytes)
        return Fail(2, QStringLiteral("The file %1 is too large to be a letterhead or template.").arg(file));
    if (!in.open(QIODevice::ReadOnly))
        return Fail(3, QStringLiteral("The file %1 cannot be read: %2").arg(file, in.errorString()));
    const QByteArray bytes = in.readAll();
    const QString refusal = RefuseNonRtf(bytes, file);
    if (!refusal.isEmpty())
        return Fail(4, refusal);

    TLoadedDocument& loaded = FLoadCache->Read(bytes, own);
    const TPageSetup& s = loaded.Setup;
    const int attributes[6] = {s.PageWidth, s.PageHeight, s.MarginL, s.MarginT, s.MarginR, s.MarginB};
    std::copy(std::begin(attributes), std::end(attributes), FLoadedAttributes);
    return &loaded;
}

TOutcome DocumentEngine::LoadDocument(const QString& file)
{
    bool own = false;
    const TResult<TLoadedDocument*> loaded = ReadDocument(file, own);
    if (!loaded)
        return loaded.Failure();
    AdoptLoaded(**loaded, own);
    Changed();
    return TOutcome::Done();
}

TOutcome DocumentEngine::InsertDocument(const QString& file, int start, int length)
{
    bool own = false;
    const TResult<TLoadedDocument*> loaded = ReadDocument(file, own);
    if (!loaded)
        return loaded.Failure();
    QTextCursor range(FMain->Doc.get());
    const int from = std::clamp(start, 0, FMain->Length());
    range.setPosition(from);
    range.setPosition(std::clamp(from + std::max(0, length), from, FMain->Length()), QTextCursor::KeepAnchor);
    InsertLoadedInto(range, **loaded);
    Changed();
    return TOutcome::Done();
}

void DocumentEngine::AdoptLoaded(TLoadedDocument& loaded, bool take)
{
    const std::pair<TEnginePart*, TEnginePart*> parts[] = {
        {&loaded.Header, FHeader.get()},           {&loaded.Footer, FFooter.get()},
        {&loaded.Main, FMain.get()},               {&loaded.HeaderFirst, FHeaderFirst.get()},
        {&loaded.FooterFirst, FFooterFirst.get()}, {&loaded.HeaderLeft, FHeaderLeft.get()},
        {&loaded.FooterLeft, FFooterLeft.get()},
    };
    for (const auto& [from, part] : parts) {
        if (take)
            part->SwapContent(*from);
        else
            CopyPartKeepingIds(*from, *part);
        for (const auto& [id, field] : part->Fields)
            FNextFieldId = std::max(FNextFieldId, id + 1);
    }
    FFootnotes.clear();
    for (const auto& [position, body] : loaded.Footnotes) {
        TFootnote note;
        note.Anchor = QTextCursor(FMain->Doc.get());
        note.Anchor.setPosition(std::clamp(position, 0, FMain->Length()));
        note.Body = CopyOfPart(*body);
        FFootnotes.push_back(std::move(note));
    }
    FShapes = CopyShapes(loaded.Shapes);
    FImages = loaded.Images;
    FSections.clear();
    for (const auto& [start, setup] : loaded.Sections) {
        TSection section {QTextCursor(FMain->Doc.get()), setup};
        section.Start.setPosition(std::clamp(start, 0, FMain->Length()));
        FSections.push_back(std::move(section));
    }
    FImages.insert(FImages.end(), loaded.OwnImages.begin(), loaded.OwnImages.end());
    FSetup = loaded.Setup;
    FActive = MainPart;
    FFieldCurrent = 0;
}

void DocumentEngine::InsertLoadedInto(QTextCursor& cursor, const TLoadedDocument& loaded)
{
    TEnginePart& main = *FMain;
    const int start = cursor.selectionStart();
    main.DetachLayout();
    cursor.removeSelectedText();
    for (const auto& [name, picture] : loaded.Main.Pictures) {
        main.Doc->addResource(QTextDocument::ImageResource, QUrl(name),
                              loaded.Main.Doc->resource(QTextDocument::ImageResource, QUrl(name)));
        if (picture.Format == "wmf" || picture.Format == "emf")
            AddMetafileResource(*main.Doc, name, picture.Encoded);
        main.Pictures[name] = picture;
    }
    const int before = main.Length();
    cursor.insertFragment(QTextDocumentFragment(loaded.Main.Doc.get()));
    const int inserted = main.Length() - before;
    for (const auto& [id, field] : loaded.Main.Fields) {
        const auto [from, to] = loaded.Main.FieldRange(field);
        const int newId = PartOf(id) ? FNextFieldId++ : id;
        FNextFieldId = std::max(FNextFieldId, newId + 1);
        main.AddField(newId, std::min(start + from, start + inserted), std::min(start + to, start + inserted),
                      field.Changeable, field.Kind);
    }
    // Images the file describes with its own attributes are placed again by
    // the caller; embedded pictures, shapes and footnotes come along, those
    // anchored in the text at their place in it.
    auto moved = [&](int anchor) { return anchor < 0 ? anchor : std::min(start + anchor, start + inserted); };
    for (TPositionedImage image : loaded.Images) {
        image.AnchorPosition = moved(image.AnchorPosition);
        FImages.push_back(std::move(image));
    }
    for (TPositionedShape& shape : CopyShapes(loaded.Shapes)) {
        shape.AnchorPosition = moved(shape.AnchorPosition);
        FShapes.push_back(std::move(shape));
    }
    for (const auto& [position, body] : loaded.Footnotes) {
        TFootnote note;
        note.Anchor = QTextCursor(FMain->Doc.get());
        note.Anchor.setPosition(moved(std::clamp(position, 0, inserted)));
        note.Body = CopyOfPart(*body);
        FFootnotes.push_back(std::move(note));
    }
    // In document order, as they are numbered and drawn.
    std::stable_sort(FFootnotes.begin(), FFootnotes.end(),
                     [](const TFootnote& a, const TFootnote& b) { return a.Anchor.position() < b.Anchor.position(); });
    cursor.setPosition(start + inserted);
}

int DocumentEngine::LoadSaveAttribute(int index) const
{
    return index >= 0 && index < 6 ? FLoadedAttributes[index] : 0;
}

TResult<QByteArray> DocumentEngine::DocumentBytes(const QString& file, int format)
{
    if (format == PdfFormat)
        return PdfBytes(QFileInfo(file).completeBaseName());
    if (format == WordFormat || format == OwnFormat)
        return WriteRtf(*this, format == OwnFormat);
    return ::Fail(QStringLiteral("Unknown document format %1").arg(format).toStdString());
}

TOutcome DocumentEngine::SaveDocument(const QString& file, int format)
{
    const TResult<QByteArray> bytes = DocumentBytes(file, format);
    if (!bytes)
        return bytes.Failure();
    const TOutcome written =
        WriteOutputFileNative(QFile::encodeName(file).toStdString(),
                              std::string_view(bytes->constData(), static_cast<std::size_t>(bytes->size())));
    if (!written)
        return Reworded(written.Failure(),
                        QStringLiteral("Could not save %1: %2").arg(file, ToUnicode(written.Reason())).toStdString());
    return TOutcome::Done();
}

// ---- text and selection --------------------------------------------------

void DocumentEngine::ActivatePart(int part)
{
    switch (part) {
    case HeaderPart: case HeaderFirstPart: case HeaderLeftPart:
    case FooterPart: case FooterFirstPart: case FooterLeftPart:
        FActive = part;
        break;
    default:
        FActive = MainPart;
    }
}

void DocumentEngine::SelectPart(int part)
{
    ActivatePart(part);
}

QString DocumentEngine::Text() const
{
    return Active().Text();
}

void DocumentEngine::SetText(const QString& text)
{
    TEnginePart& part = Active();
    ReplaceKeepingCommon(part, text, part.InputFormat);
    part.Selection.setPosition(part.Length());
}

void DocumentEngine::ReplaceKeepingCommon(TEnginePart& part, const QString& text, const QTextCharFormat& format)
{
    // Keep what stays the same, so formats and fields before the change survive.
    const QString current = part.Text();
    const QString wanted = NormaliseBreaks(text);
    int common = 0;
    while (common < current.size() && common < wanted.size() && current[common] == wanted[common])
        ++common;
    QTextCursor cursor(part.Doc.get());
    cursor.setPosition(common);
    cursor.setPosition(part.Length(), QTextCursor::KeepAnchor);
    part.Insert(cursor, wanted.mid(common), format);
    Changed();
}

int DocumentEngine::Find(const QString& text, int start, int options) const
{
    if (text.isEmpty() || start < 0)
        return -1;
    // The searches that pass options 24 look for tags and marker lines that
    // people type in any letter case.
    const Qt::CaseSensitivity cs = options == 24 ? Qt::CaseInsensitive : Qt::CaseSensitive;
    return static_cast<int>(Text().indexOf(text, start, cs));
}

int DocumentEngine::SelStart() const
{
    return Active().Selection.selectionStart();
}

void DocumentEngine::SetSelStart(int position)
{
    TEnginePart& part = Active();
    const TEditBlock block(part.Doc.get());
    const int length = part.Length();
    const int start = std::clamp(position, 0, length);
    // The selection keeps its length where it can.
    const int selected = std::min(SelLength(), length - start);
    part.InputFormat = part.FormatAt(start, part.InputFormat);
    part.Selection.setPosition(start);
    part.Selection.setPosition(start + selected, QTextCursor::KeepAnchor);
}

int DocumentEngine::SelLength() const
{
    const QTextCursor& s = Active().Selection;
    return s.selectionEnd() - s.selectionStart();
}

void DocumentEngine::SetSelLength(int length)
{
    TEnginePart& part = Active();
    const TEditBlock block(part.Doc.get());
    const int start = part.Selection.selectionStart();
    const int end = std::clamp(start + std::max(0, length), start, part.Length());
    part.Selection.setPosition(start);
    part.Selection.setPosition(end, QTextCursor::KeepAnchor);
}

QString DocumentEngine::SelText() const
{
    return Text().mid(SelStart(), SelLength());
}

void DocumentEngine::SetSelText(const QString& text)
{
    TEnginePart& part = Active();
    part.Insert(part.Selection, NormaliseBreaks(text), part.InputFormat);
    Changed();
}

// ---- formats -------------------------------------------------------------

void DocumentEngine::ApplyCharFormat(TEnginePart& part, const QTextCharFormat& format)
{
    part.InputFormat.merge(format);
    if (part.Selection.hasSelection()) {
        part.DetachLayout();
        part.Selection.mergeCharFormat(format);
        Changed();
    }
}

static QTextCharFormat CurrentFormat(const TEnginePart& part)
{
    if (!part.Selection.hasSelection())
        return part.InputFormat;
    return part.FormatAt(part.Selection.selectionStart() + 1, part.InputFormat);
}

QString DocumentEngine::FontName() const
{
    const QStringList families = CurrentFormat(Active()).fontFamilies().toStringList();
    return families.isEmpty() ? QStringLiteral("Arial") : families.first();
}

void DocumentEngine::SetFontName(const QString& name)
{
    QTextCharFormat f;
    f.setFontFamilies(QStringList {name});
    ApplyCharFormat(Active(), f);
}

int DocumentEngine::FontSize() const
{
    const double size = CurrentFormat(Active()).fontPointSize();
    return size > 0 ? qRound(size) : 10;
}

TOutcome DocumentEngine::SetFontSize(int points)
{
    if (points <= 0 || points > kMaxFontSize)
        return Fail(10, QStringLiteral("Font size %1 is out of range.").arg(points));
    QTextCharFormat f;
    f.setFontPointSize(points);
    ApplyCharFormat(Active(), f);
    return TOutcome::Done();
}

int DocumentEngine::FontBold() const
{
    return CurrentFormat(Active()).fontWeight() >= QFont::DemiBold ? 1 : 0;
}

void DocumentEngine::SetFontBold(int on)
{
    QTextCharFormat f;
    f.setFontWeight(on ? QFont::Bold : QFont::Normal);
    ApplyCharFormat(Active(), f);
}

int DocumentEngine::FontItalic() const
{
    return CurrentFormat(Active()).fontItalic() ? 1 : 0;
}

void DocumentEngine::SetFontItalic(int on)
{
    QTextCharFormat f;
    f.setFontItalic(on != 0);
    ApplyCharFormat(Active(), f);
}

int DocumentEngine::FontUnderline() const
{
    return CurrentFormat(Active()).fontUnderline() ? 1 : 0;
}

void DocumentEngine::SetFontUnderline(int on)
{
    QTextCharFormat f;
    f.setFontUnderline(on != 0);
    ApplyCharFormat(Active(), f);
}

int DocumentEngine::ForeColor() const
{
    const QTextCharFormat f = CurrentFormat(Active());
    return f.hasProperty(QTextFormat::ForegroundBrush) ? ToColorRef(f.foreground().color()) : 0;
}

void DocumentEngine::SetForeColor(int color)
{
    QTextCharFormat f;
    f.setForeground(FromColorRef(color));
    ApplyCharFormat(Active(), f);
}

int DocumentEngine::Alignment() const
{
    const Qt::Alignment a = Active().Selection.blockFormat().alignment();
    if (a & Qt::AlignHCenter)
        return 2;
    if (a & Qt::AlignJustify)
        return 3;
    if (a & Qt::AlignRight)
        return 1;
    return 0;
}

TOutcome DocumentEngine::SetAlignment(int alignment)
{
    static const Qt::Alignment kAlign[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter, Qt::AlignJustify};
    if (alignment < 0 || alignment > 3)
        return Fail(11, QStringLiteral("Alignment %1 is out of range.").arg(alignment));
    QTextBlockFormat f;
    f.setAlignment(kAlign[alignment] | Qt::AlignAbsolute);
    Active().DetachLayout();
    Active().Selection.mergeBlockFormat(f);
    Changed();
    return TOutcome::Done();
}

// ---- fields ----------------------------------------------------------------

TEnginePart* DocumentEngine::PartOf(int id) const
{
    for (TEnginePart* part : {FHeader.get(), FFooter.get(), FMain.get(), FHeaderFirst.get(), FFooterFirst.get(),
                              FHeaderLeft.get(), FFooterLeft.get()})
        if (part->Fields.count(id))
            return part;
    return nullptr;
}

TResult<int> DocumentEngine::InsertField(const QString& text)
{
    TEnginePart& part = Active();
    const TEditBlock block(part.Doc.get());
    int start = part.Selection.selectionStart();
    int end = part.Selection.selectionEnd();
    if (!text.isEmpty()) {
        part.DetachLayout();
        part.Selection.removeSelectedText();
        start = part.Selection.position();
        const QString inserted = NormaliseBreaks(text);
        part.Insert(part.Selection, inserted, part.InputFormat);
        end = start + static_cast<int>(inserted.size());
    }
    const TResult<int> id = AddField(part, start, end);
    if (id)
        FFieldCurrent = *id;
    return id;
}

TResult<int> DocumentEngine::AddField(TEnginePart& part, int start, int end)
{
    for (const auto& [id, field] : part.Fields) {
        const auto [from, to] = part.FieldRange(field);
        if (start < to && end > from && !(start <= from && end >= to && from == to))
            return Fail(20, QStringLiteral("A field cannot be made inside another field."));
    }
    const int id = FNextFieldId++;
    part.AddField(id, start, end, true, 0);
    Changed();
    return id;
}

TOutcome DocumentEngine::SetFieldKind(int id, int kind)
{
    TEnginePart* part = PartOf(id);
    if (!part)
        return Fail(21, QStringLiteral("There is no field %1.").arg(id));
    part->Fields[id].Kind = kind;
    return TOutcome::Done();
}

int DocumentEngine::FieldKind(int id) const
{
    const TEnginePart* part = PartOf(id);
    return part ? part->Fields.at(id).Kind : 0;
}

TOutcome DocumentEngine::SetFieldCurrent(int id)
{
    if (!PartOf(id))
        return Fail(21, QStringLiteral("There is no field %1.").arg(id));
    FFieldCurrent = id;
    return TOutcome::Done();
}

QString DocumentEngine::FieldText() const
{
    const TEnginePart* part = PartOf(FFieldCurrent);
    if (!part)
        return {};
    const auto [from, to] = part->FieldRange(part->Fields.at(FFieldCurrent));
    return part->Text().mid(from, to - from);
}

TOutcome DocumentEngine::SetFieldText(const QString& text)
{
    TEnginePart* part = PartOf(FFieldCurrent);
    if (!part)
        return Fail(21, QStringLiteral("There is no current field."));
    WriteFieldText(*part, FFieldCurrent, text);
    return TOutcome::Done();
}

void DocumentEngine::WriteFieldText(TEnginePart& part, int id, const QString& text)
{
    part.SetFieldText(id, NormaliseBreaks(text));
    Changed();
}

bool DocumentEngine::FieldChangeable() const
{
    const TEnginePart* part = PartOf(FFieldCurrent);
    return part ? part->Fields.at(FFieldCurrent).Changeable : false;
}

TOutcome DocumentEngine::SetFieldChangeable(bool changeable)
{
    TEnginePart* part = PartOf(FFieldCurrent);
    if (!part)
        return Fail(21, QStringLiteral("There is no current field."));
    part->Fields[FFieldCurrent].Changeable = changeable;
    return TOutcome::Done();
}

bool DocumentEngine::FieldChangeableOf(int id) const
{
    const TEnginePart* part = PartOf(id);
    return part ? part->Fields.at(id).Changeable : false;
}

int DocumentEngine::FieldStart() const
{
    const TEnginePart* part = PartOf(FFieldCurrent);
    return part ? part->FieldRange(part->Fields.at(FFieldCurrent)).first : -1;
}

std::vector<int> DocumentEngine::FieldIds(int part) const
{
    std::vector<int> ids;
    const TEnginePart& p = PartData(part);
    for (const auto& [id, field] : p.Fields)
        ids.push_back(id);
    return ids;
}

const std::map<int, std::pair<int, int>> DocumentEngine::FieldRanges(int part) const
{
    std::map<int, std::pair<int, int>> ranges;
    const TEnginePart& p = PartData(part);
    for (const auto& [id, field] : p.Fields)
        ranges[id] = p.FieldRange(field);
    return ranges;
}

// ---- editing by value ----------------------------------------------------

namespace {

QTextCharFormat FormatOf(const TTextLook& look)
{
    QTextCharFormat f;
    if (look.Font)
        f.setFontFamilies(QStringList {*look.Font});
    if (look.Size && *look.Size > 0 && *look.Size <= DocumentEngine::kMaxFontSize)
        f.setFontPointSize(*look.Size);
    if (look.Color)
        f.setForeground(FromColorRef(*look.Color));
    if (look.Bold)
        f.setFontWeight(*look.Bold ? QFont::Bold : QFont::Normal);
    if (look.Italic)
        f.setFontItalic(*look.Italic);
    if (look.Underline)
        f.setFontUnderline(*look.Underline);
    return f;
}

}  // namespace

QString DocumentEngine::PartText(int part) const
{
    return PartData(part).Text();
}

TTextLook DocumentEngine::LookAt(int partId, int position) const
{
    const TEnginePart& part = PartData(partId);
    const QTextCharFormat f = part.FormatAt(std::clamp(position, 0, part.Length()), part.InputFormat);
    const QStringList families = f.fontFamilies().toStringList();
    const double size = f.fontPointSize();
    return {.Font = families.isEmpty() ? QStringLiteral("Arial") : families.first(),
            .Size = size > 0 ? qRound(size) : 10,
            .Color = f.hasProperty(QTextFormat::ForegroundBrush) ? ToColorRef(f.foreground().color()) : 0,
            .Bold = f.fontWeight() >= QFont::DemiBold,
            .Italic = f.fontItalic(),
            .Underline = f.fontUnderline()};
}

void DocumentEngine::SetPartText(int partId, const QString& text, const TTextLook& change)
{
    TEnginePart& part = Part(partId);
    QTextCharFormat format = part.FormatAt(part.Length(), part.InputFormat);
    format.merge(FormatOf(change));
    ReplaceKeepingCommon(part, text, format);
}

void DocumentEngine::ReplaceText(int partId, int start, int length, const QString& text)
{
    TEnginePart& part = Part(partId);
    const int from = std::clamp(start, 0, part.Length());
    const int to = std::clamp(from + std::max(0, length), from, part.Length());
    QTextCursor range(part.Doc.get());
    range.setPosition(from);
    range.setPosition(to, QTextCursor::KeepAnchor);
    part.Insert(range, NormaliseBreaks(text), part.FormatAt(from, part.InputFormat));
    Changed();
}

int DocumentEngine::ReplaceMarker(int partId, const QString& marker, const QString& text, int count)
{
    if (marker.isEmpty())
        return 0;
    const int step = static_cast<int>(NormaliseBreaks(text).size());
    int replaced = 0;
    for (int from = 0; count < 0 || replaced < count; ++replaced) {
        const int at = static_cast<int>(PartData(partId).Text().indexOf(marker, from));
        if (at < 0)
            break;
        ReplaceText(partId, at, static_cast<int>(marker.size()), text);
        from = at + step;
    }
    return replaced;
}

bool DocumentEngine::WriteRuns(int partId, int start, int length, const TTextLook& base,
                               const std::vector<TTextRun>& runs)
{
    // As typing over a selection: the base look goes onto the selected text
    // too, and each run takes the look of the one before with its change.
    TEnginePart& part = Part(partId);
    const int from = std::clamp(start, 0, part.Length());
    QTextCursor typing(part.Doc.get());
    typing.setPosition(from);
    typing.setPosition(std::clamp(from + std::max(0, length), from, part.Length()), QTextCursor::KeepAnchor);
    QTextCharFormat look = part.FormatAt(from, part.InputFormat);
    const auto change = [&](const TTextLook& by) {
        const QTextCharFormat format = FormatOf(by);
        look.merge(format);
        if (typing.hasSelection() && !format.properties().isEmpty()) {
            part.DetachLayout();
            typing.mergeCharFormat(format);
        }
    };
    change(base);
    part.Insert(typing, QString(), look);
    int first = 0;
    for (const TTextRun& run : runs) {
        change(run.Change);
        part.Insert(typing, NormaliseBreaks(run.Text), look);
        if (!run.Placeholder)
            continue;
        const TEditBlock block(part.Doc.get());
        const int at = typing.position();
        part.Insert(typing, QStringLiteral(" "), look);
        const TResult<int> field = AddField(part, at, at + 1);
        if (!field)
            return false;
        part.Fields[*field].Kind = 20;
        if (first == 0)
            first = *field;
    }
    if (first != 0) {
        FFieldCurrent = first;
        const int at = part.FieldRange(part.Fields[first]).first;
        part.InputFormat = part.FormatAt(at, part.InputFormat);
        part.Selection.setPosition(at);
    }
    Changed();
    return true;
}

TResult<int> DocumentEngine::MakeField(int partId, int start, int end)
{
    TEnginePart& part = Part(partId);
    const TEditBlock block(part.Doc.get());
    const int from = std::clamp(start, 0, part.Length());
    return AddField(part, from, std::clamp(end, from, part.Length()));
}

TOutcome DocumentEngine::FillField(int id, const TFieldFill& fill)
{
    TEnginePart* part = PartOf(id);
    if (!part)
        return Fail(21, QStringLiteral("There is no field %1.").arg(id));
    if (fill.Kind)
        part->Fields[id].Kind = *fill.Kind;
    WriteFieldText(*part, id, fill.Text);
    part->Fields[id].Changeable = fill.Changeable;
    return TOutcome::Done();
}

void DocumentEngine::FillMarkedFields(int partId, const QString& open, const QString& close,
                                      const TFieldFiller& filler)
{
    QString text = PartText(partId);
    // One edit for the pass, not one for each value: the part's kept text is
    // out of date until it ends, and the text searched is kept here.
    const TEditBlock pass(Part(partId).Doc.get());
    int pos = 0;
    std::optional<int> previous;
    for (;;) {
        const int start = static_cast<int>(text.indexOf(open, pos));
        if (start < 0)
            break;
        const int end = static_cast<int>(text.indexOf(close, start));
        const int next = end < 0 ? -1 : static_cast<int>(text.indexOf(open, start + open.size()));
        if (end < 0 || (next >= 0 && next < end)) {
            pos = start + static_cast<int>(open.size());
        } else {
            pos = start;
            const int after = end + static_cast<int>(close.size());
            if (const TResult<int> field = MakeField(partId, start, after)) {
                const int inner = start + static_cast<int>(open.size());
                if (const std::optional<TFieldFill> fill = filler(text.mid(inner, end - inner))) {
                    static_cast<void>(FillField(*field, *fill));  // the field was just made
                    // The value put in place of the marker as the part shows
                    // it (the field holds exactly the value, breaks made one),
                    // rather than the whole part read again for each tag.
                    text.replace(start, after - start, TEnginePart::AsShown(NormaliseBreaks(fill->Text)));
                }
            }
        }
        if (text.size() <= pos || (previous && *previous == pos))
            break;
        previous = pos;
    }
}

// ---- images --------------------------------------------------------------

TOutcome DocumentEngine::InsertImage(const QString& file, const TImagePlacement& placement)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly) || in.size() > kMaxDocumentBytes)
        return ::Fail(QStringLiteral("The image %1 cannot be read.").arg(file).toStdString());
    QByteArray bytes = in.readAll();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(512);
    TPositionedImage image;
    if (!reader.read(&image.Image) || image.Image.isNull())
        return ::Fail(
            QStringLiteral("The image %1 cannot be decoded: %2").arg(file, reader.errorString()).toStdString());
    const QByteArray format = reader.format().toLower();
    if (format == "png" || format == "jpeg" || format == "jpg") {
        image.Encoded = bytes;
        image.EncodedFormat = format == "png" ? "png" : "jpeg";
    }
    image.FileName = file;
    static_cast<TImagePlacement&>(image) = placement;
    image.ScaleX = placement.ScaleX == 0 ? 100 : placement.ScaleX;
    image.ScaleY = placement.ScaleY == 0 ? 100 : placement.ScaleY;
    FImages.push_back(std::move(image));
    Changed();
    return TOutcome::Done();
}

// ---- pages -----------------------------------------------------------------

TOutcome DocumentEngine::SetPageWidth(int twips)
{
    if (twips < 1440 || twips > 31680)
        return Fail(30, QStringLiteral("Page width %1 is out of range.").arg(twips));
    FSetup.PageWidth = twips;
    Changed();
    return TOutcome::Done();
}

TOutcome DocumentEngine::SetPageHeight(int twips)
{
    if (twips < 1440 || twips > 31680)
        return Fail(30, QStringLiteral("Page height %1 is out of range.").arg(twips));
    FSetup.PageHeight = twips;
    Changed();
    return TOutcome::Done();
}

#define ORB_MARGIN_SETTER(NAME, FIELD)                                                     \
    TOutcome DocumentEngine::NAME(int twips)                                              \
    {                                                                                     \
        if (twips < 0 || twips > 15840)                                                   \
            return Fail(31, QStringLiteral("Page margin %1 is out of range.").arg(twips)); \
        FSetup.FIELD = twips;                                                             \
        Changed();                                                                        \
        return TOutcome::Done();                                                          \
    }
ORB_MARGIN_SETTER(SetPageMarginL, MarginL)
ORB_MARGIN_SETTER(SetPageMarginT, MarginT)
ORB_MARGIN_SETTER(SetPageMarginR, MarginR)
ORB_MARGIN_SETTER(SetPageMarginB, MarginB)
#undef ORB_MARGIN_SETTER

void DocumentEngine::Refresh()
{
    if (OnChanged)
        OnChanged();
}

TOutcome DocumentEngine::PrintPage(int page)
{
    if (!FPrintDevice)
        return Fail(40, QStringLiteral("There is no print device."));
    DrawPage(*FPrintDevice, page);
    return TOutcome::Done();
}

TOutcome DocumentEngine::PrintDocument(const QString& jobName)
{
    if (!PrintHandler)
        return Fail(41, QStringLiteral("No printer is set up for printing %1.").arg(jobName));
    if (!PrintHandler(*this, jobName))
        return Fail(42, QStringLiteral("%1 could not be printed.").arg(jobName));
    return TOutcome::Done();
}

QByteArray DocumentEngine::PdfBytes(const QString& title)
{
    // Each page at its section's size.
    auto sizeOf = [&](int page) {
        const TPageSetup& s = PageSetupOf(page);
        return QSizeF(s.PageWidth, s.PageHeight);
    };
    TPdfDevice pdf(sizeOf(1));
    pdf.SetCreator(QStringLiteral("PrintORB"));
    pdf.SetTitle(title);
    {
        QPainter painter(&pdf);
        const int pages = CurrentPages();
        for (int page = 1; page <= pages; ++page) {
            if (page > 1)
                pdf.NewPage(sizeOf(page));
            DrawPage(painter, page);
        }
    }
    return pdf.Bytes();
}
