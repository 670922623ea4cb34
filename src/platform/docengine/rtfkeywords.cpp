// The keywords of text: characters, paragraphs, sections, the document's
// page setup and the definitions of table rows and cells, one table entry
// each.
#include "platform/docengine/rtfreaderimpl.h"

#include <QTextBlock>

#include <algorithm>

namespace rtf {
namespace {

struct TArgs {
    bool HasParam = false;
    int Param = 0;
    bool On() const { return !HasParam || Param != 0; }
    int Twips() const { return std::clamp(Param, -31680, 31680); }
};

using TAction = void (*)(TRtfReader&, TArgs);

// Values from the start of the file (document) or its first section.
void DocValue(TRtfReader& r, std::optional<int> TRtfReader::TSetupValues::*field, TArgs a)
{
    if (a.Param > 0 && a.Param < 200000)
        r.FDocSetup.*field = a.Param;
}

// Word writes section marks inside headers and footers too (after a field's
// result); they belong to no section of the main text.
bool InMainText(TRtfReader& r)
{
    return r.Sink(r.S().Sink).Part == &r.FOut.Main;
}

void SectionValue(TRtfReader& r, std::optional<int> TRtfReader::TSetupValues::*field, TArgs a)
{
    if (a.Param > 0 && a.Param < 200000 && InMainText(r))
        r.FSectSetup.*field = a.Param;
}

void AddTab(TRtfReader& r, TArgs a)
{
    TParaProps& p = r.S().Para;
    if (p.Tabs.size() < 64 && a.Param >= 0 && a.Param < 200000) {
        p.Tabs.append(QTextOption::Tab(a.Param, p.NextTabType));
        p.Leaders.append(p.NextLeader ? QChar(p.NextLeader) : QChar(' '));
    }
    p.NextTabType = QTextOption::LeftTab;
    p.NextLeader = 0;
}

// Border targets: 0-3 a paragraph side, 4 the paragraph box, 10-13 a cell
// side, 20-25 a row's outside and inside borders.
void Border(TRtfReader& r, void (*set)(TBorder&, TArgs), TArgs a)
{
    if (r.FBorderTarget == 4) {
        for (TBorder& b : r.S().Para.Borders) {
            b.Set = true;
            set(b, a);
        }
    } else if (TBorder* b = r.BorderTarget()) {
        b->Set = true;
        set(*b, a);
    }
}

int NestLevel(const TRtfReader& r)
{
    return std::clamp(r.S().Para.TableLevel, 2, kMaxTableDepth);
}

const std::unordered_map<std::string, TAction>& Keywords()
{
    using R = TRtfReader;
    static const std::unordered_map<std::string, TAction> table = {
        // ---- special characters and breaks
        {"par", +[](R& r, TArgs) { r.EndParagraph(); }},
        {"line", +[](R& r, TArgs) { r.Special(u'\u2028'); }},
        {"tab", +[](R& r, TArgs) { r.Special(u'\t'); }},
        {"page", +[](R& r, TArgs) { r.EndParagraph(true); }},
        {"column", +[](R& r, TArgs) { r.EndParagraph(false, true); }},
        {"sect", +[](R& r, TArgs) {
             // The section mark ends the paragraph it stands in; after a
             // paragraph mark it makes no empty paragraph of its own.
             r.Flush();
             if (r.Sink(r.TargetSink()).Cursor.block().length() > 1)
                 r.EndParagraph();
             r.FInFirstSection = false;
             r.FSectionBreakPending = true;
             r.FSectionBreakIsPage = true;
             r.FSectionBreakIsColumn = false;
             if (r.FSectionValues.size() < 1000)
                 r.FSectionValues.push_back(r.FSectSetup);
         }},
        // A section's own page starts again from the document's.
        {"sectd", +[](R& r, TArgs) {
             if (InMainText(r))
                 r.FSectSetup = R::TSetupValues {};
         }},
        {"sbknone", +[](R& r, TArgs) { r.FSectionBreakIsPage = r.FSectionBreakIsColumn = false; }},
        {"sbkcol", +[](R& r, TArgs) {
             r.FSectionBreakIsPage = false;
             r.FSectionBreakIsColumn = true;
         }},
        {"sbkpage", +[](R& r, TArgs) { r.FSectionBreakIsPage = true; }},
        {"sbkodd", +[](R& r, TArgs) { r.FSectionBreakIsPage = true; }},
        {"sbkeven", +[](R& r, TArgs) { r.FSectionBreakIsPage = true; }},
        {"cols", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::Columns, a); }},
        {"colsx", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::ColumnGap, a); }},
        {"cell", +[](R& r, TArgs) { r.EndCell(1); }},
        {"nestcell", +[](R& r, TArgs) { r.EndCell(NestLevel(r)); }},
        {"row", +[](R& r, TArgs) { r.EndRow(1); }},
        {"nestrow", +[](R& r, TArgs) { r.EndRow(NestLevel(r)); }},
        {"emdash", +[](R& r, TArgs) { r.Special(0x2014); }},
        {"endash", +[](R& r, TArgs) { r.Special(0x2013); }},
        {"emspace", +[](R& r, TArgs) { r.Special(u' '); }},
        {"enspace", +[](R& r, TArgs) { r.Special(u' '); }},
        {"qmspace", +[](R& r, TArgs) { r.Special(u' '); }},
        {"bullet", +[](R& r, TArgs) { r.Special(0x2022); }},
        {"lquote", +[](R& r, TArgs) { r.Special(0x2018); }},
        {"rquote", +[](R& r, TArgs) { r.Special(0x2019); }},
        {"ldblquote", +[](R& r, TArgs) { r.Special(0x201C); }},
        {"rdblquote", +[](R& r, TArgs) { r.Special(0x201D); }},
        {"zwj", +[](R& r, TArgs) { r.Special(0x200D); }},
        {"zwnj", +[](R& r, TArgs) { r.Special(0x200C); }},
        {"chpgn", +[](R& r, TArgs) {
             const int previous = r.S().PageField;
             r.S().PageField = kPageNumberField;
             r.Special(u'1');
             r.Flush();
             r.S().PageField = previous;
         }},
        {"chftn", +[](R& r, TArgs) {
             // The footnote's number: in its text the footnote being read,
             // in the main text the one that follows.
             int number = static_cast<int>(r.FFootnotes.size()) + 1;
             for (std::size_t i = 0; i < r.FFootnotes.size(); ++i)
                 if (r.FFootnotes[i].second == r.S().Sink)
                     number = static_cast<int>(i) + 1;
             const QString text = QString::number(number);
             for (const QChar c : text)
                 r.Special(c.unicode());
         }},
        {"uc", +[](R& r, TArgs a) { r.S().Uc = std::clamp(a.Param, 0, 10); }},

        // ---- document
        {"deftab", +[](R& r, TArgs a) { r.FDefaultTab = std::clamp(a.Param, 60, 20000); }},
        {"ansicpg", +[](R& r, TArgs a) {
             if (a.Param > 0 && a.Param < 100000)
                 r.FDocumentCodePage = a.Param;
         }},
        {"mac", +[](R& r, TArgs) { r.FDocumentCodePage = 10000; }},
        {"pc", +[](R& r, TArgs) { r.FDocumentCodePage = 437; }},
        {"pca", +[](R& r, TArgs) { r.FDocumentCodePage = 850; }},
        {"deff", +[](R& r, TArgs a) { r.FDefaultFont = a.Param; }},
        {"paperw", +[](R& r, TArgs a) { DocValue(r, &R::TSetupValues::W, a); }},
        {"paperh", +[](R& r, TArgs a) { DocValue(r, &R::TSetupValues::H, a); }},
        {"margl", +[](R& r, TArgs a) { DocValue(r, &R::TSetupValues::L, a); }},
        {"margr", +[](R& r, TArgs a) { DocValue(r, &R::TSetupValues::R, a); }},
        {"margt", +[](R& r, TArgs a) { DocValue(r, &R::TSetupValues::T, a); }},
        {"margb", +[](R& r, TArgs a) { DocValue(r, &R::TSetupValues::B, a); }},
        {"landscape", +[](R& r, TArgs) { r.FDocSetup.Landscape = true; }},
        {"facingp", +[](R& r, TArgs) { r.FFacingPages = true; }},

        // ---- sections: each one's page
        {"pgwsxn", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::W, a); }},
        {"pghsxn", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::H, a); }},
        {"marglsxn", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::L, a); }},
        {"margrsxn", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::R, a); }},
        {"margtsxn", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::T, a); }},
        {"margbsxn", +[](R& r, TArgs a) { SectionValue(r, &R::TSetupValues::B, a); }},
        {"lndscpsxn", +[](R& r, TArgs) { r.FSectSetup.Landscape = true; }},
        {"titlepg", +[](R& r, TArgs) {
             if (r.FInFirstSection)
                 r.FTitlePage = true;
         }},
        {"headery", +[](R& r, TArgs a) {
             if (a.Param >= 0 && a.Param < 200000 && (!r.FHeaderY || r.FInFirstSection))
                 r.FHeaderY = a.Param;
         }},
        {"footery", +[](R& r, TArgs a) {
             if (a.Param >= 0 && a.Param < 200000 && (!r.FFooterY || r.FInFirstSection))
                 r.FFooterY = a.Param;
         }},

        // ---- characters
        {"plain", +[](R& r, TArgs) { r.S().Char = TCharProps {}; }},
        {"f", +[](R& r, TArgs a) { r.S().Char.Font = a.Param; }},
        {"fs", +[](R& r, TArgs a) {
             if (a.Param > 0)
                 r.S().Char.HalfPoints = a.Param;
         }},
        {"b", +[](R& r, TArgs a) { r.S().Char.Bold = a.On(); }},
        {"i", +[](R& r, TArgs a) { r.S().Char.Italic = a.On(); }},
        {"ul", +[](R& r, TArgs a) { r.S().Char.Underline = a.On(); }},
        {"uld", +[](R& r, TArgs a) { r.S().Char.Underline = a.On(); }},
        {"uldb", +[](R& r, TArgs a) { r.S().Char.Underline = a.On(); }},
        {"ulw", +[](R& r, TArgs a) { r.S().Char.Underline = a.On(); }},
        {"uldash", +[](R& r, TArgs a) { r.S().Char.Underline = a.On(); }},
        {"ulth", +[](R& r, TArgs a) { r.S().Char.Underline = a.On(); }},
        {"ulwave", +[](R& r, TArgs a) { r.S().Char.Underline = a.On(); }},
        {"ulnone", +[](R& r, TArgs) { r.S().Char.Underline = false; }},
        {"strike", +[](R& r, TArgs a) { r.S().Char.Strike = a.On(); }},
        {"striked", +[](R& r, TArgs a) { r.S().Char.Strike = a.On(); }},
        {"v", +[](R& r, TArgs a) { r.S().Char.Hidden = a.On(); }},
        {"caps", +[](R& r, TArgs a) { r.S().Char.Caps = a.On(); }},
        {"scaps", +[](R& r, TArgs a) { r.S().Char.Caps = a.On(); }},
        {"cf", +[](R& r, TArgs a) { r.S().Char.Color = a.Param; }},
        {"highlight", +[](R& r, TArgs a) { r.S().Char.Highlight = a.Param; }},
        {"chcbpat", +[](R& r, TArgs a) { r.S().Char.Highlight = a.Param; }},
        {"cb", +[](R& r, TArgs a) { r.S().Char.Highlight = a.Param; }},
        {"super", +[](R& r, TArgs a) { r.S().Char.VerticalAlign = a.On() ? 1 : 0; }},
        {"up", +[](R& r, TArgs a) { r.S().Char.VerticalAlign = a.On() ? 1 : 0; }},
        {"sub", +[](R& r, TArgs a) { r.S().Char.VerticalAlign = a.On() ? 2 : 0; }},
        {"dn", +[](R& r, TArgs a) { r.S().Char.VerticalAlign = a.On() ? 2 : 0; }},
        {"nosupersub", +[](R& r, TArgs) { r.S().Char.VerticalAlign = 0; }},

        // ---- paragraphs
        {"pard", +[](R& r, TArgs) {
             r.S().Para = TParaProps {};
             r.FBorderTarget = -1;
         }},
        {"ql", +[](R& r, TArgs) { r.S().Para.Align = Qt::AlignLeft; }},
        {"qc", +[](R& r, TArgs) { r.S().Para.Align = Qt::AlignHCenter; }},
        {"qr", +[](R& r, TArgs) { r.S().Para.Align = Qt::AlignRight; }},
        {"qj", +[](R& r, TArgs) { r.S().Para.Align = Qt::AlignJustify; }},
        {"li", +[](R& r, TArgs a) { r.S().Para.LeftIndent = a.Twips(); }},
        {"lin", +[](R& r, TArgs a) { r.S().Para.LeftIndent = a.Twips(); }},
        {"ri", +[](R& r, TArgs a) { r.S().Para.RightIndent = a.Twips(); }},
        {"rin", +[](R& r, TArgs a) { r.S().Para.RightIndent = a.Twips(); }},
        {"fi", +[](R& r, TArgs a) { r.S().Para.FirstIndent = a.Twips(); }},
        {"sb", +[](R& r, TArgs a) { r.S().Para.SpaceBefore = a.Twips(); }},
        {"sa", +[](R& r, TArgs a) { r.S().Para.SpaceAfter = a.Twips(); }},
        {"sl", +[](R& r, TArgs a) { r.S().Para.LineSpacing = a.Twips(); }},
        {"slmult", +[](R& r, TArgs a) { r.S().Para.LineMultiple = a.On(); }},
        {"pagebb", +[](R& r, TArgs a) { r.S().Para.PageBreakBefore = a.On(); }},
        {"tqr", +[](R& r, TArgs) { r.S().Para.NextTabType = QTextOption::RightTab; }},
        {"tqc", +[](R& r, TArgs) { r.S().Para.NextTabType = QTextOption::CenterTab; }},
        {"tqdec", +[](R& r, TArgs) { r.S().Para.NextTabType = QTextOption::DelimiterTab; }},
        {"tldot", +[](R& r, TArgs) { r.S().Para.NextLeader = '.'; }},
        {"tlmdot", +[](R& r, TArgs) { r.S().Para.NextLeader = '.'; }},
        {"tlhyph", +[](R& r, TArgs) { r.S().Para.NextLeader = '-'; }},
        {"tlul", +[](R& r, TArgs) { r.S().Para.NextLeader = '_'; }},
        {"tlth", +[](R& r, TArgs) { r.S().Para.NextLeader = '_'; }},
        {"tleq", +[](R& r, TArgs) { r.S().Para.NextLeader = '='; }},
        {"tx", AddTab},
        {"tb", AddTab},
        {"intbl", +[](R& r, TArgs a) { r.S().Para.InTable = a.On(); }},
        {"itap", +[](R& r, TArgs a) {
             r.S().Para.TableLevel = std::clamp(a.Param, 0, kMaxTableDepth);
             if (a.Param <= 0)
                 r.S().Para.InTable = false;
             else if (a.Param >= 2)
                 r.S().Para.InTable = true;
         }},
        {"cbpat", +[](R& r, TArgs a) { r.S().Para.Shading = a.Param; }},
        {"brdrt", +[](R& r, TArgs) { r.FBorderTarget = kTop; }},
        {"brdrl", +[](R& r, TArgs) { r.FBorderTarget = kLeft; }},
        {"brdrb", +[](R& r, TArgs) { r.FBorderTarget = kBottom; }},
        {"brdrr", +[](R& r, TArgs) { r.FBorderTarget = kRight; }},
        {"box", +[](R& r, TArgs) { r.FBorderTarget = 4; }},
        // paragraph frames
        {"phpg", +[](R& r, TArgs) { r.S().Para.HRef = 'p'; }},
        {"phmrg", +[](R& r, TArgs) { r.S().Para.HRef = 'm'; }},
        {"phcol", +[](R& r, TArgs) { r.S().Para.HRef = 'c'; }},
        {"pvpg", +[](R& r, TArgs) {
             r.S().Para.VRef = 'p';
             r.S().Para.Frame = true;
         }},
        {"pvmrg", +[](R& r, TArgs) {
             r.S().Para.VRef = 'm';
             r.S().Para.Frame = true;
         }},
        {"pvpara", +[](R& r, TArgs) { r.S().Para.VRef = 't'; }},
        {"posx", +[](R& r, TArgs a) {
             r.S().Para.PosX = a.Twips();
             r.S().Para.Frame = true;
         }},
        {"posy", +[](R& r, TArgs a) {
             r.S().Para.PosY = a.Twips();
             r.S().Para.Frame = true;
         }},
        {"posxl", +[](R& r, TArgs) {
             r.S().Para.HAlign = 1;
             r.S().Para.Frame = true;
         }},
        {"posxc", +[](R& r, TArgs) {
             r.S().Para.HAlign = 2;
             r.S().Para.Frame = true;
         }},
        {"posxr", +[](R& r, TArgs) {
             r.S().Para.HAlign = 3;
             r.S().Para.Frame = true;
         }},
        {"absw", +[](R& r, TArgs a) {
             r.S().Para.FrameWidth = std::clamp(a.Param, 0, 31680);
             r.S().Para.Frame = true;
         }},
        {"absh", +[](R& r, TArgs a) { r.S().Para.FrameHeight = std::clamp(std::abs(a.Param), 0, 31680); }},

        // ---- borders (of the paragraph, cell or row named last)
        {"brdrs", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 1; }, a); }},
        {"brdrth", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 5; }, a); }},
        {"brdrdb", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 2; }, a); }},
        {"brdrdot", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 3; }, a); }},
        {"brdrdash", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 4; }, a); }},
        {"brdrhair", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 1; b.Width = 10; }, a); }},
        {"brdrnone", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 0; }, a); }},
        {"brdrnil", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs) { b.Style = 0; }, a); }},
        {"brdrw", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs v) { b.Width = std::clamp(v.Param, 0, 750); }, a); }},
        {"brdrcf", +[](R& r, TArgs a) { Border(r, +[](TBorder& b, TArgs v) { b.Color = v.Param; }, a); }},

        // ---- table rows and cells
        {"trowd", +[](R& r, TArgs) {
             r.FDefLevel = r.S().Dest == TDest::NestTableProps ? NestLevel(r) : 1;
             r.FRowDefs[static_cast<std::size_t>(r.FDefLevel)] = TRowDef {};
             r.FCellDef = TCellDef {};
             r.FBorderTarget = -1;
         }},
        {"trgaph", +[](R& r, TArgs a) { r.RowDef().Gap = std::clamp(a.Param, 0, 3000); }},
        {"trleft", +[](R& r, TArgs a) { r.RowDef().Left = a.Twips(); }},
        {"trrh", +[](R& r, TArgs a) { r.RowDef().Height = a.Twips(); }},
        {"trhdr", +[](R& r, TArgs) { r.RowDef().Header = true; }},
        {"trkeep", +[](R& r, TArgs a) { r.RowDef().Keep = a.On(); }},
        {"trautofit", +[](R& r, TArgs a) { r.RowDef().AutoFit = a.On(); }},
        {"trql", +[](R& r, TArgs) { r.RowDef().Align = 0; }},
        {"trqc", +[](R& r, TArgs) { r.RowDef().Align = 1; }},
        {"trqr", +[](R& r, TArgs) { r.RowDef().Align = 2; }},
        {"trpaddt", +[](R& r, TArgs a) { r.RowDef().Padding[kTop] = std::clamp(a.Param, 0, 3000); }},
        {"trpaddl", +[](R& r, TArgs a) { r.RowDef().Padding[kLeft] = std::clamp(a.Param, 0, 3000); }},
        {"trpaddb", +[](R& r, TArgs a) { r.RowDef().Padding[kBottom] = std::clamp(a.Param, 0, 3000); }},
        {"trpaddr", +[](R& r, TArgs a) { r.RowDef().Padding[kRight] = std::clamp(a.Param, 0, 3000); }},
        {"trbrdrt", +[](R& r, TArgs) { r.FBorderTarget = 20; }},
        {"trbrdrl", +[](R& r, TArgs) { r.FBorderTarget = 21; }},
        {"trbrdrb", +[](R& r, TArgs) { r.FBorderTarget = 22; }},
        {"trbrdrr", +[](R& r, TArgs) { r.FBorderTarget = 23; }},
        {"trbrdrh", +[](R& r, TArgs) { r.FBorderTarget = 24; }},
        {"trbrdrv", +[](R& r, TArgs) { r.FBorderTarget = 25; }},
        {"clbrdrt", +[](R& r, TArgs) { r.FBorderTarget = 10 + kTop; }},
        {"clbrdrl", +[](R& r, TArgs) { r.FBorderTarget = 10 + kLeft; }},
        {"clbrdrb", +[](R& r, TArgs) { r.FBorderTarget = 10 + kBottom; }},
        {"clbrdrr", +[](R& r, TArgs) { r.FBorderTarget = 10 + kRight; }},
        {"clcbpat", +[](R& r, TArgs a) { r.FCellDef.Shading = a.Param; }},
        {"clcfpat", +[](R& r, TArgs a) { r.FCellDef.Pattern = a.Param; }},
        {"clshdng", +[](R& r, TArgs a) { r.FCellDef.ShadePercent = std::clamp(a.Param, 0, 10000); }},
        {"clvertalt", +[](R& r, TArgs) { r.FCellDef.VAlign = 0; }},
        {"clvertalc", +[](R& r, TArgs) { r.FCellDef.VAlign = 1; }},
        {"clvertalb", +[](R& r, TArgs) { r.FCellDef.VAlign = 2; }},
        {"clmgf", +[](R& r, TArgs) { r.FCellDef.MergeFirst = true; }},
        {"clmrg", +[](R& r, TArgs) { r.FCellDef.Merged = true; }},
        {"clvmgf", +[](R& r, TArgs) { r.FCellDef.VMergeFirst = true; }},
        {"clvmrg", +[](R& r, TArgs) { r.FCellDef.VMerged = true; }},
        // Word writes the top padding as \clpadl and the left one as \clpadt.
        {"clpadl", +[](R& r, TArgs a) { r.FCellDef.Padding[kTop] = std::clamp(a.Param, 0, 3000); }},
        {"clpadt", +[](R& r, TArgs a) { r.FCellDef.Padding[kLeft] = std::clamp(a.Param, 0, 3000); }},
        {"clpadb", +[](R& r, TArgs a) { r.FCellDef.Padding[kBottom] = std::clamp(a.Param, 0, 3000); }},
        {"clpadr", +[](R& r, TArgs a) { r.FCellDef.Padding[kRight] = std::clamp(a.Param, 0, 3000); }},
        {"cellx", +[](R& r, TArgs a) {
             TRowDef& row = r.RowDef();
             r.FCellDef.Right = a.Twips();
             if (static_cast<int>(row.Cells.size()) < kMaxCellsPerRow)
                 row.Cells.push_back(r.FCellDef);
             r.FCellDef = TCellDef {};
             r.FBorderTarget = -1;
         }},
    };
    return table;
}

}  // namespace

TRowDef& TRtfReader::RowDef()
{
    return FRowDefs[static_cast<std::size_t>(std::clamp(FDefLevel, 1, kMaxTableDepth))];
}

TBorder* TRtfReader::BorderTarget()
{
    if (FBorderTarget >= 0 && FBorderTarget < 4)
        return &S().Para.Borders[FBorderTarget];
    if (FBorderTarget >= 10 && FBorderTarget < 14)
        return &FCellDef.Borders[FBorderTarget - 10];
    if (FBorderTarget >= 20 && FBorderTarget < 26)
        return &RowDef().Borders[FBorderTarget - 20];
    return nullptr;
}

void TRtfReader::TextKeyword(const std::string& word, bool hasParam, int param)
{
    if (word == "u") {
        Unicode(param);
        return;
    }
    if (SkippingFallback())
        return;
    // Anything that changes the look ends the text run written so far.
    Flush();
    const auto it = Keywords().find(word);
    if (it != Keywords().end())
        it->second(*this, TArgs {hasParam, param});
}

QString SymbolFontText(const QString& fontName, const QByteArray& bytes)
{
    // Adobe's Symbol encoding and the Wingdings bullets letterheads use.
    static const char16_t kSymbol[] = {
        // 0x20 - 0x7F
        0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B, 0x002C,
        0x2212, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039,
        0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6,
        0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F, 0x03A0, 0x0398, 0x03A1, 0x03A3,
        0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D, 0x22A5, 0x005F, 0x203E,
        0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC,
        0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6,
        0x007B, 0x007C, 0x007D, 0x223C, 0x007F,
        // 0xA0 - 0xE5
        0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190,
        0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260,
        0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5, 0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205,
        0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209, 0x2220, 0x2207, 0x00AE, 0x00A9,
        0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA,
        0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211};
    static_assert(sizeof(kSymbol) / sizeof(kSymbol[0]) == 96 + 70, "0x20-0x7F and 0xA0-0xE5");
    static const std::pair<unsigned char, char16_t> kWingdings[] = {
        {0x6C, 0x25CF}, {0x6E, 0x25A0}, {0x6F, 0x25A1}, {0x71, 0x2751}, {0x75, 0x25C6}, {0x76, 0x2756},
        {0x77, 0x2B25}, {0x9F, 0x2022}, {0xA1, 0x25CB}, {0xA7, 0x25AA}, {0xA8, 0x25FB}, {0xD8, 0x27A2},
        {0xE0, 0x2794}, {0xE8, 0x2794}, {0xF0, 0x21E8}, {0xFB, 0x2717}, {0xFC, 0x2713}, {0xFD, 0x2612},
        {0xFE, 0x2611}};
    const QString name = fontName.toLower();
    const bool wingdings = name.contains(QLatin1String("wingdings"));
    const bool symbol = name.contains(QLatin1String("symbol"));
    QString text;
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        char16_t u = b;
        if (symbol && b >= 0x20 && b < 0x80)
            u = kSymbol[b - 0x20];
        else if (symbol && b >= 0xA0 && b <= 0xE5)
            u = kSymbol[0x60 + (b - 0xA0)];
        else if (symbol && b == 0xF1)
            u = 0x232A;
        else if (symbol && b == 0xF2)
            u = 0x222B;
        else if (wingdings)
            for (const auto& [code, mapped] : kWingdings)
                if (code == b)
                    u = mapped;
        text.append(QChar(u));
    }
    return text;
}

}  // namespace rtf
