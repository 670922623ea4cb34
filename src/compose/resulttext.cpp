#include "compose/resulttext.h"

#include "util/codepage.h"
#include "util/textutil.h"

#include <cstdint>
#include <optional>
#include <vector>

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

// A size the engine takes; another leaves the size in force.
bool SizeFits(int points)
{
    return points > 0 && points <= DocumentEngine::kMaxFontSize;
}

// The runs of a result text: the markup's running state makes the change of
// look before each run of text.
class TResultTextRuns {
public:
    // The colour and size the text starts with.
    TResultTextRuns(int color, int size)
        : FStartColor(color), FStartSize(size), FColor(color), FSize(size), FSizeInForce(size)
    {
    }

    std::vector<TTextRun> Runs(std::string_view text)
    {
        std::vector<TTextRun> runs;
        std::string_view rest = text;
        do {
            TTextRun run {State()};
            const auto at = rest.find_first_of(kMarkup);
            std::string chars(rest.substr(0, at));
            const char mark = at == std::string_view::npos ? '\0' : rest[at];
            rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
            if (mark == '`') {
                // The run, then a changeable field.
                runs.push_back({run.Change, ToUnicode(chars), true});
                if (rest.empty())
                    runs.push_back({{}, QStringLiteral(" ")});
                continue;
            }
            Mark(static_cast<unsigned char>(mark), chars, rest, run.Change);
            run.Text = ToUnicode(chars);
            runs.push_back(std::move(run));
        } while (!rest.empty());
        return runs;
    }

private:
    // The state as the change before the next run.
    TTextLook State()
    {
        TTextLook change {.Bold = FBold, .Italic = FItalic, .Underline = FUnderline};
        if (FColorSet)
            change.Color = FColor;
        if (FFontSet)
            change.Font = FFont;
        if (FSizeSet)
            SetSize(FSize, change);
        return change;
    }

    // A size the engine cannot take leaves the size in force.
    void SetSize(int size, TTextLook& change)
    {
        if (!SizeFits(size))
            return;
        change.Size = size;
        FSizeInForce = size;
    }

    // A mark's effect on the state, on the run it ends or on that run's look.
    void Mark(unsigned char mark, std::string& run, std::string_view& rest, TTextLook& change)
    {
        switch (mark) {
        case '[': SetSize(FSizeInForce - 1, change); break;
        case ']': SetSize(FSizeInForce + 1, change); break;
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

    const int FStartColor;
    const int FStartSize;
    bool FBold = false, FItalic = false, FUnderline = false;
    bool FColorSet = false, FSizeSet = false, FFontSet = false;
    int FColor;
    int FSize;
    int FSizeInForce;  // as the engine has it, for the marks that step it
    QString FFont;
};

}  // namespace

bool RenderResultText(DocumentEngine& engine, int part, int start, int length, std::string_view text,
                      std::string_view fontName, std::string_view sizeText)
{
    const TTextLook base {.Font = fontName.empty() ? QStringLiteral("Courier New") : ToUnicode(fontName),
                          .Size = TryStrToInt(sizeText).value_or(10)};
    const TTextLook there = engine.LookAt(part, start);
    TResultTextRuns runs(there.Color.value_or(0), SizeFits(*base.Size) ? *base.Size : there.Size.value_or(10));
    return engine.WriteRuns(part, start, length, base, runs.Runs(text));
}
