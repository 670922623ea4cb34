#include "platform/docengine/textmetrics.h"

#include <QFont>
#include <QRawFont>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QtGui/private/qtextdocument_p.h>

#include <array>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kDeviceDotsPerTwip = 6;  // the word processor's 8640-dpi reference device

// One font's advances on the word processor's device, per character: exact and rounded, in its pixels.
struct TAdvance {
    float Exact = 0;
    float Rounded = 0;
};

class TRounding {
public:
    explicit TRounding(const QFont& font, int pixelSize) : FRaw(QRawFont::fromFont(font))
    {
        FRaw.setPixelSize(pixelSize);
        FLatin.fill({-1, 0});
    }

    TAdvance Of(char16_t c)
    {
        if (c < FLatin.size()) {
            TAdvance& a = FLatin[c];
            if (a.Exact < 0)
                a = Measure(c);
            return a;
        }
        const auto it = FOther.find(c);
        return it != FOther.end() ? it->second : FOther.emplace(c, Measure(c)).first->second;
    }

private:
    TAdvance Measure(char16_t c) const
    {
        if (!FRaw.isValid())
            return {};
        const QChar ch(c);
        quint32 glyph = 0;
        int count = 1;
        if (!FRaw.glyphIndexesForChars(&ch, 1, &glyph, &count) || count != 1 || glyph == 0)
            return {};
        QPointF advance;
        if (!FRaw.advancesForGlyphIndexes(&glyph, &advance, 1, QRawFont::UseDesignMetrics))
            return {};
        return {static_cast<float>(advance.x()), static_cast<float>(std::round(advance.x()))};
    }

    QRawFont FRaw;
    std::array<TAdvance, 256> FLatin;
    std::unordered_map<char16_t, TAdvance> FOther;
};

using TRoundingKey = std::tuple<QString, int, int, bool>;

// Fonts as documents name them, kept between documents: a server that runs
// for months meets only so many, but files may name any number.
std::map<TRoundingKey, TRounding>& Roundings()
{
    static std::map<TRoundingKey, TRounding> cache;
    return cache;
}
constexpr std::size_t kMaxRoundings = 512;

TRounding& RoundingOf(const QFont& font)
{
    // Sizes are whole twips in the files: the device's pixel size is six times that.
    const int pixelSize = static_cast<int>(std::lround(font.pointSizeF() * 20)) * kDeviceDotsPerTwip;
    std::map<TRoundingKey, TRounding>& cache = Roundings();
    const TRoundingKey key {font.family(), pixelSize, font.weight(), font.italic()};
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(std::piecewise_construct, std::forward_as_tuple(key),
                           std::forward_as_tuple(font, pixelSize))
                 .first;
    return it->second;
}

}  // namespace

void MatchWordProcessorWidths(QTextDocument& doc)
{
    struct TChange {
        int Start, End;
        double Spacing;
    };
    std::vector<TChange> changes;
    // Emptied between documents, never while one holds its entries.
    if (Roundings().size() > kMaxRoundings)
        Roundings().clear();
    const QFont base = doc.defaultFont();
    // Fragments share a few formats: each format's font is resolved once.
    struct TFormatSeen {
        TRounding* Rounding = nullptr;  // none for pictures and fonts without a size
        double Current = 100;           // the letter spacing it has
    };
    std::unordered_map<int, TFormatSeen> formats;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            auto known = formats.find(fragment.charFormatIndex());
            if (known == formats.end()) {
                const QTextCharFormat format = fragment.charFormat();
                TFormatSeen seen;
                if (!format.isImageFormat())
                    if (const QFont font = format.font().resolve(base); font.pointSizeF() > 0)
                        seen.Rounding = &RoundingOf(font);
                const bool has = format.hasProperty(QTextFormat::FontLetterSpacing);
                const bool percentage = format.fontLetterSpacingType() == QFont::PercentageSpacing;
                seen.Current = !has ? 100 : percentage ? format.fontLetterSpacing() : -1;
                known = formats.emplace(fragment.charFormatIndex(), seen).first;
            }
            if (!known->second.Rounding)
                continue;
            TRounding& rounding = *known->second.Rounding;
            const QString text = fragment.text();
            double exact = 0, rounded = 0;
            for (const QChar c : text) {
                const TAdvance a = rounding.Of(c.unicode());
                exact += a.Exact;
                rounded += a.Rounded;
            }
            // A percentage, which Qt keeps in 1/64: absolute spacing is kept
            // in 1/64 of a 96-dpi pixel, a quarter twip per character.
            const double spacing = exact > 0 ? std::round(rounded / exact * 100 * 64) / 64 : 100;
            if (known->second.Current != spacing)
                changes.push_back({fragment.position(), fragment.position() + fragment.length(), spacing});
        }
    if (changes.empty())
        return;
    // Not laid out again after every change: the caller lays out once.
    doc.setPageSize(QSizeF(0, 0));
    // Straight to the document: a cursor's selection in a table cell looks
    // the cell up in the table for each of thousands of changes.
    QTextDocumentPrivate* text = QTextDocumentPrivate::get(&doc);
    text->beginEditBlock();
    for (const TChange& change : changes) {
        QTextCharFormat spacing;
        spacing.setFontLetterSpacingType(QFont::PercentageSpacing);
        spacing.setFontLetterSpacing(change.Spacing);
        text->setCharFormat(change.Start, change.End - change.Start, spacing, QTextDocumentPrivate::MergeFormat);
    }
    text->endEditBlock();
}

bool DifferOnlyInMatchedWidths(const QTextCharFormat& a, const QTextCharFormat& b)
{
    if (!a.hasProperty(QTextFormat::FontLetterSpacing) && !b.hasProperty(QTextFormat::FontLetterSpacing))
        return false;
    QTextCharFormat plainA = a, plainB = b;
    for (QTextCharFormat* f : {&plainA, &plainB}) {
        f->clearProperty(QTextFormat::FontLetterSpacing);
        f->clearProperty(QTextFormat::FontLetterSpacingType);
    }
    return plainA == plainB;
}
