#include "util/textutil.h"

#include <cstdint>
#include <climits>
#include <cstdio>

std::string TextBefore(std::string_view text, std::string_view delimiter)
{
    if (delimiter.empty())
        return std::string(text);
    const auto pos = text.find(delimiter);
    return std::string(pos == std::string_view::npos ? text : text.substr(0, pos));
}

std::string TextAfter(std::string_view text, std::string_view delimiter)
{
    if (delimiter.empty())
        return {};
    const auto pos = text.find(delimiter);
    if (pos == std::string_view::npos)
        return {};
    return std::string(text.substr(pos + delimiter.size()));
}

std::string TextBetween(std::string_view text, std::string_view first, std::string_view second)
{
    if (first.empty())
        return {};
    const auto pos = text.find(first);
    if (pos == std::string_view::npos)
        return {};
    const std::string_view rest = text.substr(pos + first.size());
    if (second.empty())
        return std::string(rest);
    const auto end = rest.find(second);
    return std::string(end == std::string_view::npos ? rest : rest.substr(0, end));
}

std::string NthField(std::string_view text, char separator, int n)
{
    if (separator == '\0' || text.empty() || n < 1)
        return {};
    std::size_t start = 0;
    for (int field = 1; field < n; ++field) {
        const auto pos = text.find(separator, start);
        if (pos == std::string_view::npos)
            return {};
        start = pos + 1;
    }
    const auto end = text.find(separator, start);
    return std::string(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

std::string RemoveChar(std::string_view text, char ch)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != ch)
            out += c;
    return out;
}

std::string RemoveChars(std::string_view text, std::string_view set)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (set.find(c) == std::string_view::npos)
            out += c;
    return out;
}

std::string Trim(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    return std::string(text.substr(b, e - b));
}

static char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string LowerCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

std::string UpperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiUpper(c);
    return out;
}

int CompareText(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && CompareText(a, b) == 0;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to)
{
    if (from.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        const auto pos = text.find(from, start);
        if (pos == std::string_view::npos)
            break;
        out.append(text.substr(start, pos - start));
        out.append(to);
        start = pos + from.size();
    }
    out.append(text.substr(start));
    return out;
}

std::optional<int> TryStrToInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    if (i >= text.size())
        return std::nullopt;
    std::uint64_t value = 0;
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > limit)
            return std::nullopt;
    }
    // Hex above 0x7FFFFFFF wraps into the negative range, as 32-bit registers do.
    const auto asInt = static_cast<std::int64_t>(base == 16 ? static_cast<std::int32_t>(static_cast<std::uint32_t>(value))
                                                            : static_cast<std::int64_t>(value));
    const std::int64_t result = negative ? -asInt : asInt;
    if (result < INT32_MIN || result > INT32_MAX)
        return std::nullopt;
    return static_cast<int>(result);
}

int StrToIntDef(std::string_view text, int fallback)
{
    return TryStrToInt(text).value_or(fallback);
}

std::string FormatCounter(unsigned value)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.4u", value);
    return buf;
}
