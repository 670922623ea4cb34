// Writing the document as RTF: paragraphs with their formats, tables as
// tables (column edges, merged cells, borders, shading, padding, row
// heights, header rows, nested tables), header and footer variants,
// footnotes at their reference marks, pictures and shapes at their
// positions. Word processors and our own reader open it with the same
// pages.
#include "platform/docengine/rtfwriter.h"

#include "platform/docengine/documentengine.h"
#include "platform/docengine/enginepart.h"
#include "platform/docengine/textmetrics.h"
#include "util/codepage.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QPen>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>

#include <map>
#include <vector>

namespace {

QByteArray Num(long long value)
{
    return QByteArray::number(value);
}

QByteArray TwipsOf(double value)
{
    return Num(static_cast<long long>(value + (value >= 0 ? 0.5 : -0.5)));
}

QString FamilyOf(const QTextCharFormat& format)
{
    const QStringList families = format.fontFamilies().toStringList();
    return families.isEmpty() ? QStringLiteral("Arial") : families.first();
}

// One text flow to write: a part, a footnote or a text box, with what is
// written at positions inside it (field marks, footnotes, anchored objects).
struct TFlow {
    const QTextDocument* Doc = nullptr;
    const std::map<QString, TInlinePicture>* Pictures = nullptr;
    std::map<int, std::vector<QByteArray>> Marks;
    std::map<int, QByteArray> Sections;  // a section mark before the paragraph at a position
};

class TRtfWriter {
public:
    TRtfWriter(DocumentEngine& engine, bool own) : FEngine(engine), FOwn(own) {}
    QByteArray Write();

private:
    // Fonts and colours of every flow, before the tables are written.
    void Collect(const QTextDocument& doc);
    void AddColor(const QColor& color);
    int Color(const QColor& color) const;
    int FontIndex(const QTextCharFormat& format) const;

    void WriteFlow(TFlow& flow);
    void WriteFrame(TFlow& flow, QTextFrame::iterator it, QTextFrame::iterator end, int level, bool inCell);
    void WriteTable(TFlow& flow, QTextTable* table, int level);
    QByteArray RowDefinition(QTextTable* table, int row, const std::vector<int>& edges);
    void WriteBlock(TFlow& flow, const QTextBlock& block, int level, const char* end);
    void WriteMarks(TFlow& flow, int position);
    void WriteBlockFormat(const QTextBlockFormat& format, int level);
    void WriteRun(const QString& text, const QTextCharFormat& format);
    void WriteCharFormat(const QTextCharFormat& format);
    void WriteText(const QString& text);
    void WritePict(const QImage& image, const QByteArray& encoded, const QByteArray& format, int widthTwips,
                   int heightTwips);
    void WritePicture(const TFlow& flow, const QTextImageFormat& format);
    void WritePositionedImage(const TPositionedImage& image, bool anchored);
    void WriteShape(const TPositionedShape& shape, bool anchored);
    QByteArray Border(const QByteArray& keyword, double widthTwips, const QColor& color, bool dbl = false);
    void WriteHeaderFooter(const char* keyword, int part);
    TFlow PartFlow(int part);
    // The document's parts: the tables and the page, headers and footers, the main text.
    void CollectAll();
    void WriteTables();
    void WritePage();
    QByteArray SectionPage(const TPageSetup& page) const;
    void WriteHeadersFooters();
    void WriteMain();

    DocumentEngine& FEngine;
    bool FOwn;
    QByteArray FOut;
    std::map<QString, int> FFonts;
    std::map<QRgb, int> FColors;
};

// ---- fonts and colours -----------------------------------------------------

void TRtfWriter::AddColor(const QColor& color)
{
    if (color.isValid())
        FColors.emplace(color.rgb(), static_cast<int>(FColors.size()) + 1);
}

int TRtfWriter::Color(const QColor& color) const
{
    if (!color.isValid())
        return 0;
    const auto it = FColors.find(color.rgb());
    return it == FColors.end() ? 0 : it->second;
}

int TRtfWriter::FontIndex(const QTextCharFormat& format) const
{
    const auto it = FFonts.find(FamilyOf(format));
    return it == FFonts.end() ? 0 : it->second;
}

void TRtfWriter::Collect(const QTextDocument& doc)
{
    auto charFormat = [&](const QTextCharFormat& format) {
        FFonts.emplace(FamilyOf(format), static_cast<int>(FFonts.size()));
        if (format.hasProperty(QTextFormat::ForegroundBrush))
            AddColor(format.foreground().color());
        if (format.hasProperty(QTextFormat::BackgroundBrush))
            AddColor(format.background().color());
    };
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        charFormat(block.charFormat());
        const QTextBlockFormat bf = block.blockFormat();
        if (bf.hasProperty(QTextFormat::BackgroundBrush))
            AddColor(bf.background().color());
        for (const QVariant& pen : bf.property(kParagraphBordersProperty).toList())
            if (pen.canConvert<QPen>())
                AddColor(pen.value<QPen>().color());
        for (auto it = block.begin(); !it.atEnd(); ++it)
            charFormat(it.fragment().charFormat());
        if (QTextTable* table = QTextCursor(block).currentTable()) {
            const QTextTableCellFormat cf = table->cellAt(block.position()).format().toTableCellFormat();
            if (cf.hasProperty(QTextFormat::BackgroundBrush))
                AddColor(cf.background().color());
            for (const QBrush& brush : {cf.topBorderBrush(), cf.leftBorderBrush(), cf.bottomBorderBrush(),
                                        cf.rightBorderBrush()})
                AddColor(brush.color());
        }
    }
}

// ---- text and formats ------------------------------------------------------

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
        } else if (u < 0x20 || u == QChar::ObjectReplacementCharacter) {
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

QByteArray TRtfWriter::Border(const QByteArray& keyword, double widthTwips, const QColor& color, bool dbl)
{
    QByteArray out = "\\" + keyword + (dbl ? "\\brdrdb" : "\\brdrs") + "\\brdrw" +
                     TwipsOf(std::clamp(dbl ? widthTwips / 3 : widthTwips, 1.0, 750.0));
    if (const int index = Color(color))
        out += "\\brdrcf" + Num(index);
    return out;
}

void TRtfWriter::WriteBlockFormat(const QTextBlockFormat& f, int level)
{
    FOut += "\\pard\\plain";
    if (level > 0)
        FOut += "\\intbl";
    if (level > 1)
        FOut += "\\itap" + Num(level);
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
    if (const double right = f.rightMargin() - f.doubleProperty(kColumnRoomProperty); right != 0)
        FOut += "\\ri" + TwipsOf(right);
    if (f.textIndent() != 0)
        FOut += "\\fi" + TwipsOf(f.textIndent());
    // Vertical spacing and tab stops are held in 96-dpi pixels (see the reader).
    const double before = f.hasProperty(kSpaceBeforeTwips) ? f.intProperty(kSpaceBeforeTwips) : f.topMargin() * 15;
    const double after = f.hasProperty(kSpaceAfterTwips) ? f.intProperty(kSpaceAfterTwips) : f.bottomMargin() * 15;
    if (before != 0)
        FOut += "\\sb" + TwipsOf(before);
    if (after != 0)
        FOut += "\\sa" + TwipsOf(after);
    if (f.hasProperty(kLineSpacingProperty))
        FOut += "\\sl" + Num(f.intProperty(kLineSpacingProperty)) + "\\slmult" +
                Num(f.property(kLineMultipleProperty).toBool() ? 1 : 0);
    const QString leaders = f.stringProperty(kTabLeadersProperty);
    const QList<QTextOption::Tab> tabs = f.tabPositions();
    for (qsizetype i = 0; i < tabs.size(); ++i) {
        const QChar leader = i < leaders.size() ? leaders[i] : QLatin1Char(' ');
        if (leader == QLatin1Char('.'))
            FOut += "\\tldot";
        else if (leader == QLatin1Char('-'))
            FOut += "\\tlhyph";
        else if (leader == QLatin1Char('_'))
            FOut += "\\tlul";
        else if (leader == QLatin1Char('='))
            FOut += "\\tleq";
        if (tabs[i].type == QTextOption::RightTab)
            FOut += "\\tqr";
        else if (tabs[i].type == QTextOption::CenterTab)
            FOut += "\\tqc";
        else if (tabs[i].type == QTextOption::DelimiterTab)
            FOut += "\\tqdec";
        // Stops are held from the first line's start, written from the margin.
        FOut += "\\tx" + TwipsOf(tabs[i].position * 15 + f.leftMargin() + f.textIndent());
    }
    if (f.boolProperty(kPageBreakBeforeProperty))
        FOut += "\\pagebb";
    if (f.hasProperty(QTextFormat::BackgroundBrush))
        if (const int shade = Color(f.background().color()))
            FOut += "\\cbpat" + Num(shade);
    const QVariantList borders = f.property(kParagraphBordersProperty).toList();
    static const char* kSides[] = {"brdrt", "brdrl", "brdrb", "brdrr"};
    for (qsizetype i = 0; i < std::min<qsizetype>(borders.size(), 4); ++i)
        if (borders[i].canConvert<QPen>()) {
            const QPen pen = borders[i].value<QPen>();
            FOut += Border(kSides[i], pen.widthF(), pen.color());
        }
    FOut += ' ';
}

void TRtfWriter::WriteCharFormat(const QTextCharFormat& f)
{
    FOut += "\\f" + Num(FontIndex(f));
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
    if (f.fontCapitalization() == QFont::AllUppercase)
        FOut += "\\caps";
    if (f.hasProperty(QTextFormat::ForegroundBrush))
        if (const int color = Color(f.foreground().color()))
            FOut += "\\cf" + Num(color);
    if (f.hasProperty(QTextFormat::BackgroundBrush))
        if (const int color = Color(f.background().color()))
            FOut += "\\chcbpat" + Num(color);
    if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript)
        FOut += "\\super";
    else if (f.verticalAlignment() == QTextCharFormat::AlignSubScript)
        FOut += "\\sub";
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
    FOut += '{';
    WriteCharFormat(f);
    FOut += ' ';
    WriteText(text);
    FOut += '}';
}

// ---- pictures and objects --------------------------------------------------

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
    if (kind == "wmf" || kind == "emf") {
        // A metafile goes back as itself, its extent in hundredths of a millimetre.
        FOut += kind == "emf" ? "\\emfblip" : "\\wmetafile8";
        FOut += "\\picw" + Num(widthTwips * 2540LL / 1440) + "\\pich" + Num(heightTwips * 2540LL / 1440);
    } else {
        FOut += kind == "jpeg" ? "\\jpegblip" : "\\pngblip";
        FOut += "\\picw" + Num(image.width()) + "\\pich" + Num(image.height());
    }
    FOut += "\\picwgoal" + Num(widthTwips) + "\\pichgoal" + Num(heightTwips) + "\n";
    const QByteArray hex = data.toHex();
    for (qsizetype i = 0; i < hex.size(); i += 128) {
        FOut += hex.mid(i, 128);
        FOut += '\n';
    }
    FOut += '}';
}

void TRtfWriter::WritePicture(const TFlow& flow, const QTextImageFormat& format)
{
    const QImage image = flow.Doc->resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>();
    QByteArray encoded, kind;
    if (flow.Pictures)
        if (const auto it = flow.Pictures->find(format.name()); it != flow.Pictures->end()) {
            encoded = it->second.Encoded;
            kind = it->second.Format;
        }
    // A metafile is written from its own bytes, whatever its stand-in image.
    if (image.isNull() && !(kind == "wmf" || kind == "emf"))
        return;
    const auto widthTwips = static_cast<int>(format.width() * 15.0 + 0.5);
    const auto heightTwips = static_cast<int>(format.height() * 15.0 + 0.5);
    WritePict(image, encoded, kind, widthTwips, heightTwips);
}

// Positions are written from the page's top-left, or, for an object anchored
// at a paragraph, down from that paragraph's top.
QByteArray ShapePosition(int left, int top, int right, int bottom, bool everyPage, bool anchored, bool behind)
{
    return "{\\shp{\\*\\shpinst\\shpleft" + Num(left) + "\\shptop" + Num(top) + "\\shpright" + Num(right) +
           "\\shpbottom" + Num(bottom) + "\\shpfhdr" + Num(everyPage ? 1 : 0) + "\\shpbxpage\\shpbxignore" +
           (anchored ? "\\shpbypara\\shpbyignore" : "\\shpbypage\\shpbyignore") + "\\shpwr3\\shpwrk0\\shpfblwtxt" +
           Num(behind ? 1 : 0) + "\\shpz0{\\sp{\\sn posrelh}{\\sv 1}}{\\sp{\\sn posrelv}{\\sv " +
           (anchored ? "2" : "1") + "}}" + (behind ? "{\\sp{\\sn fBehindDocument}{\\sv 1}}" : "");
}

void TRtfWriter::WritePositionedImage(const TPositionedImage& image, bool anchored)
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
    FOut += ShapePosition(image.PosX, image.PosY, image.PosX + w, image.PosY + h, image.EveryPage, anchored,
                          image.BehindText);
    FOut += "{\\sp{\\sn shapeType}{\\sv 75}}{\\sp{\\sn pib}{\\sv ";
    WritePict(image.Image, image.Encoded, image.EncodedFormat, w, h);
    FOut += "}}}}\n";
}

void TRtfWriter::WriteShape(const TPositionedShape& shape, bool anchored)
{
    QRectF b = shape.Box;
    if (shape.Text)  // a frame as high as its text
        b.setHeight(std::max(b.height(), shape.Text->documentLayout()->documentSize().height()));
    FOut += ShapePosition(static_cast<int>(b.left()), static_cast<int>(b.top()), static_cast<int>(b.right()),
                          static_cast<int>(b.bottom()), shape.EveryPage, anchored, shape.BehindText);
    const int type = shape.Shape == TPositionedShape::Ellipse     ? 3
                     : shape.Shape == TPositionedShape::Line      ? 20
                     : shape.Shape == TPositionedShape::Rectangle ? 1
                                                                  : 202;
    FOut += "{\\sp{\\sn shapeType}{\\sv " + Num(type) + "}}";
    auto bgr = [](const QColor& c) { return Num(c.red() | (c.green() << 8) | (c.blue() << 16)); };
    FOut += "{\\sp{\\sn fFilled}{\\sv " + Num(shape.Fill.isValid() ? 1 : 0) + "}}";
    if (shape.Fill.isValid())
        FOut += "{\\sp{\\sn fillColor}{\\sv " + bgr(shape.Fill) + "}}";
    FOut += "{\\sp{\\sn fLine}{\\sv " + Num(shape.Outline.isValid() ? 1 : 0) + "}}";
    if (shape.Outline.isValid())
        FOut += "{\\sp{\\sn lineColor}{\\sv " + bgr(shape.Outline) + "}}{\\sp{\\sn lineWidth}{\\sv " +
                TwipsOf(shape.OutlineWidth * 635) + "}}";
    if (shape.FlipLine)
        FOut += "{\\sp{\\sn fFlipV}{\\sv 1}}";
    if (shape.Text) {
        FOut += "{\\shptxt ";
        TFlow text;
        text.Doc = shape.Text.get();
        WriteFlow(text);
        FOut += "}";
    }
    FOut += "}}\n";
}

// ---- flows, tables and paragraphs ------------------------------------------

void TRtfWriter::WriteMarks(TFlow& flow, int position)
{
    const auto it = flow.Marks.find(position);
    if (it == flow.Marks.end())
        return;
    // Field ends before field starts, unless the start belongs to the same
    // empty field; then what else stands there.
    std::vector<QByteArray> ends, starts, others;
    for (const QByteArray& m : it->second)
        (m.contains("orbfieldend") ? ends : m.contains("orbfield") ? starts : others).push_back(m);
    std::vector<QByteArray> ordered;
    for (const QByteArray& s : starts) {
        const QByteArray id = s.mid(s.indexOf("orbid") + 5, s.indexOf("\\orbchg") - s.indexOf("orbid") - 5);
        bool pairedHere = false;
        for (auto e = ends.begin(); e != ends.end();)
            if (e->endsWith("orbid" + id + "}")) {
                ordered.push_back(s);
                ordered.push_back(*e);
                e = ends.erase(e);
                pairedHere = true;
            } else {
                ++e;
            }
        if (!pairedHere)
            ordered.push_back(s);
    }
    for (const QByteArray& e : ends)
        FOut += e;
    for (const QByteArray& m : ordered)
        FOut += m;
    for (const QByteArray& m : others)
        FOut += m;
    flow.Marks.erase(it);
}

void TRtfWriter::WriteBlock(TFlow& flow, const QTextBlock& block, int level, const char* end)
{
    if (level == 0)
        if (const auto section = flow.Sections.find(block.position()); section != flow.Sections.end()) {
            FOut += section->second;
            flow.Sections.erase(section);
        }
    if (block.blockFormat().boolProperty(kColumnBreakBeforeProperty))
        FOut += "\\column\n";
    WriteBlockFormat(block.blockFormat(), level);
    if (block.length() == 1) {
        // An empty paragraph's height comes from the format of its mark.
        WriteCharFormat(block.charFormat());
        FOut += ' ';
    }
    for (auto it = block.begin(); !it.atEnd();) {
        const QTextFragment fragment = it.fragment();
        const QTextCharFormat format = fragment.charFormat();
        const int start = fragment.position();
        QString text = fragment.text();
        ++it;
        while (!it.atEnd() && DifferOnlyInMatchedWidths(format, it.fragment().charFormat())) {
            text += it.fragment().text();
            ++it;
        }
        if (format.isImageFormat()) {
            for (int i = 0; i < text.size(); ++i) {
                WriteMarks(flow, start + i);
                WritePicture(flow, format.toImageFormat());
            }
            continue;
        }
        int from = 0;
        for (int i = 0; i <= text.size(); ++i) {
            if (i == text.size() || flow.Marks.count(start + i)) {
                WriteRun(text.mid(from, i - from), format);
                from = i;
                if (i < text.size())
                    WriteMarks(flow, start + i);
            }
        }
    }
    WriteMarks(flow, block.position() + block.length() - 1);
    FOut += end;
    FOut += '\n';
}

void TRtfWriter::WriteFrame(TFlow& flow, QTextFrame::iterator it, QTextFrame::iterator end, int level, bool inCell)
{
    const QTextFrame::iterator begin = it;
    while (!it.atEnd() && it != end) {
        QTextFrame::iterator next = it;
        ++next;
        const bool last = next.atEnd() || next == end;
        if (QTextFrame* child = it.currentFrame()) {
            if (auto* table = qobject_cast<QTextTable*>(child))
                WriteTable(flow, table, level + 1);
            else
                WriteFrame(flow, child->begin(), child->end(), level, false);
        } else if (it.currentBlock().isValid()) {
            // The empty paragraphs the layout keeps next to a table are not
            // the document's (see the reader).
            QTextFrame::iterator previous = it;
            const bool afterTable = it != begin && (--previous).currentFrame();
            const bool beforeTable = !last && next.currentFrame();
            if (it.currentBlock().length() == 1 && (afterTable || beforeTable) && !(inCell && last)) {
                it = next;
                continue;
            }
            const char* mark = inCell && last ? (level > 1 ? "\\nestcell" : "\\cell") : "\\par";
            WriteBlock(flow, it.currentBlock(), level, mark);
        }
        it = next;
    }
}

QByteArray TRtfWriter::RowDefinition(QTextTable* table, int row, const std::vector<int>& edges)
{
    const QTextTableFormat tf = table->format();
    QByteArray def = "\\trowd\\trgaph0\\trleft" + Num(edges.front());
    if (tf.alignment() & Qt::AlignHCenter)
        def += "\\trqc";
    else if (tf.alignment() & Qt::AlignRight)
        def += "\\trqr";
    if (row < tf.headerRowCount())
        def += "\\trhdr";
    const QTextTableCellFormat first = table->cellAt(row, 0).format().toTableCellFormat();
    if (first.hasProperty(kRowHeightProperty))
        def += "\\trrh" + Num(first.intProperty(kRowHeightProperty));
    if (first.boolProperty(kRowKeepProperty))
        def += "\\trkeep";
    if (tf.boolProperty(kTableAutoFitProperty))
        def += "\\trautofit1";
    for (int column = 0; column < table->columns(); ++column) {
        const QTextTableCell cell = table->cellAt(row, column);
        if (!cell.isValid() || cell.column() != column)
            continue;
        const QTextTableCellFormat cf = cell.format().toTableCellFormat();
        if (cell.row() != row)
            def += "\\clvmrg";
        else if (cell.rowSpan() > 1)
            def += "\\clvmgf";
        if (cf.verticalAlignment() == QTextCharFormat::AlignMiddle)
            def += "\\clvertalc";
        else if (cf.verticalAlignment() == QTextCharFormat::AlignBottom)
            def += "\\clvertalb";
        const double widths[4] = {cf.topBorder(), cf.leftBorder(), cf.bottomBorder(), cf.rightBorder()};
        const QBrush brushes[4] = {cf.topBorderBrush(), cf.leftBorderBrush(), cf.bottomBorderBrush(),
                                   cf.rightBorderBrush()};
        const QTextFrameFormat::BorderStyle styles[4] = {cf.topBorderStyle(), cf.leftBorderStyle(),
                                                          cf.bottomBorderStyle(), cf.rightBorderStyle()};
        static const char* kSides[] = {"clbrdrt", "clbrdrl", "clbrdrb", "clbrdrr"};
        for (int side = 0; side < 4; ++side) {
            if (widths[side] <= 0 || styles[side] == QTextFrameFormat::BorderStyle_None)
                continue;
            QByteArray border = Border(kSides[side], widths[side] * 15, brushes[side].color(),
                                       styles[side] == QTextFrameFormat::BorderStyle_Double);
            if (styles[side] == QTextFrameFormat::BorderStyle_Dotted)
                border.replace("\\brdrs", "\\brdrdot");
            else if (styles[side] == QTextFrameFormat::BorderStyle_Dashed)
                border.replace("\\brdrs", "\\brdrdash");
            def += border;
        }
        if (cf.hasProperty(QTextFormat::BackgroundBrush))
            if (const int shade = Color(cf.background().color()))
                def += "\\clcbpat" + Num(shade);
        // Padding as the file had it: a row height's extra is the engine's.
        const bool fitted = cf.hasProperty(kRowHeightProperty);
        const double top = fitted ? cf.doubleProperty(kCellTopPaddingProperty) : cf.topPadding();
        const double bottom = fitted ? cf.doubleProperty(kCellBottomPaddingProperty) : cf.bottomPadding();
        // Word processors read \clpadl as the top and \clpadt as the left padding.
        def += "\\clpadl" + TwipsOf(top * 15) + "\\clpadfl3\\clpadt" + TwipsOf(cf.leftPadding() * 15) +
               "\\clpadft3\\clpadb" + TwipsOf(bottom * 15) + "\\clpadfb3\\clpadr" + TwipsOf(cf.rightPadding() * 15) +
               "\\clpadfr3";
        const int right = std::min<int>(column + cell.columnSpan(), static_cast<int>(edges.size()) - 1);
        def += "\\cellx" + Num(edges[static_cast<std::size_t>(right)]);
    }
    return def;
}

void TRtfWriter::WriteTable(TFlow& flow, QTextTable* table, int level)
{
    const QTextTableFormat tf = table->format();
    std::vector<int> edges {static_cast<int>(tf.leftMargin() * 15 + 0.5)};
    const QList<QTextLength> widths = tf.columnWidthConstraints();
    for (int column = 0; column < table->columns(); ++column) {
        const double w = column < widths.size() && widths[column].type() == QTextLength::FixedLength
                             ? widths[column].rawValue() * 15
                             : 1440;
        edges.push_back(edges.back() + std::max(1, static_cast<int>(w + 0.5)));
    }
    for (int row = 0; row < table->rows(); ++row) {
        const QByteArray def = RowDefinition(table, row, edges);
        if (level == 1)
            FOut += def + "\n";
        for (int column = 0; column < table->columns(); ++column) {
            const QTextTableCell cell = table->cellAt(row, column);
            if (!cell.isValid() || cell.column() != column)
                continue;
            if (cell.row() != row) {
                // The lower part of a vertically merged cell: an empty cell.
                WriteBlockFormat(QTextBlockFormat(), level);
                FOut += level > 1 ? "\\nestcell\n" : "\\cell\n";
                continue;
            }
            WriteFrame(flow, cell.begin(), cell.end(), level, true);
        }
        if (level == 1)
            FOut += "\\row\n";
        else
            FOut += "{\\*\\nesttableprops " + def + "\\nestrow}{\\nonesttables \\par}\n";
    }
}

void TRtfWriter::WriteFlow(TFlow& flow)
{
    QTextFrame* root = flow.Doc->rootFrame();
    WriteFrame(flow, root->begin(), root->end(), 0, false);
    for (auto& [position, list] : flow.Marks)
        for (const QByteArray& m : list)
            FOut += m;
    flow.Marks.clear();
}

TFlow TRtfWriter::PartFlow(int part)
{
    TFlow flow;
    flow.Doc = FEngine.PartDocument(part);
    flow.Pictures = &FEngine.PartData(part).Pictures;
    if (FOwn)
        for (const auto& [id, range] : FEngine.FieldRanges(part)) {
            flow.Marks[range.first].push_back("{\\*\\orbfield\\orbid" + Num(id) + "\\orbchg" +
                                              Num(FEngine.FieldChangeableOf(id) ? 1 : 0) + "\\orbkind" +
                                              Num(FEngine.FieldKind(id)) + "}");
            flow.Marks[range.second].push_back("{\\*\\orbfieldend\\orbid" + Num(id) + "}");
        }
    return flow;
}

void TRtfWriter::WriteHeaderFooter(const char* keyword, int part)
{
    const auto onPart = [&](bool everyPage, int parts) { return everyPage && (parts == 0 || (parts & part)); };
    bool objects = false;
    for (const TPositionedImage& image : FEngine.Images())
        objects = objects || onPart(image.EveryPage, image.Parts);
    for (const TPositionedShape& shape : FEngine.Shapes())
        objects = objects || onPart(shape.EveryPage, shape.Parts);
    // Empty headers and footers are left out: a word processor would give them a line.
    if (FEngine.PartData(part).IsEmpty() && !objects)
        return;
    FOut += "{\\";
    FOut += keyword;
    FOut += ' ';
    for (const TPositionedImage& image : FEngine.Images())
        if (onPart(image.EveryPage, image.Parts))
            WritePositionedImage(image, false);
    for (const TPositionedShape& shape : FEngine.Shapes())
        if (onPart(shape.EveryPage, shape.Parts))
            WriteShape(shape, false);
    TFlow flow = PartFlow(part);
    WriteFlow(flow);
    FOut += "}\n";
}

QByteArray TRtfWriter::Write()
{
    (void)FEngine.CurrentPages();  // text boxes are measured in their layout
    CollectAll();
    WriteTables();
    WritePage();
    WriteHeadersFooters();
    WriteMain();
    FOut += "}\n";
    return FOut;
}

void TRtfWriter::CollectAll()
{
    using E = DocumentEngine;
    const int parts[] = {E::HeaderPart, E::HeaderFirstPart, E::HeaderLeftPart, E::FooterPart,
                         E::FooterFirstPart, E::FooterLeftPart, E::MainPart};
    for (int part : parts)
        Collect(*FEngine.PartDocument(part));
    for (int i = 0; i < FEngine.FootnoteCount(); ++i)
        Collect(*FEngine.FootnoteDocument(i));
    for (const TPositionedShape& shape : FEngine.Shapes()) {
        AddColor(shape.Fill);
        AddColor(shape.Outline);
        if (shape.Text)
            Collect(*shape.Text);
    }
    FFonts.emplace(QStringLiteral("Arial"), static_cast<int>(FFonts.size()));
}

void TRtfWriter::WriteTables()
{
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
}

void TRtfWriter::WritePage()
{
    const TPageSetup& s = FEngine.PageSetup();
    const double tab = FEngine.PartDocument(DocumentEngine::MainPart)->defaultTextOption().tabStopDistance() * 15;
    FOut += "\\deftab" + TwipsOf(tab);
    if (s.FacingPages)
        FOut += "\\facingp";
    FOut += "\\paperw" + Num(s.PageWidth) + "\\paperh" + Num(s.PageHeight) + "\\margl" + Num(s.MarginL) + "\\margr" +
            Num(s.MarginR) + "\\margt" + Num(s.MarginT) + "\\margb" + Num(s.MarginB);
    if (s.PageWidth > s.PageHeight)
        FOut += "\\landscape";
    FOut += "\n" + SectionPage(s);
    if (s.TitlePage)
        FOut += "\\titlepg";
    FOut += '\n';
}

// A section's page; header and footer distances are the document's.
QByteArray TRtfWriter::SectionPage(const TPageSetup& p) const
{
    const TPageSetup& s = FEngine.PageSetup();
    const int headerY = s.HeaderY >= 0 ? s.HeaderY : s.MarginT;
    const int footerY = s.FooterY >= 0 ? s.FooterY : s.MarginB;
    QByteArray out = "\\sectd\\pgwsxn" + Num(p.PageWidth) + "\\pghsxn" + Num(p.PageHeight) + "\\marglsxn" +
                     Num(p.MarginL) + "\\margrsxn" + Num(p.MarginR) + "\\margtsxn" + Num(p.MarginT) + "\\margbsxn" +
                     Num(p.MarginB) + "\\headery" + Num(headerY) + "\\footery" + Num(footerY);
    if (p.PageWidth > p.PageHeight)
        out += "\\lndscpsxn";
    if (p.Columns > 1)
        out += "\\cols" + Num(p.Columns) + "\\colsx" + Num(p.ColumnGap);
    return out;
}

void TRtfWriter::WriteHeadersFooters()
{
    using E = DocumentEngine;
    const TPageSetup& s = FEngine.PageSetup();
    if (s.FacingPages) {
        WriteHeaderFooter("headerr", E::HeaderPart);
        WriteHeaderFooter("headerl", E::HeaderLeftPart);
        WriteHeaderFooter("footerr", E::FooterPart);
        WriteHeaderFooter("footerl", E::FooterLeftPart);
    } else {
        WriteHeaderFooter("header", E::HeaderPart);
        WriteHeaderFooter("footer", E::FooterPart);
    }
    if (s.TitlePage) {
        WriteHeaderFooter("headerf", E::HeaderFirstPart);
        WriteHeaderFooter("footerf", E::FooterFirstPart);
    }
}

void TRtfWriter::WriteMain()
{
    TFlow main = PartFlow(DocumentEngine::MainPart);
    for (int section = 1; section < FEngine.SectionCount(); ++section)
        main.Sections[FEngine.SectionStart(section)] = "\\sect" + SectionPage(FEngine.SectionSetup(section)) + "\n";
    // Objects of page 1 come first; those anchored at a paragraph stand there.
    for (const TPositionedImage& image : FEngine.Images())
        if (!image.EveryPage && image.AnchorPosition < 0)
            WritePositionedImage(image, false);
    for (const TPositionedShape& shape : FEngine.Shapes())
        if (!shape.EveryPage && shape.AnchorPosition < 0)
            WriteShape(shape, false);
    auto atAnchor = [&](int position, auto write) {
        QByteArray written;
        std::swap(written, FOut);
        write();
        std::swap(written, FOut);
        main.Marks[position].push_back(std::move(written));
    };
    for (const TPositionedImage& image : FEngine.Images())
        if (!image.EveryPage && image.AnchorPosition >= 0)
            atAnchor(image.AnchorPosition, [&] { WritePositionedImage(image, true); });
    for (const TPositionedShape& shape : FEngine.Shapes())
        if (!shape.EveryPage && shape.AnchorPosition >= 0)
            atAnchor(shape.AnchorPosition, [&] { WriteShape(shape, true); });
    for (int i = 0; i < FEngine.FootnoteCount(); ++i)
        atAnchor(FEngine.FootnoteAnchor(i), [&] {
            FOut += "{\\footnote ";
            TFlow note;
            note.Doc = FEngine.FootnoteDocument(i);
            WriteFlow(note);
            FOut += "}";
        });
    WriteFlow(main);
}

}  // namespace

QByteArray WriteRtf(DocumentEngine& engine, bool ownFormat)
{
    return TRtfWriter(engine, ownFormat).Write();
}
