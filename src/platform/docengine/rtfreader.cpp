#include "platform/docengine/rtfreader.h"

#include "util/codepage.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QStringDecoder>
#include <QTextBlock>

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

namespace {

constexpr int kMaxDepth = 400;
constexpr qsizetype kMaxPictureBytes = 64 * 1024 * 1024;
constexpr int kMaxPictureMegabytes = 64;              // decoded, per picture
constexpr qint64 kMaxDocumentPictureBytes = 256ll << 20;  // decoded, per document

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

class TDecoders {
public:
    QString Decode(int codePage, const QByteArray& bytes)
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

private:
    std::unordered_map<int, std::unique_ptr<QStringDecoder>> FDecoders;
};

// ---- reader state ------------------------------------------------------------

enum class TDest {
    Text,          // text goes into the current part
    Skip,          // nothing in this group is used
    FontTable,
    ColorTable,
    FieldInst,
    Pict,
    ShapeInst,
    ShapeName,
    ShapeValue,
    OrbField,
    OrbFieldEnd,
    OrbImage,
};

struct TCharProps {
    int Font = -1;
    int HalfPoints = 24;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool Strike = false;
    bool Hidden = false;
    int Color = 0;
    int VerticalAlign = 0;  // 1 super, 2 sub
};

struct TParaProps {
    Qt::Alignment Align = Qt::AlignLeft;
    int LeftIndent = 0;
    int RightIndent = 0;
    int FirstIndent = 0;
    int SpaceBefore = 0;
    int SpaceAfter = 0;
    bool PageBreakBefore = false;
    QList<QTextOption::Tab> Tabs;
    QTextOption::TabType NextTabType = QTextOption::LeftTab;
};

struct TPicture {
    QByteArray Data;
    bool Hex = true;
    int HexHigh = -1;
    QByteArray Kind;  // "png", "jpeg", "dib", "wmf", "emf", ...
    int PicW = 0, PicH = 0, GoalW = 0, GoalH = 0, ScaleX = 100, ScaleY = 100;
};

struct TShape {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    QByteArray HorizontalBase, VerticalBase;  // "page", "margin", "column", "para", "ignore"
    int PosRelH = -1, PosRelV = -1;
    bool InHeader = false;
    std::optional<QImage> Picture;
    QByteArray Encoded, EncodedFormat;
    QString PropertyName;
    QString PropertyValue;
};

struct TOwnImage {
    std::map<QByteArray, int> Values;
    QString Path;
};

struct TState {
    TDest Dest = TDest::Text;
    TCharProps Char;
    TParaProps Para;
    int Uc = 1;
    int Part = 0;  // index into the reader's parts
    int PageField = 0;  // inside the result of a PAGE or NUMPAGES field
    bool StarSeen = false;
    bool GroupStart = true;  // no control word read yet in this group
};

// ---- the reader ------------------------------------------------------------

class TRtfReader {
public:
    TRtfReader(const QByteArray& bytes, TLoadedDocument& out) : FIn(bytes), FOut(out)
    {
        FParts.push_back(&out.Main);
        FCursors.emplace_back(out.Main.Doc.get());
    }

    void Read();

private:
    // tokens
    void ControlWord(const QByteArray& word, bool hasParam, int param);
    void ControlSymbol(char symbol);
    void GroupOpen();
    void GroupClose();
    void TextByte(unsigned char byte);
    void Unicode(int value);

    // output
    void FlushBytes();
    void Flush();
    void AppendText(const QString& text);
    void EndParagraph(bool pageBreakAfter = false);
    QTextCharFormat CharFormat() const;
    QTextBlockFormat BlockFormat() const;
    int OpenPart(const QByteArray& variant);
    void FinishPicture();
    void FinishShape();
    void FinishOwnImage();
    void Finish();
    bool SkippingFallback();

    TState& S() { return FStack.back(); }
    QTextCursor& Cursor() { return FCursors[static_cast<std::size_t>(S().Part)]; }

    const QByteArray& FIn;
    qsizetype FPos = 0;
    TLoadedDocument& FOut;
    std::vector<TState> FStack;
    int FOverflowDepth = 0;

    // parts: 0 main, then one per header/footer variant met
    std::vector<TEnginePart*> FParts;
    std::vector<QTextCursor> FCursors;
    std::vector<std::unique_ptr<TEnginePart>> FVariantParts;
    std::map<QByteArray, int> FVariants;  // "header", "footerf", ... -> part index

    TDecoders FDecoders;
    int FDocumentCodePage = 1252;
    int FDefaultFont = 0;
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

    // page setup: document values, then the first section's
    struct TSetupValues {
        std::optional<int> W, H, L, R, T, B;
        bool Landscape = false;
    } FDocSetup, FSectSetup;
    std::optional<int> FHeaderY, FFooterY;
    bool FInFirstSection = true;

    std::optional<TPicture> FPicture;
    int FPictureDepth = -1;
    qint64 FPictureBytes = 0;
    std::optional<TShape> FShape;
    int FShapeDepth = -1;
    std::optional<TOwnImage> FOwnImage;
    int FOwnImageDepth = -1;
    bool FOwnImagePending = false;  // the next shape only carries its picture
    std::vector<TPositionedImage> FPendingOwnImages;

    std::map<int, std::tuple<int, int, bool, int>> FOpenFields;  // id -> part, start, changeable, kind
    struct TClosedField {
        int Part, Id, Start, End;
        bool Changeable;
        int Kind;
    };
    // Made into tracked ranges only when all text is in, so that appending
    // after an empty field does not carry it along.
    std::vector<TClosedField> FClosedFields;
    std::map<QByteArray, int> FOrbValues;
    QByteArray FFieldInstruction;  // of the field being read
};

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
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
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (i > 0)
                Cursor().insertBlock();
            QString line = lines[i];
            line.remove(QChar(0));
            line.remove(QLatin1Char('\r'));
            Cursor().insertText(line, CharFormat());
        }
        Finish();
        return;
    }
    if (groupless) {
        // Control words without any group: read them as a document's body.
        FStack.push_back(TState {});
        FPos = firstMark;
    } else {
        FPos = open;
    }
    while (FPos < FIn.size()) {
        const char c = FIn[FPos];
        if (c == '{') {
            ++FPos;
            GroupOpen();
        } else if (c == '}') {
            ++FPos;
            if (FStack.size() <= 1 && FOverflowDepth == 0)
                break;  // the document's last brace; anything after is junk
            GroupClose();
            if (FStack.size() <= 1 && FOverflowDepth == 0)
                break;
        } else if (c == '\\') {
            ++FPos;
            if (FPos >= FIn.size())
                break;
            const char next = FIn[FPos];
            if (IsLetter(next)) {
                const qsizetype start = FPos;
                while (FPos < FIn.size() && IsLetter(FIn[FPos]) && FPos - start < 32)
                    ++FPos;
                const QByteArray word = FIn.mid(start, FPos - start);
                bool hasParam = false;
                long long param = 0;
                bool negative = false;
                if (FPos < FIn.size() && FIn[FPos] == '-' && FPos + 1 < FIn.size() && FIn[FPos + 1] >= '0' &&
                    FIn[FPos + 1] <= '9') {
                    negative = true;
                    ++FPos;
                }
                int digits = 0;
                while (FPos < FIn.size() && FIn[FPos] >= '0' && FIn[FPos] <= '9') {
                    if (digits < 10)
                        param = param * 10 + (FIn[FPos] - '0');
                    ++digits;
                    ++FPos;
                    hasParam = true;
                }
                if (FPos < FIn.size() && FIn[FPos] == ' ')
                    ++FPos;  // the delimiting space belongs to the control word
                param = std::clamp(param, 0ll, 2147483647ll);
                ControlWord(word, hasParam, static_cast<int>(negative ? -param : param));
            } else {
                ++FPos;
                if (next == '\'') {
                    if (FPos + 2 <= FIn.size()) {
                        bool ok = false;
                        const int value = FIn.mid(FPos, 2).toInt(&ok, 16);
                        FPos += 2;
                        if (ok)
                            TextByte(static_cast<unsigned char>(value));
                        else
                            SkippingFallback();  // a broken escape still stands for one character
                    } else {
                        FPos = FIn.size();
                    }
                } else {
                    ControlSymbol(next);
                }
            }
        } else {
            ++FPos;
            if (c == '\r' || c == '\n')
                continue;
            TextByte(static_cast<unsigned char>(c));
        }
    }
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
    if (dest == TDest::FontTable && FFontEntry >= 0 && !FFontNameBytes.isEmpty()) {
        // A font entry group closed without its ";".
        ControlSymbol(';');
    }
    if (FPicture && depth == FPictureDepth)
        FinishPicture();
    if (FShape && depth == FShapeDepth)
        FinishShape();
    if (FOwnImage && depth == FOwnImageDepth)
        FinishOwnImage();
    if (dest == TDest::OrbField || dest == TDest::OrbFieldEnd) {
        const int id = FOrbValues.count("orbid") ? FOrbValues["orbid"] : 0;
        if (dest == TDest::OrbField && id > 0)
            FOpenFields[id] = {S().Part, Cursor().position(), FOrbValues["orbchg"] != 0, FOrbValues["orbkind"]};
        if (dest == TDest::OrbFieldEnd && FOpenFields.count(id)) {
            const auto [part, start, changeable, kind] = FOpenFields[id];
            if (part == S().Part)
                FClosedFields.push_back({part, id, start, Cursor().position(), changeable, kind});
            FOpenFields.erase(id);
        }
        FOrbValues.clear();
    }
    if (dest == TDest::ShapeValue && FShape) {
        const QString name = FShape->PropertyName.trimmed();
        const QString value = FShape->PropertyValue.trimmed();
        if (name == QLatin1String("posrelh"))
            FShape->PosRelH = value.toInt();
        else if (name == QLatin1String("posrelv"))
            FShape->PosRelV = value.toInt();
        FShape->PropertyValue.clear();
    }
    if (FStack.size() > 1)
        FStack.pop_back();
}

void TRtfReader::TextByte(unsigned char byte)
{
    if (SkippingFallback())
        return;
    TState& s = S();
    switch (s.Dest) {
    case TDest::Text:
        if (byte == '\t' || byte >= 0x20) {
            if (!s.Char.Hidden)
                FPendingBytes.append(static_cast<char>(byte));
        }
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
        if (FPicture && FPicture->Data.size() < kMaxPictureBytes) {
            int nibble = -1;
            if (byte >= '0' && byte <= '9')
                nibble = byte - '0';
            else if (byte >= 'a' && byte <= 'f')
                nibble = byte - 'a' + 10;
            else if (byte >= 'A' && byte <= 'F')
                nibble = byte - 'A' + 10;
            if (nibble >= 0) {
                if (FPicture->HexHigh < 0) {
                    FPicture->HexHigh = nibble;
                } else {
                    FPicture->Data.append(static_cast<char>(FPicture->HexHigh * 16 + nibble));
                    FPicture->HexHigh = -1;
                }
            }
        }
        break;
    case TDest::FieldInst:
        if (FFieldInstruction.size() < 256)
            FFieldInstruction.append(static_cast<char>(byte));
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

void TRtfReader::Unicode(int value)
{
    const char16_t unit = static_cast<char16_t>(value < 0 ? value + 65536 : value);
    const TState& s = S();
    if (s.Dest == TDest::Text && !s.Char.Hidden) {
        FlushBytes();
        FPendingText.append(QChar(unit));
    } else if (s.Dest == TDest::FontTable) {
        FFontNameBytes.append('?');
    } else if (s.Dest == TDest::OrbImage && FOwnImage) {
        FOwnImage->Path.append(QChar(unit));
    }
    FSkipFallback = S().Uc;
}

void TRtfReader::FlushBytes()
{
    if (FPendingBytes.isEmpty())
        return;
    const auto font = FFonts.find(S().Char.Font);
    const int charset = font == FFonts.end() ? 0 : font->second.Charset;
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

void TRtfReader::AppendText(const QString& text)
{
    QTextCursor& cursor = Cursor();
    if (cursor.block().length() == 1)
        cursor.setBlockFormat(BlockFormat());
    cursor.insertText(text, CharFormat());
}

QTextCharFormat TRtfReader::CharFormat() const
{
    const TCharProps& c = FStack.back().Char;
    QTextCharFormat f = TEnginePart::DefaultCharFormat();
    const auto font = FFonts.find(c.Font >= 0 ? c.Font : FDefaultFont);
    if (font != FFonts.end() && !font->second.Name.isEmpty())
        f.setFontFamilies(QStringList {font->second.Name});
    f.setFontPointSize(std::clamp(c.HalfPoints, 2, 3276) / 2.0);
    if (c.Bold)
        f.setFontWeight(QFont::Bold);
    if (c.Italic)
        f.setFontItalic(true);
    if (c.Underline)
        f.setFontUnderline(true);
    if (c.Strike)
        f.setFontStrikeOut(true);
    if (c.Color > 0 && c.Color < static_cast<int>(FColors.size()) && FColors[static_cast<std::size_t>(c.Color)])
        f.setForeground(*FColors[static_cast<std::size_t>(c.Color)]);
    if (FStack.back().PageField != 0)
        f.setProperty(kPageFieldProperty, FStack.back().PageField);
    if (c.VerticalAlign == 1)
        f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (c.VerticalAlign == 2)
        f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    return f;
}

QTextBlockFormat TRtfReader::BlockFormat() const
{
    const TParaProps& p = FStack.back().Para;
    QTextBlockFormat f;
    f.setAlignment(p.Align | Qt::AlignAbsolute);
    f.setLeftMargin(std::max(0, p.LeftIndent));
    f.setRightMargin(std::max(0, p.RightIndent));
    f.setTextIndent(p.FirstIndent);
    // The layout scales vertical spacing and tab stops from 96-dpi pixels to
    // its 1440-dpi device, but takes indents as they are.
    const int before = std::max(0, p.SpaceBefore);
    const int after = std::max(0, p.SpaceAfter);
    const int previousAfter = FCursors[static_cast<std::size_t>(FStack.back().Part)].block().previous().isValid()
                                  ? FCursors[static_cast<std::size_t>(FStack.back().Part)].block().previous().blockFormat().intProperty(kSpaceAfterTwips)
                                  : 0;
    f.setTopMargin((before + previousAfter) / 15.0);
    f.setBottomMargin(after / 15.0);
    f.setProperty(kSpaceBeforeTwips, before);
    f.setProperty(kSpaceAfterTwips, after);
    if (!p.Tabs.isEmpty()) {
        QList<QTextOption::Tab> tabs = p.Tabs;
        for (QTextOption::Tab& tab : tabs)
            tab.position /= 15.0;
        f.setTabPositions(tabs);
    }
    if (p.PageBreakBefore)
        f.setProperty(kPageBreakBeforeProperty, true);
    return f;
}

void TRtfReader::EndParagraph(bool pageBreakAfter)
{
    if (S().Dest != TDest::Text)
        return;
    Flush();
    QTextCursor& cursor = Cursor();
    QTextBlockFormat current = BlockFormat();
    cursor.setBlockFormat(current);
    QTextBlockFormat next = current;
    if (pageBreakAfter)
        next.setProperty(kPageBreakBeforeProperty, true);
    else
        next.clearProperty(kPageBreakBeforeProperty);
    cursor.insertBlock(next, CharFormat());
}

int TRtfReader::OpenPart(const QByteArray& variant)
{
    // The first copy of each header or footer wins; later sections repeat them.
    if (FVariants.count(variant))
        return -1;
    FVariantParts.push_back(std::make_unique<TEnginePart>());
    FParts.push_back(FVariantParts.back().get());
    FCursors.emplace_back(FVariantParts.back()->Doc.get());
    const int index = static_cast<int>(FParts.size()) - 1;
    FVariants[variant] = index;
    return index;
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
    case '~':
        if (s.Dest == TDest::Text) {
            FlushBytes();
            FPendingText.append(QChar(0x00A0));
        }
        break;
    case '_':
        if (s.Dest == TDest::Text) {
            FlushBytes();
            FPendingText.append(QLatin1Char('-'));
        }
        break;
    case '\n': case '\r':
        EndParagraph();
        break;
    case '\t':
        TextByte('\t');
        break;
    default:
        break;  // \- optional hyphen, \| \: index marks
    }
}

void TRtfReader::ControlWord(const QByteArray& word, bool hasParam, int param)
{
    TState& s = S();
    const bool groupStart = s.GroupStart;
    s.GroupStart = false;

    // \bin: raw bytes that may hold anything, even inside skipped groups.
    if (word == "bin") {
        const qsizetype count = hasParam ? std::clamp<qsizetype>(param, 0, FIn.size() - FPos) : 0;
        if (s.Dest == TDest::Pict && FPicture && FPicture->Data.size() + count <= kMaxPictureBytes) {
            FPicture->Data.append(FIn.mid(FPos, count));
            FPicture->Hex = false;
        }
        FPos += count;
        return;
    }
    if (FOverflowDepth > 0)
        return;

    // Destinations.
    static const std::unordered_map<std::string, int> kSkipped = {
        {"info", 1}, {"stylesheet", 1}, {"listtable", 1}, {"listoverridetable", 1}, {"revtbl", 1},
        {"rsidtbl", 1}, {"pgdsctbl", 1}, {"themedata", 1}, {"colorschememapping", 1}, {"datastore", 1},
        {"latentstyles", 1}, {"xmlnstbl", 1}, {"mmathPr", 1}, {"userprops", 1}, {"generator", 1},
        {"ftnsep", 1}, {"ftnsepc", 1}, {"aftnsep", 1}, {"aftnsepc", 1}, {"footnote", 1}, {"annotation", 1},
        {"shprslt", 1}, {"nonshppict", 1}, {"objdata", 1}, {"bkmkstart", 1}, {"bkmkend", 1}, {"xe", 1},
        {"tc", 1}, {"txe", 1}, {"fldtitle", 1}, {"atnid", 1}, {"atnauthor", 1}, {"atndate", 1},
        {"object", 0}, {"pnseclvl", 1}, {"pgptbl", 1}, {"filetbl", 1}, {"fchars", 1}, {"lchars", 1},
        {"blipuid", 1}, {"picprop", 1}, {"falt", 1}, {"panose", 1}, {"fname", 1}, {"do", 1}, {"ud", 1},
        {"mhtmltag", 1}, {"htmltag", 1}, {"formfield", 1}, {"template", 1}, {"comment", 1},
        {"passwordhash", 1}, {"wgrffmtfilter", 1}, {"background", 1}, {"protusertbl", 1},
    };
    const std::string w = word.toStdString();
    if (groupStart) {
        if (auto it = kSkipped.find(w); it != kSkipped.end() && it->second == 1) {
            s.Dest = TDest::Skip;
            return;
        }
        if (w == "fonttbl") {
            s.Dest = TDest::FontTable;
            FFontEntry = -1;
            return;
        }
        if (w == "colortbl") {
            s.Dest = TDest::ColorTable;
            FColors.clear();
            FRed = FGreen = FBlue = -1;
            return;
        }
        if (w == "header" || w == "footer" || w == "headerl" || w == "headerr" || w == "headerf" ||
            w == "footerl" || w == "footerr" || w == "footerf") {
            const int part = s.Dest == TDest::Text && s.Part == 0 ? OpenPart(word) : -1;
            if (part < 0) {
                s.Dest = TDest::Skip;
            } else {
                s.Part = part;
                s.Para = TParaProps {};
            }
            return;
        }
        if (w == "fldinst") {
            s.Dest = TDest::FieldInst;
            FFieldInstruction.clear();
            return;
        }
        if (w == "fldrslt" && s.Dest == TDest::Text) {
            const QByteArray kind = FFieldInstruction.trimmed().split(' ').value(0).toUpper();
            s.PageField = kind == "PAGE" ? kPageNumberField : kind == "NUMPAGES" ? kPageCountField : 0;
            return;
        }
        if (w == "pict") {
            if (s.Dest == TDest::Text || s.Dest == TDest::ShapeValue) {
                Flush();
                FPicture = TPicture {};
                FPictureDepth = static_cast<int>(FStack.size());
                s.Dest = TDest::Pict;
            } else {
                s.Dest = TDest::Skip;
            }
            return;
        }
        if (w == "shp" && s.Dest == TDest::Text) {
            Flush();
            FShape = TShape {};
            FShape->InHeader = s.Part != 0;
            FShapeDepth = static_cast<int>(FStack.size());
            return;
        }
        if (w == "shpinst" && FShape) {
            s.Dest = TDest::ShapeInst;
            return;
        }
        if (w == "sn" && FShape) {
            s.Dest = TDest::ShapeName;
            FShape->PropertyName.clear();
            return;
        }
        if (w == "sv" && FShape) {
            s.Dest = TDest::ShapeValue;
            FShape->PropertyValue.clear();
            return;
        }
        if (w == "shptxt" && FShape) {
            s.Dest = TDest::Text;  // a text box's text joins the text where the shape stands
            return;
        }
        if (w == "orbfield" || w == "orbfieldend") {
            FOrbValues.clear();
            s.Dest = w == "orbfield" ? TDest::OrbField : TDest::OrbFieldEnd;
            return;
        }
        if (w == "orbimage") {
            FOwnImage = TOwnImage {};
            FOwnImageDepth = static_cast<int>(FStack.size());
            s.Dest = TDest::OrbImage;
            return;
        }
        if (s.StarSeen && s.Dest != TDest::Skip && w != "shppict" && w != "upr") {
            s.Dest = TDest::Skip;  // an ignorable destination this reader does not know
            return;
        }
    }

    // Damaged files: body text written before the font table was closed, and
    // font entries written after it.
    static const std::unordered_map<std::string, int> kBodyWords = {{"pard", 1}, {"par", 1}, {"viewkind", 1}, {"sectd", 1}};
    static const std::unordered_map<std::string, int> kFontFamilies = {
        {"fnil", 1}, {"froman", 1}, {"fswiss", 1}, {"fmodern", 1}, {"fscript", 1}, {"fdecor", 1}, {"ftech", 1}, {"fbidi", 1}};
    if (s.Dest == TDest::FontTable && FStack.size() >= 2 && FStack[FStack.size() - 2].Dest != TDest::FontTable &&
        kBodyWords.count(w)) {
        s.Dest = TDest::Text;
        FFontEntry = -1;
    } else if (s.Dest == TDest::Text && kFontFamilies.count(w) && FPendingBytes.isEmpty() && FPendingText.isEmpty() &&
               s.Char.Font >= 0 && FStack.size() > 2) {
        s.Dest = TDest::FontTable;
        FFontEntry = s.Char.Font;
        FFontNameBytes.clear();
        return;
    }

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
    case TDest::Pict:
        if (!FPicture)
            return;
        if (w == "pngblip")
            FPicture->Kind = "png";
        else if (w == "jpegblip")
            FPicture->Kind = "jpeg";
        else if (w == "dibitmap")
            FPicture->Kind = "dib";
        else if (w == "wbitmap")
            FPicture->Kind = "ddb";
        else if (w == "emfblip")
            FPicture->Kind = "emf";
        else if (w == "wmetafile" || w == "macpict" || w == "pmmetafile")
            FPicture->Kind = "wmf";
        else if (w == "picw")
            FPicture->PicW = param;
        else if (w == "pich")
            FPicture->PicH = param;
        else if (w == "picwgoal")
            FPicture->GoalW = param;
        else if (w == "pichgoal")
            FPicture->GoalH = param;
        else if (w == "picscalex")
            FPicture->ScaleX = param;
        else if (w == "picscaley")
            FPicture->ScaleY = param;
        return;
    case TDest::ShapeInst:
    case TDest::ShapeName:
    case TDest::ShapeValue:
        if (!FShape)
            return;
        if (w == "shpleft")
            FShape->Left = param;
        else if (w == "shptop")
            FShape->Top = param;
        else if (w == "shpright")
            FShape->Right = param;
        else if (w == "shpbottom")
            FShape->Bottom = param;
        else if (w.rfind("shpbx", 0) == 0)
            FShape->HorizontalBase = word.mid(5);
        else if (w.rfind("shpby", 0) == 0)
            FShape->VerticalBase = word.mid(5);
        else if (w == "shpfhdr")
            FShape->InHeader = FShape->InHeader || param != 0;
        return;
    case TDest::OrbField:
    case TDest::OrbFieldEnd:
        FOrbValues[word] = param;
        return;
    case TDest::OrbImage:
        if (FOwnImage)
            FOwnImage->Values[word] = param;
        return;
    case TDest::FieldInst:
        return;
    case TDest::Text:
        break;
    }

    // Document, section, character and paragraph properties; special characters.
    TCharProps& c = s.Char;
    TParaProps& p = s.Para;
    auto on = [&] { return !hasParam || param != 0; };
    auto special = [&](char16_t ch) {
        if (SkippingFallback() || c.Hidden)
            return;
        FlushBytes();
        FPendingText.append(QChar(ch));
    };
    auto setup = [&](std::optional<int> TSetupValues::*field) {
        if (param > 0 && param < 200000) {
            if (FInFirstSection)
                FSectSetup.*field = param;
        }
    };
    auto docSetup = [&](std::optional<int> TSetupValues::*field) {
        if (param > 0 && param < 200000)
            FDocSetup.*field = param;
    };

    if (w == "u") {
        Unicode(param);
        return;
    }
    if (SkippingFallback())
        return;

    // Anything that changes the look ends the text run written so far.
    Flush();
    if (w == "par") {
        EndParagraph();
    } else if (w == "line") {
        special(QChar::LineSeparator);
    } else if (w == "tab") {
        special(u'\t');
    } else if (w == "page") {
        EndParagraph(true);
    } else if (w == "sect") {
        EndParagraph();
        FInFirstSection = false;
    } else if (w == "cell" || w == "nestcell") {
        special(u'\t');
    } else if (w == "row" || w == "nestrow") {
        EndParagraph();
    } else if (w == "emdash") {
        special(0x2014);
    } else if (w == "endash") {
        special(0x2013);
    } else if (w == "emspace" || w == "enspace" || w == "qmspace") {
        special(u' ');
    } else if (w == "bullet") {
        special(0x2022);
    } else if (w == "lquote") {
        special(0x2018);
    } else if (w == "rquote") {
        special(0x2019);
    } else if (w == "ldblquote") {
        special(0x201C);
    } else if (w == "rdblquote") {
        special(0x201D);
    } else if (w == "chpgn") {
        Flush();
        const int previous = s.PageField;
        s.PageField = kPageNumberField;
        special(u'1');
        Flush();
        s.PageField = previous;
    } else if (w == "uc") {
        s.Uc = std::clamp(param, 0, 10);
    } else if (w == "ansicpg") {
        if (param > 0 && param < 100000)
            FDocumentCodePage = param;
    } else if (w == "mac") {
        FDocumentCodePage = 10000;
    } else if (w == "pc") {
        FDocumentCodePage = 437;
    } else if (w == "pca") {
        FDocumentCodePage = 850;
    } else if (w == "deff") {
        FDefaultFont = param;
    } else if (w == "plain") {
        c = TCharProps {};
    } else if (w == "f") {
        c.Font = param;
    } else if (w == "fs") {
        if (param > 0)
            c.HalfPoints = param;
    } else if (w == "b") {
        c.Bold = on();
    } else if (w == "i") {
        c.Italic = on();
    } else if (w == "ul" || w == "uld" || w == "uldb" || w == "ulw" || w == "uldash" || w == "ulth" || w == "ulwave") {
        c.Underline = on();
    } else if (w == "ulnone") {
        c.Underline = false;
    } else if (w == "strike" || w == "striked") {
        c.Strike = on();
    } else if (w == "v") {
        c.Hidden = on();
    } else if (w == "cf") {
        c.Color = param;
    } else if (w == "super" || w == "up") {
        c.VerticalAlign = on() ? 1 : 0;
    } else if (w == "sub" || w == "dn") {
        c.VerticalAlign = on() ? 2 : 0;
    } else if (w == "nosupersub") {
        c.VerticalAlign = 0;
    } else if (w == "pard") {
        p = TParaProps {};
    } else if (w == "ql") {
        p.Align = Qt::AlignLeft;
    } else if (w == "qc") {
        p.Align = Qt::AlignHCenter;
    } else if (w == "qr") {
        p.Align = Qt::AlignRight;
    } else if (w == "qj") {
        p.Align = Qt::AlignJustify;
    } else if (w == "li" || w == "lin") {
        p.LeftIndent = param;
    } else if (w == "ri" || w == "rin") {
        p.RightIndent = param;
    } else if (w == "fi") {
        p.FirstIndent = param;
    } else if (w == "sb") {
        p.SpaceBefore = param;
    } else if (w == "sa") {
        p.SpaceAfter = param;
    } else if (w == "pagebb") {
        p.PageBreakBefore = on();
    } else if (w == "tqr") {
        p.NextTabType = QTextOption::RightTab;
    } else if (w == "tqc") {
        p.NextTabType = QTextOption::CenterTab;
    } else if (w == "tqdec") {
        p.NextTabType = QTextOption::DelimiterTab;
    } else if (w == "tx" || w == "tb") {
        if (p.Tabs.size() < 64 && param >= 0)
            p.Tabs.append(QTextOption::Tab(param, p.NextTabType));
        p.NextTabType = QTextOption::LeftTab;
    } else if (w == "paperw") {
        docSetup(&TSetupValues::W);
    } else if (w == "paperh") {
        docSetup(&TSetupValues::H);
    } else if (w == "margl") {
        docSetup(&TSetupValues::L);
    } else if (w == "margr") {
        docSetup(&TSetupValues::R);
    } else if (w == "margt") {
        docSetup(&TSetupValues::T);
    } else if (w == "margb") {
        docSetup(&TSetupValues::B);
    } else if (w == "landscape") {
        FDocSetup.Landscape = true;
    } else if (w == "pgwsxn") {
        setup(&TSetupValues::W);
    } else if (w == "pghsxn") {
        setup(&TSetupValues::H);
    } else if (w == "marglsxn") {
        setup(&TSetupValues::L);
    } else if (w == "margrsxn") {
        setup(&TSetupValues::R);
    } else if (w == "margtsxn") {
        setup(&TSetupValues::T);
    } else if (w == "margbsxn") {
        setup(&TSetupValues::B);
    } else if (w == "lndscpsxn") {
        if (FInFirstSection)
            FSectSetup.Landscape = true;
    } else if (w == "headery") {
        if (param >= 0 && param < 200000 && (!FHeaderY || FInFirstSection))
            FHeaderY = param;
    } else if (w == "footery") {
        if (param >= 0 && param < 200000 && (!FFooterY || FInFirstSection))
            FFooterY = param;
    }
}

QImage DecodePicture(const TPicture& picture, QByteArray& encoded, QByteArray& format)
{
    QByteArray data = picture.Data;
    if (picture.Kind == "dib" && data.size() > 40) {
        // A device-independent bitmap lacks the file header that readers expect.
        const quint32 headerSize = static_cast<quint8>(data[0]) | (static_cast<quint8>(data[1]) << 8);
        const quint16 bits = static_cast<quint8>(data[14]) | (static_cast<quint8>(data[15]) << 8);
        quint32 colors = static_cast<quint8>(data[32]) | (static_cast<quint8>(data[33]) << 8) |
                         (static_cast<quint8>(data[34]) << 16) | (static_cast<quint8>(data[35]) << 24);
        if (colors == 0 && bits <= 8)
            colors = 1u << bits;
        const quint32 offset = 14 + headerSize + std::min<quint32>(colors, 256) * 4;
        const quint32 size = 14 + static_cast<quint32>(data.size());
        QByteArray header("BM", 2);
        for (quint32 v : {size})
            for (int i = 0; i < 4; ++i)
                header.append(static_cast<char>((v >> (8 * i)) & 0xFF));
        header.append(QByteArray(4, '\0'));
        for (int i = 0; i < 4; ++i)
            header.append(static_cast<char>((offset >> (8 * i)) & 0xFF));
        data.prepend(header);
    }
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);  // the bytes decide the format, whatever the file called it
    reader.setAllocationLimit(kMaxPictureMegabytes);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > qint64(kMaxPictureMegabytes) * 1024 * 1024)
        return {};  // a header that claims more than a letterhead picture needs
    QImage image;
    if (!reader.read(&image))
        return {};
    format = reader.format().toLower();
    if (format == "png" || format == "jpeg" || format == "jpg") {
        encoded = picture.Data;
        format = format == "png" ? "png" : "jpeg";
    } else {
        encoded.clear();
        format.clear();
    }
    return image;
}

void TRtfReader::FinishPicture()
{
    TPicture picture = std::move(*FPicture);
    FPicture.reset();
    FPictureDepth = -1;
    if (FPictureBytes > kMaxDocumentPictureBytes)
        return;  // enough pictures for any letterhead: the rest are not decoded
    QByteArray encoded, format;
    const QImage image = DecodePicture(picture, encoded, format);
    if (image.isNull())
        return;  // metafiles and damaged data are not drawn
    FPictureBytes += image.sizeInBytes();
    if (FShape) {
        if (!FShape->Picture) {
            FShape->Picture = image;
            FShape->Encoded = encoded;
            FShape->EncodedFormat = format;
        }
        return;
    }
    // An inline picture, sized from its goal in twips, else its pixels.
    double w = picture.GoalW > 0 ? picture.GoalW : (picture.PicW > 0 && picture.Kind != "wmf" ? picture.PicW * 15.0 : image.width() * 15.0);
    double h = picture.GoalH > 0 ? picture.GoalH : (picture.PicH > 0 && picture.Kind != "wmf" ? picture.PicH * 15.0 : image.height() * 15.0);
    w = std::clamp(w * std::clamp(picture.ScaleX, 1, 1000) / 100.0, 1.0, 30000.0);
    h = std::clamp(h * std::clamp(picture.ScaleY, 1, 1000) / 100.0, 1.0, 30000.0);
    TEnginePart& part = *FParts[static_cast<std::size_t>(S().Part)];
    const QTextImageFormat imageFormat = part.AddPicture(image, encoded, format, w, h);
    Cursor().insertImage(imageFormat);
}

void TRtfReader::FinishShape()
{
    TShape shape = std::move(*FShape);
    FShape.reset();
    FShapeDepth = -1;
    if (FOwnImagePending && !FPendingOwnImages.empty()) {
        // The engine's own image description came first; this shape only carries its picture.
        FOwnImagePending = false;
        TPositionedImage& own = FPendingOwnImages.back();
        if (shape.Picture && own.Image.isNull()) {
            own.Image = *shape.Picture;
            own.Encoded = shape.Encoded;
            own.EncodedFormat = shape.EncodedFormat;
        }
        return;
    }
    if (!shape.Picture)
        return;
    const int width = std::max(1, shape.Right - shape.Left);
    const int height = std::max(1, shape.Bottom - shape.Top);
    if (shape.Top < 0 && shape.Bottom <= 0 && !shape.InHeader) {
        // An "as character" picture: it stands in the text.
        TEnginePart& part = *FParts[static_cast<std::size_t>(S().Part)];
        Cursor().insertImage(part.AddPicture(*shape.Picture, shape.Encoded, shape.EncodedFormat, width, height));
        return;
    }
    const int marginL = FSectSetup.L.value_or(FDocSetup.L.value_or(1800));
    const int marginT = FSectSetup.T.value_or(FDocSetup.T.value_or(1440));
    int x = shape.Left;
    int y = shape.Top;
    const QByteArray& bx = shape.HorizontalBase;
    if (bx == "margin" || bx == "column" || (bx == "ignore" && (shape.PosRelH == 0 || shape.PosRelH == 2)))
        x += marginL;
    const QByteArray& by = shape.VerticalBase;
    if (by == "margin" || by == "para" || (by == "ignore" && (shape.PosRelV == 0 || shape.PosRelV == 2 || shape.PosRelV == 3)))
        y += marginT;
    TPositionedImage image;
    image.Image = *shape.Picture;
    image.Encoded = shape.Encoded;
    image.EncodedFormat = shape.EncodedFormat;
    image.PosX = x;
    image.PosY = y;
    image.WidthOverride = width;
    image.HeightOverride = height;
    image.EveryPage = shape.InHeader;
    FOut.Images.push_back(std::move(image));
}

void TRtfReader::FinishOwnImage()
{
    TOwnImage own = std::move(*FOwnImage);
    FOwnImage.reset();
    FOwnImageDepth = -1;
    auto value = [&](const char* key, int fallback) {
        const auto it = own.Values.find(key);
        return it == own.Values.end() ? fallback : it->second;
    };
    TPositionedImage image;
    image.FileName = own.Path.trimmed();
    image.PosX = value("orbx", 0);
    image.PosY = value("orby", 0);
    image.ScaleX = value("orbsx", 100);
    image.ScaleY = value("orbsy", 100);
    image.LayoutCodeA = value("orbla", 0);
    image.LayoutCodeB = value("orblb", 0);
    image.Distance1 = value("orbda", 0);
    image.Distance2 = value("orbdb", 0);
    image.Distance3 = value("orbdc", 0);
    image.Distance4 = value("orbdd", 0);
    image.WidthOverride = value("orbw", 0);
    image.HeightOverride = value("orbh", 0);
    image.EveryPage = value("orbevery", 0) != 0;
    FPendingOwnImages.push_back(std::move(image));
    FOwnImagePending = true;
}

void TRtfReader::Finish()
{
    Flush();
    for (std::size_t i = 0; i < FParts.size(); ++i) {
        QTextCursor& cursor = FCursors[i];
        if (cursor.block().length() == 1 && cursor.block().previous().isValid()) {
            // The paragraph mark that closes the last paragraph opens no new one.
            cursor.deletePreviousChar();
        }
    }
    for (const TClosedField& f : FClosedFields) {
        TEnginePart& part = *FParts[static_cast<std::size_t>(f.Part)];
        const int length = part.Length();
        part.AddField(f.Id, std::min(f.Start, length), std::min(f.End, length), f.Changeable, f.Kind);
    }

    auto pick = [&](std::initializer_list<const char*> variants) -> TEnginePart* {
        for (const char* v : variants) {
            const auto it = FVariants.find(v);
            if (it != FVariants.end() && !FParts[static_cast<std::size_t>(it->second)]->IsEmpty())
                return FParts[static_cast<std::size_t>(it->second)];
        }
        return nullptr;
    };
    if (TEnginePart* header = pick({"header", "headerr", "headerf", "headerl"}))
        FOut.Header = std::move(*header);
    if (TEnginePart* footer = pick({"footer", "footerr", "footerf", "footerl"}))
        FOut.Footer = std::move(*footer);

    TPageSetup& setup = FOut.Setup;
    const TSetupValues& d = FDocSetup;
    const TSetupValues& x = FSectSetup;
    setup.PageWidth = std::clamp(x.W.value_or(d.W.value_or(12240)), 1440, 31680);
    setup.PageHeight = std::clamp(x.H.value_or(d.H.value_or(15840)), 1440, 31680);
    if ((x.Landscape || d.Landscape) && setup.PageWidth < setup.PageHeight)
        std::swap(setup.PageWidth, setup.PageHeight);
    setup.MarginL = std::clamp(x.L.value_or(d.L.value_or(1800)), 0, 15840);
    setup.MarginR = std::clamp(x.R.value_or(d.R.value_or(1800)), 0, 15840);
    setup.MarginT = std::clamp(x.T.value_or(d.T.value_or(1440)), 0, 15840);
    setup.MarginB = std::clamp(x.B.value_or(d.B.value_or(1440)), 0, 15840);
    setup.HeaderY = std::clamp(FHeaderY.value_or(720), 0, 15840);
    setup.FooterY = std::clamp(FFooterY.value_or(720), 0, 15840);

    for (TPositionedImage& own : FPendingOwnImages) {
        if (own.Image.isNull() && !own.FileName.isEmpty()) {
            QImageReader reader(own.FileName);
            reader.setAllocationLimit(kMaxPictureMegabytes);
            reader.read(&own.Image);
        }
        FOut.OwnImages.push_back(std::move(own));
    }
}

}  // namespace

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

void ReadRtf(const QByteArray& bytes, TLoadedDocument& out)
{
    TRtfReader reader(bytes, out);
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
