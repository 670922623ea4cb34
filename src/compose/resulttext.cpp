#include "compose/resulttext.h"

#include "util/codepage.h"
#include "util/textutil.h"

#include <cstdint>
#include <optional>

namespace {

// The markup characters, in the order the system lists them.
constexpr std::string_view kMarkup = "_|{~`[]\xA4\xA9\xAE\xAF";

// Colours and sizes: decimal, or hexadecimal after "$", read as 64 bits.
std::optional<std::int64_t> ReadNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    const bool hex = i < text.size() && text[i] == '$';
    if (hex)
        ++i;
    if (i >= text.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return std::nullopt;
        if (value > (UINT64_MAX >> 4))
            return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    }
    const auto signedValue = static_cast<std::int64_t>(value);
    return negative ? -signedValue : signedValue;
}

void SetSizeSafely(DocumentEngine& engine, int size)
{
    try {
        engine.SetFontSize(size);
    } catch (const EDocumentEngineError&) {
        // a size the engine cannot take leaves the size in force
    }
}

}  // namespace

bool RenderResultText(DocumentEngine& engine, std::string_view text, std::string_view fontName,
                      std::string_view sizeText)
{
    engine.SetFontName(fontName.empty() ? QStringLiteral("Courier New") : ToUnicode(fontName));
    SetSizeSafely(engine, TryStrToInt(sizeText).value_or(10));

    const int startColor = engine.ForeColor();
    const QString startFont = engine.FontName();
    const int startSize = engine.FontSize();
    bool bold = false, italic = false, underline = false;
    bool colorSet = false, sizeSet = false, fontSet = false;
    int color = startColor;
    int size = startSize;
    QString font = startFont;
    int firstField = 0;

    engine.SetSelText(QString());
    std::string_view rest = text;
    do {
        engine.SetFontBold(bold ? 1 : 0);
        engine.SetFontItalic(italic ? 1 : 0);
        engine.SetFontUnderline(underline ? 1 : 0);
        if (colorSet)
            engine.SetForeColor(color);
        if (fontSet)
            engine.SetFontName(font);
        if (sizeSet)
            SetSizeSafely(engine, size);
        engine.SetSelLength(0);

        const auto at = rest.find_first_of(kMarkup);
        std::string run(rest.substr(0, at));
        const char mark = at == std::string_view::npos ? '\0' : rest[at];
        rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);

        switch (static_cast<unsigned char>(mark)) {
        case '[': SetSizeSafely(engine, engine.FontSize() - 1); break;
        case ']': SetSizeSafely(engine, engine.FontSize() + 1); break;
        case '_': underline = !underline; break;
        case '{': bold = !bold; break;
        case '|': italic = !italic; break;
        case '~': run += "\r\n"; break;
        case 0xAF: run += '^'; break;
        case 0xA4:
        case 0xA9:
        case 0xAE: {
            const auto close = rest.find(mark);
            if (close == std::string_view::npos)
                break;  // no closing character: the opening one is dropped
            const std::string_view value = rest.substr(0, close);
            rest = rest.substr(close + 1);
            if (static_cast<unsigned char>(mark) == 0xAE) {
                font = ToUnicode(value);
                fontSet = true;
            } else if (const auto number = ReadNumber(value)) {
                if (static_cast<unsigned char>(mark) == 0xA4) {
                    color = static_cast<std::int32_t>(static_cast<std::uint32_t>(*number));
                    colorSet = true;
                } else {
                    size = static_cast<std::int32_t>(static_cast<std::uint32_t>(*number));
                    sizeSet = true;
                }
            } else if (static_cast<unsigned char>(mark) == 0xA4) {
                color = startColor;
            } else {
                size = startSize;
            }
            break;
        }
        case '`': {
            engine.SetSelText(ToUnicode(run));
            engine.SetSelLength(0);
            try {
                engine.InsertField(QStringLiteral(" "));
            } catch (const EDocumentEngineError&) {
                return false;  // the rest of the text is not shown
            }
            if (firstField == 0)
                firstField = engine.FieldCurrent();
            engine.SetFieldKind(engine.FieldCurrent(), 20);
            engine.SetFieldChangeable(true);
            engine.SetSelLength(0);
            if (rest.empty())
                engine.SetSelText(QStringLiteral(" "));
            continue;
        }
        default: break;
        }
        engine.SetSelText(ToUnicode(run));
    } while (!rest.empty());

    if (firstField != 0) {
        engine.SetFieldCurrent(firstField);
        engine.SetSelStart(engine.FieldStart());
    }
    return true;
}
