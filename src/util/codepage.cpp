#include "util/codepage.h"

#include <QByteArrayView>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

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

bool IsUtf8(std::string_view bytes)
{
    return QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())).isValidUtf8();
}

std::string NativePath(std::string_view systemPath)
{
    if (IsAscii(systemPath))
        return std::string(systemPath);
    std::string utf8 = ToUnicode(systemPath).toStdString();
    // A name written in Windows-1252 bytes (a Windows share writes them so)
    // is found by those bytes when no file is spelled in UTF-8: the listing
    // read it as system text, and its bytes are that text.
    const std::size_t slash = systemPath.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? systemPath : systemPath.substr(slash + 1);
    if (IsAscii(name) || IsUtf8(name))
        return utf8;
    struct stat st {};
    if (::lstat(utf8.c_str(), &st) == 0 || errno != ENOENT)
        return utf8;
    std::string raw = slash == std::string_view::npos ? std::string() : NativePath(systemPath.substr(0, slash + 1));
    raw += name;
    return ::lstat(raw.c_str(), &st) == 0 ? raw : utf8;
}

std::string SystemName(std::string_view nativeName)
{
    if (IsAscii(nativeName))
        return std::string(nativeName);
    // Bytes that are not UTF-8 are Windows-1252 already.
    if (!IsUtf8(nativeName))
        return std::string(nativeName);
    return FromUnicode(QString::fromUtf8(nativeName.data(), static_cast<qsizetype>(nativeName.size())));
}

bool ReadableName(std::string_view nativeName)
{
    if (IsAscii(nativeName) || !IsUtf8(nativeName))
        return true;
    return ToUnicode(SystemName(nativeName)).toStdString() == nativeName;
}
