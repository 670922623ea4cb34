// The fonts a PDF embeds: each TrueType font file is read once per process,
// and a subset for a set of glyphs is made once (HarfBuzz) and kept, so a run
// of reports with the same letterhead embeds its fonts at almost no cost.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QFontEngine;

// One face of a font file, as the PDF needs it.
struct TPdfFontFace {
    QByteArray Key;          // file name and face index
    std::unique_ptr<QFile> File;
    QByteArray Data;         // the whole file, mapped
    QByteArray PostScriptName;
    int UnitsPerEm = 1000;
    int NumGlyphs = 0;
    int BBox[4] = {0, 0, 0, 0};  // glyph units
    int Ascent = 0, Descent = 0, CapHeight = 0;
    double ItalicAngle = 0;
    bool FixedPitch = false;
    std::vector<std::uint16_t> Advances;  // per glyph, glyph units
    struct THb;
    std::unique_ptr<THb> Hb;

    TPdfFontFace();
    ~TPdfFontFace();
    // The glyph's advance in thousandths of the em, as the PDF's widths give it.
    double Width1000(unsigned glyph) const;
};

// A subset of a face: the font program and where each glyph went in it.
struct TPdfFontSubset {
    QByteArray Compressed;  // the font program, deflated
    int Length = 0;         // its size before compression
    std::vector<std::pair<unsigned, unsigned>> NewGlyph;  // old glyph -> glyph in the subset, sorted
    unsigned Map(unsigned glyph) const;
};

namespace pdffonts {

// The face a font engine draws with, when it can be embedded as a TrueType
// font (a glyf table, embedding allowed); nullptr otherwise: the caller then
// draws the glyphs' outlines.
std::shared_ptr<const TPdfFontFace> FaceOf(QFontEngine* engine);

// The subset of a face holding the given glyphs (sorted, 0 included).
// nullptr if HarfBuzz cannot make it.
std::shared_ptr<const TPdfFontSubset> SubsetOf(const TPdfFontFace& face, const std::vector<unsigned>& glyphs);

// Deflated as a PDF's FlateDecode filter reads it. What is made once and
// kept between documents (font subsets, pictures) is packed tighter; what
// every document makes anew (page contents, maps) is packed fast.
enum class TPacking { Kept, Fast };
QByteArray Deflate(const QByteArray& bytes, TPacking packing = TPacking::Kept);

}  // namespace pdffonts
