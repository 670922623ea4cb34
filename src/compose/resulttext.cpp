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
    // A size the engine cannot take leaves the size in force.
    static_cast<void>(engine.SetFontSize(size));
}

// The markup's running state, applied before each run of text.
class TResultTextRenderer {
public:
    explicit TResultTextRenderer(DocumentEngine& engine)
        : FEngine(engine),
          FStartColor(engine.ForeColor()),
          FStartSize(engine.FontSize()),
          FColor(FStartColor),
          FSize(FStartSize),
          FFont(engine.FontName())
    {
    }

    // false when a field could not be inserted (the rest is not shown).
    bool Render(std::string_view text)
    {
        FEngine.SetSelText(QString());
        std::string_view rest = text;
        do {
            ApplyState();
            const auto at = rest.find_first_of(kMarkup);
            std::string run(rest.substr(0, at));
            const char mark = at == std::string_view::npos ? '\0' : rest[at];
            rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
            if (mark == '`') {
                if (!InsertField(run, rest))
                    return false;
                continue;
            }
            Mark(static_cast<unsigned char>(mark), run, rest);
            FEngine.SetSelText(ToUnicode(run));
        } while (!rest.empty());

        if (FFirstField != 0 && FEngine.SetFieldCurrent(FFirstField))
            FEngine.SetSelStart(FEngine.FieldStart());
        return true;
    }

private:
    void ApplyState()
    {
        FEngine.SetFontBold(FBold ? 1 : 0);
        FEngine.SetFontItalic(FItalic ? 1 : 0);
        FEngine.SetFontUnderline(FUnderline ? 1 : 0);
        if (FColorSet)
            FEngine.SetForeColor(FColor);
        if (FFontSet)
            FEngine.SetFontName(FFont);
        if (FSizeSet)
            SetSizeSafely(FEngine, FSize);
        FEngine.SetSelLength(0);
    }

    // A mark's effect on the state or on the run it ends.
    void Mark(unsigned char mark, std::string& run, std::string_view& rest)
    {
        switch (mark) {
        case '[': SetSizeSafely(FEngine, FEngine.FontSize() - 1); break;
        case ']': SetSizeSafely(FEngine, FEngine.FontSize() + 1); break;
        case '_': FUnderline = !FUnderline; break;
        case '{': FBold = !FBold; break;
        case '|': FItalic = !FItalic; break;
        case '~': run += "\r\n"; break;
        case 0xAF: run += '^'; break;
        case 0xA4:
        case 0xA9:
        case 0xAE: ValueMark(mark, rest); break;
        default: break;
        }
    }

    // A colour, size or font between two of its marks.
    void ValueMark(unsigned char mark, std::string_view& rest)
    {
        const auto close = rest.find(static_cast<char>(mark));
        if (close == std::string_view::npos)
            return;  // no closing character: the opening one is dropped
        const std::string_view value = rest.substr(0, close);
        rest = rest.substr(close + 1);
        if (mark == 0xAE) {
            FFont = ToUnicode(value);
            FFontSet = true;
            return;
        }
        const auto number = ReadNumber(value);
        const bool color = mark == 0xA4;
        int& target = color ? FColor : FSize;
        if (number) {
            target = static_cast<std::int32_t>(static_cast<std::uint32_t>(*number));
            (color ? FColorSet : FSizeSet) = true;
        } else {
            target = color ? FStartColor : FStartSize;
        }
    }

    // The run, then a changeable field; the first field gets the cursor at the end.
    bool InsertField(const std::string& run, std::string_view rest)
    {
        FEngine.SetSelText(ToUnicode(run));
        FEngine.SetSelLength(0);
        const TResult<int> field = FEngine.InsertField(QStringLiteral(" "));
        if (!field)
            return false;
        if (FFirstField == 0)
            FFirstField = *field;
        // The field was just made and is the current one.
        static_cast<void>(FEngine.SetFieldKind(*field, 20));
        static_cast<void>(FEngine.SetFieldChangeable(true));
        FEngine.SetSelLength(0);
        if (rest.empty())
            FEngine.SetSelText(QStringLiteral(" "));
        return true;
    }

    DocumentEngine& FEngine;
    const int FStartColor;
    const int FStartSize;
    bool FBold = false, FItalic = false, FUnderline = false;
    bool FColorSet = false, FSizeSet = false, FFontSet = false;
    int FColor;
    int FSize;
    QString FFont;
    int FFirstField = 0;
};

}  // namespace

bool RenderResultText(DocumentEngine& engine, std::string_view text, std::string_view fontName,
                      std::string_view sizeText)
{
    engine.SetFontName(fontName.empty() ? QStringLiteral("Courier New") : ToUnicode(fontName));
    SetSizeSafely(engine, TryStrToInt(sizeText).value_or(10));
    return TResultTextRenderer(engine).Render(text);
}
