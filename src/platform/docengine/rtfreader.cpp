// Reading RTF as word processors write it: tokens into groups, groups into
// destinations, text into the document's parts. Keywords are in
// rtfkeywords.cpp; tables, pictures and positioned objects in their own
// files. Any byte sequence is read without crash or hang: groups nest to a
// bounded depth, pictures and tables have bounded sizes, and damaged files
// give the text they hold.
#include "platform/docengine/rtfreader.h"

#include "platform/docengine/rtfreaderimpl.h"
#include "platform/docengine/picturehandler.h"
#include "util/codepage.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QStringDecoder>
#include <QTextDocumentFragment>
#include <QTextBlock>
#include <QTextTable>

#include <algorithm>
#include <climits>

namespace rtf {

// ---- code pages ------------------------------------------------------------

int CodePageOfCharset(int charset, int documentCodePage)
{
    switch (charset) {
    case 0: case 1: case 2: return documentCodePage;
    case 77: case 256: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return documentCodePage;
    }
}

QString TDecoders::Decode(int codePage, const QByteArray& bytes)
{
    if (codePage == 1252 || codePage <= 0)
        return ToUnicode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    auto it = FDecoders.find(codePage);
    if (it == FDecoders.end()) {
        QByteArray name;
        switch (codePage) {
        case 932: name = "Shift_JIS"; break;
        case 936: name = "GBK"; break;
        case 949: name = "windows-949"; break;
        case 950: name = "Big5"; break;
        case 10000: name = "macintosh"; break;
        case 437: name = "IBM437"; break;
        default: name = "windows-" + QByteArray::number(codePage); break;
        }
        it = FDecoders.emplace(codePage, std::make_unique<QStringDecoder>(name.constData())).first;
    }
    if (!it->second->isValid())
        return ToUnicode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    return it->second->decode(bytes);
}

// ---- the reader ------------------------------------------------------------

TRtfReader::TRtfReader(const QByteArray& bytes, TLoadedDocument& out) : FIn(bytes), FOut(out)
{
    NewSink(TSink::kPart, &out.Main);
}

int TRtfReader::NewSink(TSink::TKind kind, TEnginePart* part)
{
    auto sink = std::make_unique<TSink>();
    sink->Kind = kind;
    sink->Part = part;
    if (kind == TSink::kPart) {
        sink->Doc = part->Doc.get();
    } else {
        sink->Own = std::make_unique<QTextDocument>();
        sink->Own->setUndoRedoEnabled(false);
        sink->Own->setDocumentMargin(0);
        sink->Own->setDefaultFont(part->Doc->defaultFont());
        sink->Doc = sink->Own.get();
    }
    sink->Cursor = QTextCursor(sink->Doc);
    // One edit for the whole reading: each edit's end would otherwise find
    // the caret's x position, shaping its paragraph again.
    sink->Cursor.beginEditBlock();
    FSinks.push_back(std::move(sink));
    return static_cast<int>(FSinks.size()) - 1;
}

// A cell starts a paragraph of its own at the end of the document its
// table's cells share: thousands of cells cost one document, not thousands.
int TRtfReader::NewCellSink(int parent)
{
    std::unique_ptr<QTextDocument>& doc = FCellDocs[parent];
    bool first = false;
    if (!doc) {
        doc = std::make_unique<QTextDocument>();
        doc->setUndoRedoEnabled(false);
        doc->setDefaultFont(Sink(parent).Part->Doc->defaultFont());
        QTextCursor(doc.get()).beginEditBlock();  // never ended: the document goes with the reader
        first = true;
    }
    auto sink = std::make_unique<TSink>();
    sink->Kind = TSink::kCell;
    sink->Part = Sink(parent).Part;
    sink->Doc = doc.get();
    sink->Cursor = QTextCursor(doc.get());
    sink->Cursor.movePosition(QTextCursor::End);
    if (!first)
        sink->Cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    sink->Start = sink->Cursor.position();
    FSinks.push_back(std::move(sink));
    return static_cast<int>(FSinks.size()) - 1;
}

// Each open cursor is moved by every edit of its document: a closed cell's
// is let go.
void TRtfReader::CloseCell(int id)
{
    TSink& cell = Sink(id);
    if (cell.End >= 0)
        return;
    cell.End = cell.Cursor.position();
    cell.Cursor = QTextCursor();
}

void TRtfReader::Read()
{
    // Anything before the first group is garbage that some writers leave.
    const qsizetype open = FIn.indexOf('{');
    FStack.push_back(TState {});
    const qsizetype firstMark = FIn.indexOf('\\');
    const bool groupless = open < 0 && firstMark >= 0 && FIn.left(firstMark).trimmed().isEmpty();
    if (open < 0 && !groupless) {
        // No group at all: plain text, one paragraph per line.
        const QString text = ToUnicode(std::string_view(FIn.constData(), static_cast<std::size_t>(FIn.size())));
        const QStringList lines = QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).split(QLatin1Char('\n'));
        QTextCursor& cursor = Sink(0).Cursor;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                cursor.insertBlock();
            QString line = lines[i];
            line.remove(QChar(0));
            line.remove(QLatin1Char('\r'));
            cursor.insertText(line, CharFormat());
        }
        Finish();
        return;
    }
    if (groupless)
        FStack.push_back(TState {});  // control words without any group: a document's body
    TRtfTokenizer tokens(FIn, groupless ? firstMark : open);
    for (;;) {
        const TRtfTokenizer::TToken t = tokens.Next();
        using K = TRtfTokenizer::TKind;
        if (t.Kind == K::End)
            break;
        switch (t.Kind) {
        case K::GroupOpen: GroupOpen(); break;
        case K::GroupClose:
            if (FStack.size() <= 1 && FOverflowDepth == 0)
                goto done;  // the document's last brace; anything after is junk
            GroupClose();
            if (FStack.size() <= 1 && FOverflowDepth == 0)
                goto done;
            break;
        case K::Word: ControlWord(t.Word, t.HasParam, t.Param); break;
        case K::Symbol: ControlSymbol(t.Symbol); break;
        case K::Hex: TextByte(t.Byte); break;
        case K::BadHex: SkippingFallback(); break;  // a broken escape still stands for one character
        case K::Text: TextBytes(t.Data); break;
        case K::Bin: BinData(t.Data); break;
        case K::End: break;
        }
    }
done:
    Finish();
}

bool TRtfReader::SkippingFallback()
{
    if (FSkipFallback > 0) {
        --FSkipFallback;
        return true;
    }
    return false;
}

void TRtfReader::GroupOpen()
{
    FSkipFallback = 0;
    if (FOverflowDepth > 0 || static_cast<int>(FStack.size()) >= kMaxDepth) {
        ++FOverflowDepth;  // too deep: read over it without using it
        return;
    }
    Flush();
    TState next = S();
    next.StarSeen = false;
    next.GroupStart = true;
    FStack.push_back(next);
}

void TRtfReader::GroupClose()
{
    FSkipFallback = 0;
    if (FOverflowDepth > 0) {
        --FOverflowDepth;
        return;
    }
    Flush();
    const TDest dest = S().Dest;
    const int depth = static_cast<int>(FStack.size());
    if (dest == TDest::FontTable && FFontEntry >= 0 && !FFontNameBytes.isEmpty())
        ControlSymbol(';');  // a font entry group closed without its ";"
    if (FPicture && depth == FPictureDepth)
        FinishPicture();
    if (FShape && depth == FShapeDepth)
        FinishShape();
    if (FDrawing && depth == FDrawingDepth)
        FinishDrawing();
    if (FOwnImage && depth == FOwnImageDepth)
        FinishOwnImage();
    if (dest == TDest::FormFieldItem && !FFields.empty()) {
        FFields.back().Items.append(FFields.back().ItemText);
        FFields.back().ItemText.clear();
    }
    if (!FFields.empty() && FFields.back().Depth == depth) {
        // A form field shows its state: a box checked or not, the chosen entry.
        const TField field = FFields.back();
        FFields.pop_back();
        if (field.FormType == 1) {
            const int state = field.FormResult >= 0 && field.FormResult != 25 ? field.FormResult : field.FormDefault;
            AppendText(QString(QChar(state > 0 ? 0x2612 : 0x2610)));
        } else if (field.FormType == 2 && !field.Items.isEmpty()) {
            const int chosen = field.FormResult >= 0 && field.FormResult != 25 ? field.FormResult : field.FormDefault;
            AppendText(field.Items.value(std::max(0, chosen)));
        } else if (!field.HasResult && dest == TDest::Text) {
            // A page number or count written without a result still shows, as the word processor updates it.
            const QByteArray kind = field.Instruction.trimmed().split(' ').value(0).toUpper();
            if (kind == "PAGE" || kind == "NUMPAGES") {
                const int previous = S().PageField;
                S().PageField = kind == "PAGE" ? kPageNumberField : kPageCountField;
                Special(u'1');
                Flush();
                S().PageField = previous;
            }
        }
    }
    if (dest == TDest::OrbField || dest == TDest::OrbFieldEnd) {
        const int id = FOrbValues.count("orbid") ? FOrbValues["orbid"] : 0;
        const int sink = TargetSink();
        if (dest == TDest::OrbField && id > 0)
            FOpenFields[id] = {sink, Sink(sink).Cursor.position(), FOrbValues["orbchg"] != 0, FOrbValues["orbkind"]};
        if (dest == TDest::OrbFieldEnd && FOpenFields.count(id)) {
            const auto [from, start, changeable, kind] = FOpenFields[id];
            if (from == sink)
                FClosedFields.push_back({sink, id, start, Sink(sink).Cursor.position(), changeable, kind});
            FOpenFields.erase(id);
        }
        FOrbValues.clear();
    }
    if (dest == TDest::ShapeValue && FShape) {
        ShapeProperty(FShape->PropertyName.trimmed(), FShape->PropertyValue.trimmed());
        FShape->PropertyValue.clear();
    }
    // The end of a header, footer, footnote or text box ends what it holds.
    if (FStack.size() > 1 && FStack[FStack.size() - 2].Sink != S().Sink) {
        FinishTables(S().Sink, 0);
        CloseFrame(S().Sink);
    }
    if (FStack.size() > 1)
        FStack.pop_back();
}

void TRtfReader::TextBytes(QByteArrayView bytes)
{
    TState& s = S();
    if (s.Dest == TDest::Text && FSkipFallback == 0) {
        if (!s.Char.Hidden)
            FPendingBytes.append(bytes);
        FLastWasCr = false;
        return;
    }
    if (s.Dest == TDest::Pict && FSkipFallback == 0) {
        if (!FPicture || FPicture->Data.size() >= kMaxPictureBytes)
            return;
        FPicture->Data.reserve(FPicture->Data.size() + bytes.size() / 2);
        for (const char c : bytes) {
            const int nibble = TRtfTokenizer::HexValue(c);
            if (nibble < 0)
                continue;
            if (FPicture->HexHigh < 0) {
                FPicture->HexHigh = nibble;
            } else {
                FPicture->Data.append(static_cast<char>(FPicture->HexHigh * 16 + nibble));
                FPicture->HexHigh = -1;
            }
        }
        return;
    }
    switch (s.Dest) {
    case TDest::Text: case TDest::Pict:  // after a Unicode character, its fallback first
    case TDest::FontTable: case TDest::ColorTable: case TDest::FieldInst: case TDest::FormFieldItem:
    case TDest::ShapeName: case TDest::ShapeValue: case TDest::OrbImage:
        for (const char c : bytes)
            TextByte(static_cast<unsigned char>(c));
        return;
    default:
        // A group read over (a style sheet, theme data, an unknown
        // destination): its bytes only use up a Unicode fallback.
        FSkipFallback = std::max(0, FSkipFallback - static_cast<int>(std::min<qsizetype>(bytes.size(), INT_MAX)));
        return;
    }
}

void TRtfReader::TextByte(unsigned char byte)
{
    if (SkippingFallback())
        return;
    TState& s = S();
    switch (s.Dest) {
    case TDest::Text:
        // Hex-escaped CR and LF end a paragraph, as word processors read
        // them; CR LF together is one paragraph mark.
        if (byte == '\r' || byte == '\n') {
            if (!(byte == '\n' && FLastWasCr))
                EndParagraph();
            FLastWasCr = byte == '\r';
            return;
        }
        FLastWasCr = false;
        if ((byte == '\t' || byte >= 0x20) && !s.Char.Hidden)
            FPendingBytes.append(static_cast<char>(byte));
        break;
    case TDest::FontTable:
        if (byte == ';')
            ControlSymbol(';');
        else if (byte >= 0x20)
            FFontNameBytes.append(static_cast<char>(byte));
        break;
    case TDest::ColorTable:
        if (byte == ';') {
            if (FRed < 0 && FGreen < 0 && FBlue < 0)
                FColors.emplace_back(std::nullopt);
            else
                FColors.emplace_back(QColor(std::clamp(FRed, 0, 255), std::clamp(FGreen, 0, 255), std::clamp(FBlue, 0, 255)));
            FRed = FGreen = FBlue = -1;
        }
        break;
    case TDest::Pict:
        TextBytes(QByteArrayView(reinterpret_cast<const char*>(&byte), 1));
        break;
    case TDest::FieldInst:
        if (!FFields.empty() && FFields.back().Instruction.size() < 512)
            FFields.back().Instruction.append(static_cast<char>(byte));
        break;
    case TDest::FormFieldItem:
        if (!FFields.empty() && FFields.back().ItemText.size() < 256)
            FFields.back().ItemText.append(ToUnicode(std::string_view(reinterpret_cast<const char*>(&byte), 1)));
        break;
    case TDest::ShapeName:
        if (FShape && FShape->PropertyName.size() < 256)
            FShape->PropertyName.append(QChar(byte));
        break;
    case TDest::ShapeValue:
        if (FShape && FShape->PropertyValue.size() < 256)
            FShape->PropertyValue.append(QChar(byte));
        break;
    case TDest::OrbImage:
        if (FOwnImage && FOwnImage->Path.size() < 4096)
            FOwnImage->Path.append(ToUnicode(std::string_view(reinterpret_cast<const char*>(&byte), 1)));
        break;
    default:
        break;
    }
}

void TRtfReader::BinData(QByteArrayView data)
{
    if (S().Dest == TDest::Pict && FPicture && FPicture->Data.size() + data.size() <= kMaxPictureBytes)
        FPicture->Data.append(data);
}

void TRtfReader::Unicode(int value)
{
    const char16_t unit = static_cast<char16_t>(value < 0 ? value + 65536 : value);
    const TState& s = S();
    if (s.Dest == TDest::Text && !s.Char.Hidden) {
        FlushBytes();
        // Word writes a symbol font's characters in the private range.
        const auto font = FFonts.find(s.Char.Font >= 0 ? s.Char.Font : FDefaultFont);
        if (unit >= 0xF020 && unit <= 0xF0FF && font != FFonts.end() && font->second.Charset == 2)
            FPendingText += SymbolFontText(font->second.Name, QByteArray(1, static_cast<char>(unit - 0xF000)));
        else
            FPendingText.append(QChar(unit));
    } else if (s.Dest == TDest::FontTable) {
        FFontNameBytes.append('?');
    } else if (s.Dest == TDest::OrbImage && FOwnImage) {
        FOwnImage->Path.append(QChar(unit));
    } else if (s.Dest == TDest::FormFieldItem && !FFields.empty()) {
        FFields.back().ItemText.append(QChar(unit));
    }
    FSkipFallback = S().Uc;
}

void TRtfReader::FlushBytes()
{
    if (FPendingBytes.isEmpty())
        return;
    const auto font = FFonts.find(S().Char.Font >= 0 ? S().Char.Font : FDefaultFont);
    const int charset = font == FFonts.end() ? 0 : font->second.Charset;
    if (charset == 2)
        FPendingText += SymbolFontText(font->second.Name, FPendingBytes);
    else
        FPendingText += FDecoders.Decode(CodePageOfCharset(charset, FDocumentCodePage), FPendingBytes);
    FPendingBytes.clear();
}

void TRtfReader::Flush()
{
    FlushBytes();
    if (FPendingText.isEmpty())
        return;
    AppendText(FPendingText);
    FPendingText.clear();
}

void TRtfReader::Special(char16_t ch)
{
    if (SkippingFallback() || S().Char.Hidden || S().Dest != TDest::Text)
        return;
    FlushBytes();
    FPendingText.append(QChar(ch));
}

std::optional<QColor> TRtfReader::ColorOf(int index) const
{
    if (index > 0 && index < static_cast<int>(FColors.size()))
        return FColors[static_cast<std::size_t>(index)];
    return std::nullopt;
}

QTextCharFormat TRtfReader::CharFormat() const
{
    const TCharProps& c = FStack.back().Char;
    QTextCharFormat f = TEnginePart::DefaultCharFormat();
    // Without a font table word processors use Times New Roman.
    const auto font = FFonts.find(c.Font >= 0 ? c.Font : FDefaultFont);
    QString family = font != FFonts.end() && !font->second.Name.isEmpty() ? font->second.Name
                                                                          : QStringLiteral("Times New Roman");
    // Symbol and Wingdings text is read as Unicode, which those fonts here
    // do not map: it is shown in a font that has the characters.
    if (font != FFonts.end() && font->second.Charset == 2 &&
        (family.contains(QLatin1String("symbol"), Qt::CaseInsensitive) ||
         family.contains(QLatin1String("wingdings"), Qt::CaseInsensitive)))
        family = QStringLiteral("DejaVu Sans");
    f.setFontFamilies(QStringList {family});
    f.setFontPointSize(std::clamp(c.HalfPoints, 2, 3276) / 2.0);
    if (c.Bold)
        f.setFontWeight(QFont::Bold);
    if (c.Italic)
        f.setFontItalic(true);
    if (c.Underline)
        f.setFontUnderline(true);
    if (c.Strike)
        f.setFontStrikeOut(true);
    if (c.Caps)
        f.setFontCapitalization(QFont::AllUppercase);
    if (const auto fore = ColorOf(c.Color))
        f.setForeground(*fore);
    if (const auto highlight = ColorOf(c.Highlight))
        f.setBackground(*highlight);
    if (FStack.back().PageField != 0)
        f.setProperty(kPageFieldProperty, FStack.back().PageField);
    if (c.VerticalAlign == 1)
        f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (c.VerticalAlign == 2)
        f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    return f;
}

QTextBlockFormat TRtfReader::BlockFormat(const QTextCursor& cursor) const
{
    const TParaProps& p = FStack.back().Para;
    QTextBlockFormat f;
    f.setAlignment(p.Align | Qt::AlignAbsolute);
    f.setLeftMargin(std::max(0, p.LeftIndent));
    f.setRightMargin(std::max(0, p.RightIndent));
    f.setTextIndent(p.FirstIndent);
    // The layout scales vertical spacing, line heights and tab stops from
    // 96-dpi pixels to its 1440-dpi device, but takes indents as they are.
    const int before = std::max(0, p.SpaceBefore);
    const int after = std::max(0, p.SpaceAfter);
    const int previousAfter =
        cursor.block().previous().isValid() ? cursor.block().previous().blockFormat().intProperty(kSpaceAfterTwips) : 0;
    f.setTopMargin((before + previousAfter) / 15.0);
    f.setBottomMargin(after / 15.0);
    f.setProperty(kSpaceBeforeTwips, before);
    f.setProperty(kSpaceAfterTwips, after);
    if (p.LineSpacing != 0) {
        if (p.LineMultiple && p.LineSpacing > 0)
            f.setLineHeight(std::clamp(p.LineSpacing * 100.0 / 240.0, 50.0, 500.0), QTextBlockFormat::ProportionalHeight);
        else if (p.LineSpacing < 0)
            f.setLineHeight(std::min(-p.LineSpacing, 20000) / 15.0, QTextBlockFormat::FixedHeight);
        else
            f.setLineHeight(std::min(p.LineSpacing, 20000) / 15.0, QTextBlockFormat::MinimumHeight);
        f.setProperty(kLineSpacingProperty, p.LineSpacing);
        f.setProperty(kLineMultipleProperty, p.LineMultiple);
    }
    // Tab stops count from the margin in the file, from the start of the
    // line in the layout: they are kept as seen from the first line (where
    // tabs stand in practice). A hanging indent is a stop of the first line.
    struct TStop {
        double Position;
        QTextOption::TabType Type;
        QChar Leader;
    };
    std::vector<TStop> stops;
    for (qsizetype i = 0; i < p.Tabs.size(); ++i)
        stops.push_back({p.Tabs[i].position, p.Tabs[i].type, i < p.Leaders.size() ? p.Leaders[i] : QLatin1Char(' ')});
    if (p.FirstIndent < 0 && p.LeftIndent >= 0 &&
        std::none_of(stops.begin(), stops.end(), [&](const TStop& t) { return t.Position <= p.LeftIndent; }))
        stops.push_back({static_cast<double>(p.LeftIndent), QTextOption::LeftTab, QLatin1Char(' ')});
    std::sort(stops.begin(), stops.end(), [](const TStop& a, const TStop& b) { return a.Position < b.Position; });
    const double lineStart = p.LeftIndent + p.FirstIndent;
    QList<QTextOption::Tab> tabs;
    QString leaders;
    for (const TStop& stop : stops)
        if (stop.Position > lineStart) {
            tabs.append(QTextOption::Tab((stop.Position - lineStart) / 15.0, stop.Type));
            leaders.append(stop.Leader);
        }
    if (!tabs.isEmpty()) {
        f.setTabPositions(tabs);
        if (!leaders.trimmed().isEmpty())
            f.setProperty(kTabLeadersProperty, leaders);
    }
    if (p.PageBreakBefore)
        f.setProperty(kPageBreakBeforeProperty, true);
    if (const auto shade = ColorOf(p.Shading))
        f.setBackground(*shade);
    QVariantList borders;
    bool anyBorder = false;
    for (const TBorder& b : p.Borders) {
        const bool on = b.Set && b.Style != 0;
        anyBorder = anyBorder || on;
        const QColor color = ColorOf(b.Color).value_or(QColor(Qt::black));
        borders.append(on ? QVariant(QPen(color, std::max(10, b.Width) * (b.Style == 2 ? 3 : 1))) : QVariant());
    }
    if (anyBorder)
        f.setProperty(kParagraphBordersProperty, borders);
    return f;
}

void TRtfReader::AppendText(const QString& text)
{
    TSink& sink = Sink(TargetSink());
    QTextCursor& cursor = sink.Cursor;
    if (cursor.block().length() == 1) {
        // A page break the paragraph mark before asked for stays.
        const bool breakBefore = cursor.blockFormat().boolProperty(kPageBreakBeforeProperty);
        const bool columnBefore = cursor.blockFormat().boolProperty(kColumnBreakBeforeProperty);
        QTextBlockFormat format = BlockFormat(cursor);
        if (breakBefore)
            format.setProperty(kPageBreakBeforeProperty, true);
        if (columnBefore)
            format.setProperty(kColumnBreakBeforeProperty, true);
        if (FSectionBreakPending && &sink == FSinks.front().get()) {
            if (FSectionBreakIsPage)
                format.setProperty(kPageBreakBeforeProperty, true);
            else if (FSectionBreakIsColumn)
                format.setProperty(kColumnBreakBeforeProperty, true);
            FSectionBreakPending = false;
            if (FSectionStarts.size() < 1000)
                FSectionStarts.push_back(cursor.block().position());
        }
        cursor.setBlockFormat(format);
    }
    cursor.insertText(text, CharFormat());
}

void TRtfReader::EndParagraph(bool pageBreakAfter, bool columnBreakAfter)
{
    if (S().Dest != TDest::Text)
        return;
    Flush();
    if (columnBreakAfter && Sink(TargetSink()).Cursor.block().length() == 1) {
        // As a page break: the paragraph to come starts the column.
        QTextBlockFormat format = Sink(TargetSink()).Cursor.blockFormat();
        format.setProperty(kColumnBreakBeforeProperty, true);
        Sink(TargetSink()).Cursor.setBlockFormat(format);
        return;
    }
    const int target = TargetSink();
    const bool bare = Sink(target).Cursor.block().length() == 1;
    const std::pair<int, int> here {target, Sink(target).Cursor.block().position()};
    const bool ownBreak = pageBreakAfter;
    if (!pageBreakAfter && !columnBreakAfter && bare && FBareBreak == here) {
        // A paragraph that holds only a page break keeps its mark on the page
        // the break ends, as word processors show it: the next one starts the page.
        FBareBreak = {-1, -1};
        QTextBlockFormat format = Sink(target).Cursor.blockFormat();
        format.clearProperty(kPageBreakBeforeProperty);
        Sink(target).Cursor.setBlockFormat(format);
        pageBreakAfter = true;
    } else if (pageBreakAfter && bare &&
               !Sink(target).Cursor.blockFormat().boolProperty(kPageBreakBeforeProperty)) {
        // A page break with no text before it: the paragraph to come starts
        // the page (a second one in a row leaves an empty page).
        QTextBlockFormat format = Sink(target).Cursor.blockFormat();
        format.setProperty(kPageBreakBeforeProperty, true);
        Sink(target).Cursor.setBlockFormat(format);
        FBareBreak = here;
        return;
    }
    if (Sink(TargetSink()).Cursor.block().length() == 1) {
        // An empty paragraph takes its format, and its height from the
        // character format at its mark.
        AppendText(QString());
        Sink(TargetSink()).Cursor.setBlockCharFormat(CharFormat());
    }
    QTextCursor& cursor = Sink(TargetSink()).Cursor;
    const bool breakBefore = cursor.blockFormat().boolProperty(kPageBreakBeforeProperty);
    const bool columnBefore = cursor.blockFormat().boolProperty(kColumnBreakBeforeProperty);
    QTextBlockFormat current = BlockFormat(cursor);
    if (breakBefore)
        current.setProperty(kPageBreakBeforeProperty, true);
    if (columnBefore)
        current.setProperty(kColumnBreakBeforeProperty, true);
    // Word processors scale a line by its font, not by a picture in it: a
    // paragraph that holds only pictures keeps them at their own height.
    const QString text = cursor.block().text().trimmed();
    if (current.lineHeightType() == QTextBlockFormat::ProportionalHeight && current.lineHeight() > 100 &&
        !text.isEmpty() && text.count(QChar::ObjectReplacementCharacter) == text.size())
        current.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
    cursor.setBlockFormat(current);
    QTextBlockFormat next = current;
    next.clearProperty(kPageBreakBeforeProperty);
    next.clearProperty(kColumnBreakBeforeProperty);
    if (pageBreakAfter)
        next.setProperty(kPageBreakBeforeProperty, true);
    if (columnBreakAfter)
        next.setProperty(kColumnBreakBeforeProperty, true);
    cursor.insertBlock(next, CharFormat());
    if (ownBreak && bare)
        FBareBreak = {target, cursor.block().position()};
}

int TRtfReader::TargetSink()
{
    int base = S().Sink;
    const TParaProps& p = S().Para;
    if (Sink(base).Kind == TSink::kPart) {
        // A paragraph frame: its text goes into a box of its own.
        if (p.Frame && !p.InTable) {
            auto open = FFrames.find(base);
            const auto same = [&](const TParaProps& q) {
                return q.PosX == p.PosX && q.PosY == p.PosY && q.FrameWidth == p.FrameWidth &&
                       q.HRef == p.HRef && q.VRef == p.VRef && q.HAlign == p.HAlign;
            };
            if (open != FFrames.end() && !same(FFrameProps[open->second])) {
                CloseFrame(base);
                open = FFrames.end();
            }
            if (open == FFrames.end()) {
                const int frame = NewSink(TSink::kFrame, Sink(base).Part);
                FFrames[base] = frame;
                FFrameProps[frame] = p;
                base = frame;
            } else {
                base = open->second;
            }
        } else {
            CloseFrame(base);
        }
    }
    const std::size_t level = p.InTable ? static_cast<std::size_t>(std::clamp(p.TableLevel, 1, kMaxTableDepth)) : 0;
    if (FTables[base].size() > level)
        FinishTables(base, level);
    while (FTables[base].size() < level) {
        std::vector<TTable>& tables = FTables[base];
        TTable table;
        if (tables.empty()) {
            table.Parent = base;
        } else {
            if (tables.back().OpenCell < 0)
                tables.back().OpenCell = NewCellSink(tables.back().Parent);
            table.Parent = tables.back().OpenCell;
        }
        FTables[base].push_back(std::move(table));
    }
    if (level == 0)
        return base;
    TTable& table = FTables[base].back();
    if (table.OpenCell < 0)
        table.OpenCell = NewCellSink(table.Parent);
    return table.OpenCell;
}

void TRtfReader::InsertPicture(const QImage& image, const QByteArray& encoded, const QByteArray& format, double w,
                               double h)
{
    Flush();
    TSink& sink = Sink(TargetSink());
    if (sink.Cursor.block().length() == 1)
        AppendText(QString());
    const QTextImageFormat imageFormat = sink.Part->AddPicture(image, encoded, format, w, h);
    if (sink.Kind != TSink::kPart) {  // a cell or box lays itself out: it needs the picture too
        sink.Doc->addResource(QTextDocument::ImageResource, QUrl(imageFormat.name()), image);
        if (format == "wmf" || format == "emf")
            AddMetafileResource(*sink.Doc, imageFormat.name(), encoded);
    }
    sink.Cursor.insertImage(imageFormat);
}

void TRtfReader::CloseFrame(int base)
{
    const auto open = FFrames.find(base);
    if (open == FFrames.end())
        return;
    const int id = open->second;
    FFrames.erase(open);
    FinishTables(id, 0);
    const TParaProps p = FFrameProps[id];
    TSink& frame = Sink(id);
    TPositionedShape shape;
    shape.Shape = TPositionedShape::TextBox;
    const TPageNow page = PageNow();
    const int width = p.FrameWidth > 0 ? p.FrameWidth : 2880;
    double x = p.PosX + (p.HRef == 'p' ? 0 : page.MarginL);
    if (p.HAlign == 2)
        x = (p.HRef == 'p' ? 0 : page.MarginL) - width / 2.0;  // refined when laid out: see the box's anchor
    double y = p.PosY;
    if (p.VRef == 'm')
        y += page.MarginT;
    shape.Box = QRectF(x, y, width, std::max(0, p.FrameHeight));
    shape.EveryPage = base != 0 && Sink(base).Part != &FOut.Main;
    if (p.VRef == 't' && base == 0)
        shape.AnchorPosition = Sink(0).Cursor.position();
    frame.Cursor.endEditBlock();
    shape.Text = std::shared_ptr<QTextDocument>(frame.Own.release());
    frame.Doc = nullptr;
    if (shape.EveryPage)
        FPartObjects.push_back({false, FOut.Shapes.size(), base});
    FOut.Shapes.push_back(std::move(shape));
}

void TRtfReader::ControlSymbol(char symbol)
{
    TState& s = S();
    if (symbol == '*') {
        s.StarSeen = true;
        return;
    }
    if (symbol == ';' && s.Dest == TDest::FontTable) {
        if (FFontEntry >= 0) {
            TFont& font = FFonts[FFontEntry];
            if (font.Name.isEmpty()) {
                const int codePage = CodePageOfCharset(font.Charset, FDocumentCodePage);
                font.Name = FDecoders.Decode(codePage, FFontNameBytes).trimmed();
            }
        }
        FFontNameBytes.clear();
        return;
    }
    if (SkippingFallback())
        return;
    switch (symbol) {
    case '\\': case '{': case '}':
        TextByte(static_cast<unsigned char>(symbol));
        break;
    case '~': Special(0x00A0); break;
    case '_': Special(u'-'); break;
    case '\n': case '\r': EndParagraph(); break;
    case '\t': TextByte('\t'); break;
    default: break;  // \- optional hyphen, \| \: index marks
    }
}

void TRtfReader::ControlWord(QByteArrayView view, bool hasParam, int param)
{
    TState& s = S();
    const bool groupStart = s.GroupStart;
    s.GroupStart = false;
    if (FOverflowDepth > 0 || s.Dest == TDest::Skip)
        return;
    const std::string w = view.toByteArray().toStdString();
    if (groupStart && StartDestination(w))
        return;
    if (RepairFontTable(w))
        return;

    switch (s.Dest) {
    case TDest::Skip:
        return;
    case TDest::FontTable:
        if (w == "f") {
            FFontEntry = param;
            FFonts[param].Name.clear();
            FFontNameBytes.clear();
        } else if (w == "fcharset" && FFontEntry >= 0) {
            FFonts[FFontEntry].Charset = param;
        }
        return;
    case TDest::ColorTable:
        if (w == "red")
            FRed = param;
        else if (w == "green")
            FGreen = param;
        else if (w == "blue")
            FBlue = param;
        return;
    case TDest::Pict: PictureWord(w, param); return;
    case TDest::ShapeInst:
    case TDest::ShapeName:
    case TDest::ShapeValue: ShapeWord(w, param); return;
    case TDest::DrawingObject: DrawingWord(w, hasParam, param); return;
    case TDest::FormField: FormFieldWord(w, param); return;
    case TDest::OrbField:
    case TDest::OrbFieldEnd:
        FOrbValues[QByteArray::fromStdString(w)] = param;
        return;
    case TDest::OrbImage:
        if (FOwnImage)
            FOwnImage->Values[QByteArray::fromStdString(w)] = param;
        return;
    case TDest::FieldInst:
    case TDest::FormFieldItem:
        if (w == "u")
            Unicode(param);
        return;
    case TDest::Text:
    case TDest::NestTableProps:
        break;
    }
    TextKeyword(w, hasParam, param);
}

// Damaged files: body text written before the font table was closed, and
// font entries written after it. True when the word starts such an entry.
bool TRtfReader::RepairFontTable(const std::string& w)
{
    static const std::unordered_map<std::string, int> kBodyWords = {
        {"pard", 1}, {"par", 1}, {"viewkind", 1}, {"sectd", 1}};
    static const std::unordered_map<std::string, int> kFontFamilies = {
        {"fnil", 1},   {"froman", 1}, {"fswiss", 1}, {"fmodern", 1},
        {"fscript", 1}, {"fdecor", 1}, {"ftech", 1},  {"fbidi", 1}};
    TState& s = S();
    if (s.Dest == TDest::FontTable && FStack.size() >= 2 && FStack[FStack.size() - 2].Dest != TDest::FontTable &&
        kBodyWords.count(w)) {
        s.Dest = TDest::Text;
        FFontEntry = -1;
    } else if (s.Dest == TDest::Text && kFontFamilies.count(w) && FPendingBytes.isEmpty() && FPendingText.isEmpty() &&
               s.Char.Font >= 0 && FStack.size() > 2) {
        s.Dest = TDest::FontTable;
        FFontEntry = s.Char.Font;
        FFontNameBytes.clear();
        return true;
    }
    return false;
}

void TRtfReader::PictureWord(const std::string& w, int param)
{
    if (!FPicture)
        return;
    static const std::unordered_map<std::string, const char*> kKinds = {
        {"pngblip", "png"}, {"jpegblip", "jpeg"}, {"dibitmap", "dib"},   {"wbitmap", "ddb"},
        {"emfblip", "emf"}, {"wmetafile", "wmf"}, {"macpict", "wmf"}, {"pmmetafile", "wmf"}};
    static const std::unordered_map<std::string, int TPicture::*> kValues = {
        {"picw", &TPicture::PicW},         {"pich", &TPicture::PicH},         {"picwgoal", &TPicture::GoalW},
        {"pichgoal", &TPicture::GoalH},    {"picscalex", &TPicture::ScaleX},  {"picscaley", &TPicture::ScaleY},
        {"piccropl", &TPicture::CropL},    {"piccropr", &TPicture::CropR},    {"piccropt", &TPicture::CropT},
        {"piccropb", &TPicture::CropB}};
    if (const auto kind = kKinds.find(w); kind != kKinds.end())
        FPicture->Kind = kind->second;
    else if (const auto value = kValues.find(w); value != kValues.end())
        (*FPicture).*(value->second) = param;
}

void TRtfReader::ShapeWord(const std::string& w, int param)
{
    if (!FShape)
        return;
    static const std::unordered_map<std::string, int TShape::*> kEdges = {
        {"shpleft", &TShape::Left}, {"shptop", &TShape::Top},
        {"shpright", &TShape::Right}, {"shpbottom", &TShape::Bottom}};
    if (const auto edge = kEdges.find(w); edge != kEdges.end())
        (*FShape).*(edge->second) = param;
    else if (w.rfind("shpbx", 0) == 0)
        FShape->HorizontalBase = QByteArray::fromStdString(w.substr(5));
    else if (w.rfind("shpby", 0) == 0)
        FShape->VerticalBase = QByteArray::fromStdString(w.substr(5));
    else if (w == "shpfhdr")
        FShape->InHeader = FShape->InHeader || param != 0;
    else if (w == "shpfblwtxt")
        FShape->BehindText = param != 0;
}

void TRtfReader::DrawingWord(const std::string& w, bool hasParam, int param)
{
    if (!FDrawing)
        return;
    TDrawing& d = *FDrawing;
    static const std::unordered_map<std::string, int> kDrawing = {
        {"dprect", 1}, {"dpellipse", 2}, {"dpline", 3}, {"dptxbx", 4}, {"dpx", 5}, {"dpy", 6},
        {"dpxsize", 7}, {"dpysize", 8}, {"dobxpage", 9}, {"dobypage", 10}, {"dobymargin", 11},
        {"dplinecor", 12}, {"dplinecog", 13}, {"dplinecob", 14}, {"dpfillbgcr", 15}, {"dpfillbgcg", 16},
        {"dpfillbgcb", 17}, {"dpfillfgcr", 18}, {"dpfillfgcg", 19}, {"dpfillfgcb", 20}, {"dpfillpat", 21},
        {"dplinehollow", 22}, {"dplinew", 23}};
    const auto it = kDrawing.find(w);
    const int v = std::clamp(param, -200000, 200000);
    switch (it == kDrawing.end() ? 0 : it->second) {
    case 1: d.Kind = "rect"; break;
    case 2: d.Kind = "ellipse"; break;
    case 3: d.Kind = "line"; break;
    case 4: d.Kind = "txbx"; break;
    case 5: d.X = v; break;
    case 6: d.Y = v; break;
    case 7: d.W = v; break;
    case 8: d.H = v; break;
    case 9: d.PageX = true; break;
    case 10: d.PageY = true; break;
    case 11: d.MarginY = true; break;
    case 12: case 13: case 14: d.LineColor[it->second - 12] = v; break;
    case 15: case 16: case 17: d.FillBack[it->second - 15] = v; break;
    case 18: case 19: case 20: d.FillFore[it->second - 18] = v; break;
    case 21: d.FillPattern = v; break;
    case 22: d.LineHollow = !hasParam || param != 0; break;
    case 23: d.LineWidth = v; break;
    default: break;
    }
}

void TRtfReader::FormFieldWord(const std::string& w, int param)
{
    if (FFields.empty())
        return;
    if (w == "fftype")
        FFields.back().FormType = param;
    else if (w == "ffres")
        FFields.back().FormResult = param;
    else if (w == "ffdefres")
        FFields.back().FormDefault = param;
}

bool TRtfReader::StartDestination(const std::string& w)
{
    static const std::unordered_map<std::string, int> kSkipped = {
        {"info", 1}, {"stylesheet", 1}, {"listtable", 1}, {"listoverridetable", 1}, {"revtbl", 1},
        {"rsidtbl", 1}, {"pgdsctbl", 1}, {"themedata", 1}, {"colorschememapping", 1}, {"datastore", 1},
        {"latentstyles", 1}, {"xmlnstbl", 1}, {"mmathPr", 1}, {"userprops", 1}, {"generator", 1},
        {"ftnsep", 1}, {"ftnsepc", 1}, {"aftnsep", 1}, {"aftnsepc", 1}, {"annotation", 1},
        {"shprslt", 1}, {"nonshppict", 1}, {"objdata", 1}, {"bkmkstart", 1}, {"bkmkend", 1}, {"xe", 1},
        {"tc", 1}, {"txe", 1}, {"fldtitle", 1}, {"atnid", 1}, {"atnauthor", 1}, {"atndate", 1},
        {"pnseclvl", 1}, {"pgptbl", 1}, {"filetbl", 1}, {"fchars", 1}, {"lchars", 1},
        {"blipuid", 1}, {"picprop", 1}, {"falt", 1}, {"panose", 1}, {"fname", 1}, {"ud", 1},
        {"mhtmltag", 1}, {"htmltag", 1}, {"template", 1}, {"comment", 1}, {"nonesttables", 1},
        {"passwordhash", 1}, {"wgrffmtfilter", 1}, {"protusertbl", 1}, {"ffname", 1}, {"ffdeftext", 1},
        {"ffformat", 1}, {"ffhelptext", 1}, {"ffstattext", 1}, {"ffentrymcr", 1}, {"ffexitmcr", 1},
        {"background", 1}, {"pn", 1}, {"listpicture", 1}, {"objclass", 1}, {"objname", 1},
    };
    TState& s = S();
    if (const auto it = kSkipped.find(w); it != kSkipped.end()) {
        s.Dest = TDest::Skip;
        return true;
    }
    if (StartTableDestination(w) || StartPartDestination(w) || StartFieldDestination(w) ||
        StartObjectDestination(w) || StartShapeDestination(w) || StartOwnDestination(w))
        return true;
    if (s.StarSeen && w != "shppict" && w != "upr") {
        s.Dest = TDest::Skip;  // an ignorable destination this reader does not know
        return true;
    }
    return false;
}

// The font and colour tables.
bool TRtfReader::StartTableDestination(const std::string& w)
{
    TState& s = S();
    if (w == "fonttbl") {
        s.Dest = TDest::FontTable;
        FFontEntry = -1;
        return true;
    }
    if (w == "colortbl") {
        s.Dest = TDest::ColorTable;
        FColors.clear();
        FRed = FGreen = FBlue = -1;
        return true;
    }
    return false;
}

// Headers, footers and footnotes: parts of their own.
bool TRtfReader::StartPartDestination(const std::string& w)
{
    TState& s = S();
    if (w == "header" || w == "footer" || w == "headerl" || w == "headerr" || w == "headerf" || w == "footerl" ||
        w == "footerr" || w == "footerf") {
        // The first copy of each header or footer wins; later sections repeat them.
        const QByteArray variant = QByteArray::fromStdString(w);
        if (s.Dest != TDest::Text || s.Sink != 0 || FVariants.count(variant)) {
            s.Dest = TDest::Skip;
            return true;
        }
        Flush();
        FVariantParts.push_back(std::make_unique<TEnginePart>());
        s.Sink = NewSink(TSink::kPart, FVariantParts.back().get());
        FVariants[variant] = s.Sink;
        s.Para = TParaProps {};
        return true;
    }
    if (w == "footnote") {
        if (s.Dest != TDest::Text || Sink(s.Sink).Part != &FOut.Main) {
            s.Dest = TDest::Skip;
            return true;
        }
        Flush();
        FFootnoteParts.push_back(std::make_unique<TEnginePart>());
        const int anchor = Sink(0).Cursor.position();
        s.Sink = NewSink(TSink::kPart, FFootnoteParts.back().get());
        FFootnotes.emplace_back(anchor, s.Sink);
        s.Para = TParaProps {};
        return true;
    }
    return false;
}

// Fields and form fields.
bool TRtfReader::StartFieldDestination(const std::string& w)
{
    TState& s = S();
    if (w == "field") {
        TField field;
        field.Depth = static_cast<int>(FStack.size());
        FFields.push_back(field);
        return true;
    }
    if (w == "fldinst") {
        s.Dest = TDest::FieldInst;
        return true;
    }
    if (w == "fldrslt" && s.Dest == TDest::Text) {
        const QByteArray instruction = FFields.empty() ? QByteArray() : FFields.back().Instruction;
        const QByteArray kind = instruction.trimmed().split(' ').value(0).toUpper();
        s.PageField = kind == "PAGE" ? kPageNumberField : kind == "NUMPAGES" ? kPageCountField : 0;
        if (!FFields.empty())
            FFields.back().HasResult = true;
        if (!FFields.empty() && FFields.back().FormType >= 1)
            s.Dest = TDest::Skip;  // a check box or list shows its state instead
        return true;
    }
    if (w == "formfield") {
        s.Dest = TDest::FormField;
        return true;
    }
    if (w == "ffl" && s.Dest == TDest::FormField) {
        s.Dest = TDest::FormFieldItem;
        return true;
    }
    return false;
}

// Pictures, shapes and legacy drawing objects.
bool TRtfReader::StartObjectDestination(const std::string& w)
{
    TState& s = S();
    if (w == "pict") {
        if (s.Dest == TDest::Text || s.Dest == TDest::ShapeValue) {
            Flush();
            FPicture = TPicture {};
            FPictureDepth = static_cast<int>(FStack.size());
            s.Dest = TDest::Pict;
        } else {
            s.Dest = TDest::Skip;
        }
        return true;
    }
    if (w == "shp" && s.Dest == TDest::Text && !FShape) {
        Flush();
        FShape = TShape {};
        FShape->InHeader = Sink(s.Sink).Part != &FOut.Main;
        FShape->Sink = s.Sink;
        FShape->AnchorPosition = AnchorHere();
        FShapeDepth = static_cast<int>(FStack.size());
        return true;
    }
    if (w == "do" && s.Dest == TDest::Text && !FDrawing) {
        FDrawing = TDrawing {};
        FDrawing->AnchorPosition = AnchorHere();
        FDrawingDepth = static_cast<int>(FStack.size());
        s.Dest = TDest::DrawingObject;
        return true;
    }
    return false;
}

// The parts of a shape: its instructions, its properties' names and values,
// a text box's text.
bool TRtfReader::StartShapeDestination(const std::string& w)
{
    TState& s = S();
    if (w == "shpinst" && FShape) {
        s.Dest = TDest::ShapeInst;
        return true;
    }
    if (w == "sn" && FShape) {
        s.Dest = TDest::ShapeName;
        FShape->PropertyName.clear();
        return true;
    }
    if (w == "sv" && FShape) {
        s.Dest = TDest::ShapeValue;
        FShape->PropertyValue.clear();
        return true;
    }
    if (w == "shptxt" && FShape) {
        // A text box's text is read into a box of its own.
        if (FShape->TextSink < 0)
            FShape->TextSink = NewSink(TSink::kFrame, Sink(s.Sink).Part);
        s.Dest = TDest::Text;
        s.Sink = FShape->TextSink;
        s.Para = TParaProps {};
        return true;
    }
    return false;
}

// Nested table properties and the engine's own fields and images.
bool TRtfReader::StartOwnDestination(const std::string& w)
{
    TState& s = S();
    if (w == "nesttableprops") {
        s.Dest = TDest::NestTableProps;
        return true;
    }
    if (w == "orbfield" || w == "orbfieldend") {
        FOrbValues.clear();
        s.Dest = w == "orbfield" ? TDest::OrbField : TDest::OrbFieldEnd;
        return true;
    }
    if (w == "orbimage") {
        FOwnImage = TOwnImage {};
        FOwnImageDepth = static_cast<int>(FStack.size());
        s.Dest = TDest::OrbImage;
        return true;
    }
    return false;
}

int TRtfReader::AnchorHere()
{
    return Sink(0).Cursor.position();
}

void TRtfReader::MoveFields(int from, int to, int offset)
{
    for (TClosedField& f : FClosedFields)
        if (f.Sink == from) {
            f.Sink = to;
            f.Start += offset;
            f.End += offset;
        }
}

// A second copy of a header or footer, its fields under new ids.
void CopyPart(const TEnginePart& from, TEnginePart& into, int& nextFieldId)
{
    into.CopyContentFrom(from);
    for (const auto& [id, field] : from.Fields) {
        const auto [start, end] = from.FieldRange(field);
        into.AddField(nextFieldId++, start, end, field.Changeable, field.Kind);
    }
}

void TRtfReader::Finish()
{
    Flush();
    FinishParts();
    const std::map<int, int> partsOfSink = PlaceVariants();
    DropUnshownObjects(partsOfSink);
    for (const auto& [anchor, sink] : FFootnotes) {
        TEnginePart* body = Sink(sink).Part;
        for (auto& owned : FFootnoteParts)
            if (owned.get() == body)
                FOut.Footnotes.emplace_back(std::min(anchor, FOut.Main.Length()), std::move(owned));
    }
    FinishSections();
    for (TPositionedImage& own : FPendingOwnImages) {
        if (own.Image.isNull() && !own.FileName.isEmpty()) {
            QImageReader reader(own.FileName);
            reader.setAllocationLimit(kMaxPictureMegabytes);
            reader.read(&own.Image);
        }
        FOut.OwnImages.push_back(std::move(own));
    }
}

// The parts' last tables and frames, paragraph marks, tab stops and fields.
void TRtfReader::FinishParts()
{
    for (std::size_t i = 0; i < FSinks.size(); ++i) {
        if (FSinks[i]->Kind != TSink::kPart)
            continue;
        FinishTables(static_cast<int>(i), 0);
        CloseFrame(static_cast<int>(i));
    }
    for (const auto& sink : FSinks) {
        if (sink->Kind != TSink::kPart)
            continue;
        QTextCursor& cursor = sink->Cursor;
        // The paragraph mark that closes the last paragraph opens no new one
        // (unless a table needs a paragraph after it).
        if (cursor.block().length() == 1 && cursor.block().previous().isValid() &&
            !QTextCursor(cursor.block().previous()).currentTable()) {
            const bool breakBefore = cursor.block().previous().blockFormat().boolProperty(kPageBreakBeforeProperty);
            cursor.deletePreviousChar();
            // A page break with nothing after it opens no page.
            if (!breakBefore && cursor.blockFormat().boolProperty(kPageBreakBeforeProperty)) {
                QTextBlockFormat format = cursor.blockFormat();
                format.clearProperty(kPageBreakBeforeProperty);
                cursor.setBlockFormat(format);
            }
        }
    }
    for (const auto& sink : FSinks) {
        if (sink->Kind != TSink::kPart)
            continue;  // cells and frames have gone into their parts
        QTextOption option = sink->Doc->defaultTextOption();
        option.setTabStopDistance(FDefaultTab / 15.0);
        sink->Doc->setDefaultTextOption(option);
    }
    for (const TClosedField& f : FClosedFields) {
        TSink& sink = Sink(f.Sink);
        if (sink.Kind != TSink::kPart)
            continue;
        const int length = sink.Part->Length();
        sink.Part->AddField(f.Id, std::min(f.Start, length), std::min(f.End, length), f.Changeable, f.Kind);
    }
    for (const auto& sink : FSinks)
        if (sink->Kind == TSink::kPart)
            sink->Cursor.endEditBlock();
}

// Header and footer variants: the plain one, the first page's, the left
// pages'. Gives the engine parts each sink became.
std::map<int, int> TRtfReader::PlaceVariants()
{
    std::map<int, int> partsOfSink;
    int nextFieldId = 1;
    for (const TClosedField& f : FClosedFields)
        nextFieldId = std::max(nextFieldId, f.Id + 1);
    auto part = [&](std::initializer_list<const char*> variants) -> int {
        for (const char* v : variants)
            if (const auto it = FVariants.find(v); it != FVariants.end())
                return it->second;
        return -1;
    };
    // A variant can become two parts (the plain header on right and left
    // pages): the second is a copy.
    auto take = [&](TEnginePart& into, int engineId, int sink) {
        if (sink < 0)
            return;
        if (partsOfSink[sink] == 0) {
            into = std::move(*Sink(sink).Part);
            Sink(sink).Part = &into;
        } else {
            CopyPart(*Sink(sink).Part, into, nextFieldId);
        }
        partsOfSink[sink] |= engineId;
    };
    using E = DocumentEngine;
    if (FFacingPages) {
        take(FOut.Header, E::HeaderPart, part({"headerr", "header"}));
        take(FOut.Footer, E::FooterPart, part({"footerr", "footer"}));
        take(FOut.HeaderLeft, E::HeaderLeftPart, part({"headerl", "header"}));
        take(FOut.FooterLeft, E::FooterLeftPart, part({"footerl", "footer"}));
    } else {
        take(FOut.Header, E::HeaderPart, part({"header", "headerr", "headerl"}));
        take(FOut.Footer, E::FooterPart, part({"footer", "footerr", "footerl"}));
    }
    if (FTitlePage) {
        take(FOut.HeaderFirst, E::HeaderFirstPart, part({"headerf"}));
        take(FOut.FooterFirst, E::FooterFirstPart, part({"footerf"}));
    }
    return partsOfSink;
}

// Objects of a variant no page shows are dropped (from the back, so that
// the indexes stay valid).
void TRtfReader::DropUnshownObjects(const std::map<int, int>& partsOfSink)
{
    std::vector<std::size_t> droppedImages, droppedShapes;
    for (const TPartObject& object : FPartObjects) {
        const auto it = partsOfSink.find(object.Sink);
        const int parts = it == partsOfSink.end() ? 0 : it->second;
        if (object.Image && object.Index < FOut.Images.size()) {
            FOut.Images[object.Index].Parts = parts;
            if (parts == 0)
                droppedImages.push_back(object.Index);
        } else if (!object.Image && object.Index < FOut.Shapes.size()) {
            FOut.Shapes[object.Index].Parts = parts;
            if (parts == 0)
                droppedShapes.push_back(object.Index);
        }
    }
    std::sort(droppedImages.rbegin(), droppedImages.rend());
    for (const std::size_t i : droppedImages)
        FOut.Images.erase(FOut.Images.begin() + static_cast<std::ptrdiff_t>(i));
    std::sort(droppedShapes.rbegin(), droppedShapes.rend());
    for (const std::size_t i : droppedShapes)
        FOut.Shapes.erase(FOut.Shapes.begin() + static_cast<std::ptrdiff_t>(i));
}

TRtfReader::TPageNow TRtfReader::PageNow() const
{
    auto value = [&](std::optional<int> TSetupValues::*field, int fallback) {
        return (FSectSetup.*field).value_or((FDocSetup.*field).value_or(fallback));
    };
    return {value(&TSetupValues::W, 12240), value(&TSetupValues::H, 15840), value(&TSetupValues::L, 1800),
            value(&TSetupValues::R, 1800),  value(&TSetupValues::T, 1440),  value(&TSetupValues::B, 1440)};
}

// A section's page: its own values, else the document's.
TPageSetup TRtfReader::PageOf(const TSetupValues& x) const
{
    const TSetupValues& d = FDocSetup;
    TPageSetup setup;
    setup.PageWidth = std::clamp(x.W.value_or(d.W.value_or(12240)), 1440, 31680);
    setup.PageHeight = std::clamp(x.H.value_or(d.H.value_or(15840)), 1440, 31680);
    // The document's landscape flag stands for sections that give no page of their own.
    if ((x.Landscape || (d.Landscape && !x.W && !x.H)) && setup.PageWidth < setup.PageHeight)
        std::swap(setup.PageWidth, setup.PageHeight);
    setup.MarginL = std::clamp(x.L.value_or(d.L.value_or(1800)), 0, 15840);
    setup.MarginR = std::clamp(x.R.value_or(d.R.value_or(1800)), 0, 15840);
    setup.MarginT = std::clamp(x.T.value_or(d.T.value_or(1440)), 0, 15840);
    setup.MarginB = std::clamp(x.B.value_or(d.B.value_or(1440)), 0, 15840);
    setup.HeaderY = std::clamp(FHeaderY.value_or(720), 0, 15840);
    setup.FooterY = std::clamp(FFooterY.value_or(720), 0, 15840);
    setup.TitlePage = FTitlePage;
    setup.FacingPages = FFacingPages;
    setup.Columns = std::clamp(x.Columns.value_or(1), 1, 12);
    setup.ColumnGap = std::clamp(x.ColumnGap.value_or(720), 0, 15840);
    return setup;
}

void TRtfReader::FinishSections()
{
    FSectionValues.push_back(FSectSetup);
    FOut.Setup = PageOf(FSectionValues.front());
    // Later sections count where their page differs from the one before.
    const auto samePage = [](const TPageSetup& a, const TPageSetup& b) {
        return a.PageWidth == b.PageWidth && a.PageHeight == b.PageHeight && a.MarginL == b.MarginL &&
               a.MarginR == b.MarginR && a.MarginT == b.MarginT && a.MarginB == b.MarginB &&
               a.Columns == b.Columns && a.ColumnGap == b.ColumnGap;
    };
    TPageSetup previous = FOut.Setup;
    for (std::size_t i = 0; i < FSectionStarts.size() && i + 1 < FSectionValues.size(); ++i) {
        const TPageSetup setup = PageOf(FSectionValues[i + 1]);
        if (!samePage(setup, previous))
            FOut.Sections.emplace_back(std::min(FSectionStarts[i], FOut.Main.Length()), setup);
        previous = setup;
    }
}

}  // namespace rtf

QString RefuseNonRtf(const QByteArray& bytes, const QString& file)
{
    const QString name = QFileInfo(file).fileName();
    auto refuse = [&](const QString& what) {
        return QStringLiteral("%1 is %2, not an RTF document. Open it in a word processor and save it as "
                              "Rich Text Format (.rtf), then use that file.")
            .arg(name, what);
    };
    if (bytes.startsWith(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)))
        return refuse(QStringLiteral("a binary Word 97-2003 document"));
    if (bytes.startsWith("PK\x03\x04")) {
        const QByteArray head = bytes.left(4096);
        if (head.contains("word/"))
            return refuse(QStringLiteral("a Word document (DOCX)"));
        if (head.contains("application/vnd.oasis.opendocument"))
            return refuse(QStringLiteral("an OpenDocument file (ODT)"));
        return refuse(QStringLiteral("a ZIP archive"));
    }
    if (bytes.startsWith("%PDF"))
        return refuse(QStringLiteral("a PDF file"));
    if (bytes.startsWith(QByteArray("\xDB\xA5", 2)))
        return refuse(QStringLiteral("a Word 2.0 document"));
    return {};
}

namespace {

// RTF, perhaps after a few stray bytes (a byte-order mark, a byte a
// transfer added): a letterhead with one is still printed as the letterhead,
// not as its RTF source.
bool StartsAsRtf(const QByteArray& bytes)
{
    return bytes.left(64).contains("{\\rtf");
}

// A file that is not RTF is shown as the text it is, as word processors
// open it: one paragraph per line, in a fixed-pitch font.
void ReadPlainText(const QByteArray& bytes, TLoadedDocument& out)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = ToUnicode(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    text.replace(QChar(0), QChar(0xFFFD));
    QTextCharFormat format = TEnginePart::DefaultCharFormat();
    format.setFontFamilies(QStringList {QStringLiteral("Courier New")});
    QTextCursor cursor(out.Main.Doc.get());
    cursor.setBlockCharFormat(format);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            cursor.insertBlock(QTextBlockFormat(), format);
        cursor.insertText(lines[i], format);
    }
}

}  // namespace

void ReadRtf(const QByteArray& bytes, TLoadedDocument& out)
{
    if (!bytes.isEmpty() && !StartsAsRtf(bytes)) {
        ReadPlainText(bytes, out);
        return;
    }
    rtf::TRtfReader reader(bytes, out);
    reader.Read();
}

std::vector<TPositionedImage> ReadOwnFormatImages(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 128ll * 1024 * 1024)
        return {};
    const QByteArray bytes = file.readAll();
    if (!RefuseNonRtf(bytes, path).isEmpty())
        return {};
    TLoadedDocument loaded;
    ReadRtf(bytes, loaded);
    return std::move(loaded.OwnImages);
}
