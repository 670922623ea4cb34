#include "platform/docengine/rtfwriter.h"

#include "platform/docengine/documentengine.h"
#include "platform/docengine/enginepart.h"
#include "util/codepage.h"

#include <QBuffer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>

#include <map>
#include <set>

namespace {

class TRtfWriter {
public:
    TRtfWriter(DocumentEngine& engine, bool own) : FEngine(engine), FOwn(own) {}
    QByteArray Write();

private:
    void CollectTables(const QTextDocument& doc);
    void WritePart(int part);
    void WriteBlockFormat(const QTextBlockFormat& format);
    void WriteRun(const QString& text, const QTextCharFormat& format);
    void WritePicture(int part, const QTextImageFormat& format);
    void WritePositionedImage(const TPositionedImage& image);
    void WriteText(const QString& text);
    void WritePict(const QImage& image, const QByteArray& encoded, const QByteArray& format, int widthTwips,
                   int heightTwips);
    int FontIndex(const QTextCharFormat& format) const;
    int ColorIndex(const QTextCharFormat& format) const;

    DocumentEngine& FEngine;
    bool FOwn;
    QByteArray FOut;
    std::map<QString, int> FFonts;
    std::map<QRgb, int> FColors;
};

QString FamilyOf(const QTextCharFormat& format)
{
    const QStringList families = format.fontFamilies().toStringList();
    return families.isEmpty() ? QStringLiteral("Arial") : families.first();
}

QByteArray Num(long long value)
{
    return QByteArray::number(value);
}

QByteArray TwipsOf(double value)
{
    return Num(static_cast<long long>(value + (value >= 0 ? 0.5 : -0.5)));
}

int TRtfWriter::FontIndex(const QTextCharFormat& format) const
{
    const auto it = FFonts.find(FamilyOf(format));
    return it == FFonts.end() ? 0 : it->second;
}

int TRtfWriter::ColorIndex(const QTextCharFormat& format) const
{
    if (!format.hasProperty(QTextFormat::ForegroundBrush))
        return 0;
    const auto it = FColors.find(format.foreground().color().rgb());
    return it == FColors.end() ? 0 : it->second;
}

void TRtfWriter::CollectTables(const QTextDocument& doc)
{
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            FFonts.emplace(FamilyOf(format), static_cast<int>(FFonts.size()));
            if (format.hasProperty(QTextFormat::ForegroundBrush))
                FColors.emplace(format.foreground().color().rgb(), static_cast<int>(FColors.size()) + 1);
        }
}

void TRtfWriter::WriteText(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}') {
            FOut += '\\';
            FOut += static_cast<char>(u);
        } else if (u == '\t') {
            FOut += "\\tab ";
        } else if (u == QChar::LineSeparator) {
            FOut += "\\line ";
        } else if (u == 0x00A0) {
            FOut += "\\~";
        } else if (u >= 0x20 && u < 0x80) {
            FOut += static_cast<char>(u);
        } else if (u < 0x20) {
            continue;
        } else {
            const std::string byte = FromUnicode(QString(c));
            if (byte != "?") {
                static const char* hex = "0123456789abcdef";
                const auto b = static_cast<unsigned char>(byte[0]);
                FOut += "\\'";
                FOut += hex[b >> 4];
                FOut += hex[b & 15];
            } else {
                FOut += "\\u" + Num(static_cast<short>(u)) + "?";
            }
        }
    }
}

void TRtfWriter::WriteBlockFormat(const QTextBlockFormat& f)
{
    FOut += "\\pard\\plain";
    const Qt::Alignment a = f.alignment();
    if (a & Qt::AlignHCenter)
        FOut += "\\qc";
    else if (a & Qt::AlignJustify)
        FOut += "\\qj";
    else if (a & Qt::AlignRight)
        FOut += "\\qr";
    else
        FOut += "\\ql";
    if (f.leftMargin() != 0)
        FOut += "\\li" + TwipsOf(f.leftMargin());
    if (f.rightMargin() != 0)
        FOut += "\\ri" + TwipsOf(f.rightMargin());
    if (f.textIndent() != 0)
        FOut += "\\fi" + TwipsOf(f.textIndent());
    // Vertical spacing and tab stops are held in 96-dpi pixels (see the reader).
    const double before = f.hasProperty(kSpaceBeforeTwips) ? f.intProperty(kSpaceBeforeTwips) : f.topMargin() * 15;
    const double after = f.hasProperty(kSpaceAfterTwips) ? f.intProperty(kSpaceAfterTwips) : f.bottomMargin() * 15;
    if (before != 0)
        FOut += "\\sb" + TwipsOf(before);
    if (after != 0)
        FOut += "\\sa" + TwipsOf(after);
    for (const QTextOption::Tab& tab : f.tabPositions()) {
        if (tab.type == QTextOption::RightTab)
            FOut += "\\tqr";
        else if (tab.type == QTextOption::CenterTab)
            FOut += "\\tqc";
        else if (tab.type == QTextOption::DelimiterTab)
            FOut += "\\tqdec";
        FOut += "\\tx" + TwipsOf(tab.position * 15);
    }
    if (f.boolProperty(kPageBreakBeforeProperty))
        FOut += "\\pagebb";
    FOut += ' ';
}

void TRtfWriter::WriteRun(const QString& text, const QTextCharFormat& f)
{
    if (text.isEmpty())
        return;
    if (f.hasProperty(kPageFieldProperty)) {
        // Page numbers and counts go back as the fields word processors update.
        FOut += f.intProperty(kPageFieldProperty) == kPageNumberField ? "{\\field{\\*\\fldinst  PAGE }{\\fldrslt "
                                                                        : "{\\field{\\*\\fldinst  NUMPAGES }{\\fldrslt ";
        QTextCharFormat plain = f;
        plain.clearProperty(kPageFieldProperty);
        WriteRun(text, plain);
        FOut += "}}";
        return;
    }
    FOut += "{\\f" + Num(FontIndex(f));
    const double size = f.fontPointSize() > 0 ? f.fontPointSize() : 10.0;
    FOut += "\\fs" + Num(static_cast<long long>(size * 2 + 0.5));
    if (f.fontWeight() >= QFont::DemiBold)
        FOut += "\\b";
    if (f.fontItalic())
        FOut += "\\i";
    if (f.fontUnderline())
        FOut += "\\ul";
    if (f.fontStrikeOut())
        FOut += "\\strike";
    if (const int color = ColorIndex(f))
        FOut += "\\cf" + Num(color);
    if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript)
        FOut += "\\super";
    else if (f.verticalAlignment() == QTextCharFormat::AlignSubScript)
        FOut += "\\sub";
    FOut += ' ';
    WriteText(text);
    FOut += '}';
}

void TRtfWriter::WritePict(const QImage& image, const QByteArray& encoded, const QByteArray& format, int widthTwips,
                           int heightTwips)
{
    QByteArray data = encoded;
    QByteArray kind = format;
    if (data.isEmpty()) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        kind = "png";
    }
    FOut += "{\\pict";
    FOut += kind == "jpeg" ? "\\jpegblip" : "\\pngblip";
    FOut += "\\picw" + Num(image.width()) + "\\pich" + Num(image.height());
    FOut += "\\picwgoal" + Num(widthTwips) + "\\pichgoal" + Num(heightTwips) + "\n";
    const QByteArray hex = data.toHex();
    for (qsizetype i = 0; i < hex.size(); i += 128) {
        FOut += hex.mid(i, 128);
        FOut += '\n';
    }
    FOut += '}';
}

void TRtfWriter::WritePicture(int part, const QTextImageFormat& format)
{
    const TEnginePart& data = FEngine.PartData(part);
    const QImage image = data.Doc->resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
    if (image.isNull())
        return;
    QByteArray encoded, kind;
    if (const auto it = data.Pictures.find(format.name()); it != data.Pictures.end()) {
        encoded = it->second.Encoded;
        kind = it->second.Format;
    }
    const auto widthTwips = static_cast<int>(format.width() * 15.0 + 0.5);
    const auto heightTwips = static_cast<int>(format.height() * 15.0 + 0.5);
    WritePict(image, encoded, kind, widthTwips, heightTwips);
}

void TRtfWriter::WritePositionedImage(const TPositionedImage& image)
{
    if (image.Image.isNull())
        return;
    const int w = image.WidthTwips();
    const int h = image.HeightTwips();
    if (FOwn && !image.FileName.isEmpty()) {
        FOut += "{\\*\\orbimage\\orbx" + Num(image.PosX) + "\\orby" + Num(image.PosY) + "\\orbsx" + Num(image.ScaleX) +
                "\\orbsy" + Num(image.ScaleY) + "\\orbla" + Num(image.LayoutCodeA) + "\\orblb" + Num(image.LayoutCodeB) +
                "\\orbda" + Num(image.Distance1) + "\\orbdb" + Num(image.Distance2) + "\\orbdc" + Num(image.Distance3) +
                "\\orbdd" + Num(image.Distance4) + "\\orbw" + Num(image.WidthOverride) + "\\orbh" +
                Num(image.HeightOverride) + "\\orbevery" + Num(image.EveryPage ? 1 : 0) + " ";
        WriteText(image.FileName);
        FOut += "}";
    }
    FOut += "{\\shp{\\*\\shpinst\\shpleft" + Num(image.PosX) + "\\shptop" + Num(image.PosY) + "\\shpright" +
            Num(image.PosX + w) + "\\shpbottom" + Num(image.PosY + h) + "\\shpfhdr" + Num(image.EveryPage ? 1 : 0) +
            "\\shpbxpage\\shpbxignore\\shpbypage\\shpbyignore\\shpwr3\\shpwrk0\\shpfblwtxt0\\shpz0"
            "{\\sp{\\sn shapeType}{\\sv 75}}{\\sp{\\sn posrelh}{\\sv 1}}{\\sp{\\sn posrelv}{\\sv 1}}"
            "{\\sp{\\sn pib}{\\sv ";
    WritePict(image.Image, image.Encoded, image.EncodedFormat, w, h);
    FOut += "}}}}\n";
}

void TRtfWriter::WritePart(int part)
{
    const QTextDocument& doc = *FEngine.PartDocument(part);
    std::map<int, std::vector<QByteArray>> marks;  // position -> markers written there
    if (FOwn) {
        for (const auto& [id, range] : FEngine.FieldRanges(part)) {
            // The end of an empty field must come after its start at the same place.
            marks[range.first].push_back("{\\*\\orbfield\\orbid" + Num(id) + "\\orbchg" +
                                         Num(FEngine.FieldChangeableOf(id) ? 1 : 0) + "\\orbkind" +
                                         Num(FEngine.FieldKind(id)) + "}");
            marks[range.second].push_back("{\\*\\orbfieldend\\orbid" + Num(id) + "}");
        }
    }
    auto writeMarks = [&](int position) {
        const auto it = marks.find(position);
        if (it == marks.end())
            return;
        // Ends before starts, unless the start belongs to the same empty field.
        std::vector<QByteArray> ends, starts;
        for (const QByteArray& m : it->second)
            (m.contains("orbfieldend") ? ends : starts).push_back(m);
        for (const QByteArray& s : starts) {
            FOut += s;
            const QByteArray id = s.mid(s.indexOf("orbid") + 5, s.indexOf("\\orbchg") - s.indexOf("orbid") - 5);
            for (auto e = ends.begin(); e != ends.end();)
                if (e->endsWith("orbid" + id + "}")) {
                    FOut += *e;
                    e = ends.erase(e);
                } else {
                    ++e;
                }
        }
        std::vector<QByteArray> rest = ends;
        ends.clear();
        for (const QByteArray& e : rest)
            FOut += e;
        marks.erase(it);
    };

    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block != doc.begin())
            FOut += "\\par\n";
        WriteBlockFormat(block.blockFormat());
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            const int start = fragment.position();
            const QString text = fragment.text();
            if (format.isImageFormat()) {
                for (int i = 0; i < text.size(); ++i) {
                    writeMarks(start + i);
                    WritePicture(part, format.toImageFormat());
                }
                continue;
            }
            int from = 0;
            for (int i = 0; i <= text.size(); ++i) {
                if (i == text.size() || marks.count(start + i)) {
                    WriteRun(text.mid(from, i - from), format);
                    from = i;
                    if (i < text.size())
                        writeMarks(start + i);
                }
            }
        }
        writeMarks(block.position() + block.length() - 1);
    }
    for (const auto& [position, list] : marks)
        for (const QByteArray& m : list)
            FOut += m;
}

QByteArray TRtfWriter::Write()
{
    for (int part : {DocumentEngine::HeaderPart, DocumentEngine::FooterPart, DocumentEngine::MainPart})
        CollectTables(*FEngine.PartDocument(part));
    FFonts.emplace(QStringLiteral("Arial"), static_cast<int>(FFonts.size()));

    const TPageSetup& s = FEngine.PageSetup();
    FOut = "{\\rtf1\\ansi\\ansicpg1252\\deff" + Num(FFonts.at(QStringLiteral("Arial"))) + "\\uc1\n{\\fonttbl";
    for (const auto& [family, index] : FFonts) {
        FOut += "{\\f" + Num(index) + "\\fnil\\fcharset0 ";
        WriteText(family);
        FOut += ";}";
    }
    FOut += "}\n{\\colortbl;";
    std::vector<QRgb> colors(FColors.size());
    for (const auto& [rgb, index] : FColors)
        colors[static_cast<std::size_t>(index - 1)] = rgb;
    for (QRgb rgb : colors)
        FOut += "\\red" + Num(qRed(rgb)) + "\\green" + Num(qGreen(rgb)) + "\\blue" + Num(qBlue(rgb)) + ";";
    FOut += "}\n{\\*\\generator PrintORB;}\n";
    const int headerY = s.HeaderY >= 0 ? s.HeaderY : s.MarginT;
    const int footerY = s.FooterY >= 0 ? s.FooterY : s.MarginB;
    FOut += "\\paperw" + Num(s.PageWidth) + "\\paperh" + Num(s.PageHeight) + "\\margl" + Num(s.MarginL) + "\\margr" +
            Num(s.MarginR) + "\\margt" + Num(s.MarginT) + "\\margb" + Num(s.MarginB);
    if (s.PageWidth > s.PageHeight)
        FOut += "\\landscape";
    FOut += "\n\\sectd\\pgwsxn" + Num(s.PageWidth) + "\\pghsxn" + Num(s.PageHeight) + "\\marglsxn" + Num(s.MarginL) +
            "\\margrsxn" + Num(s.MarginR) + "\\margtsxn" + Num(s.MarginT) + "\\margbsxn" + Num(s.MarginB) +
            "\\headery" + Num(headerY) + "\\footery" + Num(footerY);
    if (s.PageWidth > s.PageHeight)
        FOut += "\\lndscpsxn";
    FOut += '\n';
    bool headerImages = false;
    for (const TPositionedImage& image : FEngine.Images())
        headerImages = headerImages || image.EveryPage;
    // Empty headers and footers are left out: a word processor would give them a line.
    if (!FEngine.PartData(DocumentEngine::HeaderPart).IsEmpty() || headerImages) {
        FOut += "{\\header ";
        WritePart(DocumentEngine::HeaderPart);
        for (const TPositionedImage& image : FEngine.Images())
            if (image.EveryPage)
                WritePositionedImage(image);
        FOut += "\\par}\n";
    }
    if (!FEngine.PartData(DocumentEngine::FooterPart).IsEmpty()) {
        FOut += "{\\footer ";
        WritePart(DocumentEngine::FooterPart);
        FOut += "\\par}\n";
    }
    for (const TPositionedImage& image : FEngine.Images())
        if (!image.EveryPage)
            WritePositionedImage(image);
    WritePart(DocumentEngine::MainPart);
    FOut += "\\par}\n";
    return FOut;
}

}  // namespace

QByteArray WriteRtf(DocumentEngine& engine, bool ownFormat)
{
    return TRtfWriter(engine, ownFormat).Write();
}
