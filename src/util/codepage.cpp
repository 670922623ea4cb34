#include "util/codepage.h"

#include <algorithm>

namespace {

// Windows-1252 bytes 0x80..0x9F; the five unassigned ones keep their C1 code point.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t Decode(unsigned char b)
{
    return (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : static_cast<char16_t>(b);
}

char Encode(char16_t u)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return static_cast<char>(u);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == u)
            return static_cast<char>(0x80 + i);
    return '?';
}

}  // namespace

QString ToUnicode(std::string_view text)
{
    QString out;
    out.resize(static_cast<qsizetype>(text.size()));
    QChar* dst = out.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        dst[i] = QChar(Decode(static_cast<unsigned char>(text[i])));
    return out;
}

std::string FromUnicode(const QString& text)
{
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += '?';
            ++i;
            continue;
        }
        out += Encode(c.unicode());
    }
    return out;
}

namespace {

// ASCII reads the same in the code page and in UTF-8.
bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string NativePath(std::string_view systemPath)
{
    if (IsAscii(systemPath))
        return std::string(systemPath);
    return ToUnicode(systemPath).toStdString();
}

std::string SystemName(std::string_view nativeName)
{
    if (IsAscii(nativeName))
        return std::string(nativeName);
    return FromUnicode(QString::fromUtf8(nativeName.data(), static_cast<qsizetype>(nativeName.size())));
}
