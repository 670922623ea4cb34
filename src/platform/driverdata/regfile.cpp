#include "platform/driverdata/regfile.h"

#include "util/codepage.h"

#include <QStringList>

#include <optional>
#include <string>

namespace {

constexpr const char* kHeader4 = "REGEDIT4";
constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";

QString Folded(const QString& name)
{
    return name.toCaseFolded();
}

// The file's text, and whether it was UTF-16 (a Unicode export).
struct TDecoded {
    QString Text;
    bool Utf16 = false;
};

TDecoded DecodeFile(const QByteArray& bytes)
{
    const bool utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                       static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (utf16)
        return {QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2),
                true};
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {QString::fromUtf8(bytes.mid(3))};
    return {ToUnicode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())))};
}

// The format a header line names; none for any other line.
std::optional<TRegFile::TFormat> FormatOf(const QString& header, bool utf16)
{
    if (header == QLatin1String(kHeader4))
        return utf16 ? TRegFile::TFormat::Version5 : TRegFile::TFormat::Regedit4;
    if (header == QLatin1String(kHeader5))
        return TRegFile::TFormat::Version5;
    return std::nullopt;
}

// A quoted name or string, and where the line goes on after it.
struct TQuoted {
    QString Text;
    qsizetype End = 0;  // just after the closing quote
};

// The quoted text from position at (the opening quote); \\ and \" are the
// only escapes. None when the closing quote is missing.
std::optional<TQuoted> ReadQuoted(const QString& line, qsizetype at)
{
    QString out;
    for (qsizetype i = at + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'\\' && i + 1 < line.size()) {
            out += line[++i];
        } else if (c == u'"') {
            return TQuoted {out, i + 1};
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

QString Quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    return out + u'"';
}

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

std::optional<quint32> ParseHexNumber(QStringView text, int maxDigits)
{
    const QString t = text.trimmed().toString();
    if (t.isEmpty() || t.size() > maxDigits)
        return std::nullopt;
    quint32 out = 0;
    for (const QChar c : t) {
        const int d = HexDigit(c);
        if (d < 0)
            return std::nullopt;
        out = out * 16 + static_cast<quint32>(d);
    }
    return out;
}

// "01,ff, 2a"; none when a byte is not two hex digits at most.
std::optional<QByteArray> ParseHexBytes(QStringView text)
{
    QByteArray out;
    const QString trimmed = text.trimmed().toString();
    if (trimmed.isEmpty())
        return out;
    for (const QString& token : trimmed.split(u',')) {
        const std::optional<quint32> value = ParseHexNumber(token, 2);
        if (!value)
            return std::nullopt;
        out += static_cast<char>(*value);
    }
    return out;
}

// What a value line says: the value, or that the value of its name goes.
struct TValueLine {
    TRegValue Value;
    bool Remove = false;
};

// The data part of a value line; none when it is not a known form.
std::optional<TValueLine> ParseData(QStringView data)
{
    TValueLine parsed;
    TRegValue& value = parsed.Value;
    if (data == u"-") {
        parsed.Remove = true;
        return parsed;
    }
    if (data.startsWith(u'"')) {
        const QString line = data.toString();
        const std::optional<TQuoted> text = ReadQuoted(line, 0);
        if (!text || !line.mid(text->End).trimmed().isEmpty())
            return std::nullopt;
        value.Type = REG_SZ;
        value.Text = text->Text;
        return parsed;
    }
    if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
        const std::optional<quint32> number = ParseHexNumber(data.mid(6), 8);
        if (!number)
            return std::nullopt;
        value.Type = REG_DWORD;
        value.Data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            value.Data[i] = static_cast<char>((*number >> (8 * i)) & 0xFF);
        return parsed;
    }
    std::optional<QByteArray> bytes;
    if (data.startsWith(u"hex:", Qt::CaseInsensitive)) {
        value.Type = REG_BINARY;
        bytes = ParseHexBytes(data.mid(4));
    } else if (data.startsWith(u"hex(", Qt::CaseInsensitive)) {
        const qsizetype close = data.indexOf(u"):");
        const std::optional<quint32> type = close < 0 ? std::nullopt : ParseHexNumber(data.mid(4, close - 4), 8);
        if (!type)
            return std::nullopt;
        value.Type = static_cast<int>(*type);
        bytes = ParseHexBytes(data.mid(close + 2));
    }
    if (!bytes)
        return std::nullopt;
    value.Data = *bytes;
    return parsed;
}

// A value line ("name"=data or @=data); none when it cannot be read.
std::optional<TValueLine> ParseValueLine(const QString& line)
{
    QString name;
    qsizetype at = 0;
    if (line.startsWith(u'@')) {
        at = 1;
    } else if (line.startsWith(u'"')) {
        const std::optional<TQuoted> quoted = ReadQuoted(line, 0);
        if (!quoted)
            return std::nullopt;
        name = quoted->Text;
        at = quoted->End;
    } else {
        return std::nullopt;
    }
    const QStringView rest = QStringView(line).mid(at).trimmed();
    if (!rest.startsWith(u'='))
        return std::nullopt;
    std::optional<TValueLine> parsed = ParseData(rest.mid(1).trimmed());
    if (parsed)
        parsed->Value.Name = name;
    return parsed;
}

}  // namespace

const TRegValue* TRegKey::Find(const QString& name) const
{
    const auto it = FIndex.constFind(Folded(name));
    return it == FIndex.constEnd() ? nullptr : &FValues[*it];
}

void TRegKey::Set(TRegValue value)
{
    const QString key = Folded(value.Name);
    if (const auto it = FIndex.constFind(key); it != FIndex.constEnd()) {
        FValues[*it] = std::move(value);
        return;
    }
    FIndex.insert(key, FValues.size());
    FValues.push_back(std::move(value));
}

void TRegKey::Remove(const QString& name)
{
    const auto it = FIndex.constFind(Folded(name));
    if (it == FIndex.constEnd())
        return;
    FValues.erase(FValues.begin() + static_cast<std::ptrdiff_t>(*it));
    FIndex.clear();
    for (std::size_t i = 0; i < FValues.size(); ++i)
        FIndex.insert(Folded(FValues[i].Name), i);
}

const TRegKey* TRegFile::FindKey(const QString& path) const
{
    const auto it = FIndex.constFind(Folded(path));
    return it == FIndex.constEnd() ? nullptr : &FKeys[*it];
}

TRegKey* TRegFile::FindKey(const QString& path)
{
    const auto it = FIndex.constFind(Folded(path));
    return it == FIndex.constEnd() ? nullptr : &FKeys[*it];
}

TRegKey& TRegFile::AddKey(const QString& path)
{
    if (TRegKey* key = FindKey(path))
        return *key;
    FIndex.insert(Folded(path), FKeys.size());
    FKeys.emplace_back(path);
    return FKeys.back();
}

void TRegFile::RemoveKey(const QString& path)
{
    // Deleting a key deletes its sub-keys too.
    const QString folded = Folded(path);
    const QString prefix = folded + u'\\';
    std::erase_if(FKeys, [&](const TRegKey& key) {
        const QString k = Folded(key.Path);
        return k == folded || k.startsWith(prefix);
    });
    FIndex.clear();
    for (std::size_t i = 0; i < FKeys.size(); ++i)
        FIndex.insert(Folded(FKeys[i].Path), i);
}

TOutcome TRegFile::Parse(const QByteArray& bytes)
{
    FKeys.clear();
    FIndex.clear();
    FSkipped = 0;
    FFirstSkipped = 0;
    if (bytes.size() > kMaxFileBytes)
        return Fail("the file is larger than " + std::to_string(kMaxFileBytes) + " bytes");
    const TDecoded decoded = DecodeFile(bytes);
    const QStringList lines = decoded.Text.split(u'\n');
    qsizetype i = 0;
    while (i < lines.size() && lines[i].trimmed().isEmpty())
        ++i;
    const std::optional<TFormat> format = FormatOf(i < lines.size() ? lines[i].trimmed() : QString(), decoded.Utf16);
    if (!format)
        return Fail(std::string("the file does not begin with \"") + kHeader4 + "\" or \"" + kHeader5 + "\"");
    Format = *format;
    ParseBody(lines, i + 1);
    return TOutcome::Done();
}

void TRegFile::ParseBody(const QStringList& lines, qsizetype first)
{
    TRegKey* current = nullptr;
    for (qsizetype i = first; i < lines.size(); ++i) {
        QString line = lines[i].trimmed();
        const qsizetype lineNumber = i + 1;
        // Long binary values go on over lines that end in a backslash.
        while (line.endsWith(u'\\') && i + 1 < lines.size() && !line.startsWith(u'[')) {
            line.chop(1);
            line += lines[++i].trimmed();
        }
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            current = KeyLine(line, lineNumber);
            continue;
        }
        std::optional<TValueLine> value = current ? ParseValueLine(line) : std::nullopt;
        if (!value)
            SkipLine(lineNumber);
        else if (value->Remove)
            current->Remove(value->Value.Name);
        else
            current->Set(std::move(value->Value));
    }
}

TRegKey* TRegFile::KeyLine(const QString& line, qsizetype lineNumber)
{
    const qsizetype close = line.lastIndexOf(u']');
    if (close < 0) {
        SkipLine(lineNumber);
        return nullptr;
    }
    const QString path = line.mid(1, close - 1).trimmed();
    if (path.startsWith(u'-')) {
        RemoveKey(path.mid(1));
        return nullptr;
    }
    return &AddKey(path);
}

void TRegFile::SkipLine(qsizetype lineNumber)
{
    if (FSkipped++ == 0)
        FFirstSkipped = lineNumber;
}

QByteArray TRegFile::Serialize() const
{
    QString out = QLatin1String(Format == TFormat::Version5 ? kHeader5 : kHeader4) + QStringLiteral("\r\n\r\n");
    for (const TRegKey& key : FKeys) {
        out += u'[' + key.Path + QStringLiteral("]\r\n");
        for (const TRegValue& v : key.Values()) {
            QString line = v.Name.isEmpty() ? QStringLiteral("@=") : Quoted(v.Name) + u'=';
            if (v.Type == REG_SZ) {
                out += line + Quoted(v.Text) + QStringLiteral("\r\n");
                continue;
            }
            if (v.Type == REG_DWORD && v.Data.size() == 4) {
                quint32 number = 0;
                for (int i = 3; i >= 0; --i)
                    number = (number << 8) | static_cast<unsigned char>(v.Data[i]);
                out += line + QStringLiteral("dword:%1\r\n").arg(number, 8, 16, QLatin1Char('0'));
                continue;
            }
            line += v.Type == REG_BINARY ? QStringLiteral("hex:") : QStringLiteral("hex(%1):").arg(v.Type, 0, 16);
            // Lines wrap as regedit wraps them: a comma, a backslash, two blanks.
            for (qsizetype i = 0; i < v.Data.size(); ++i) {
                line += QStringLiteral("%1").arg(static_cast<unsigned char>(v.Data[i]), 2, 16, QLatin1Char('0'));
                if (i + 1 < v.Data.size()) {
                    line += u',';
                    if (line.size() > 75) {
                        out += line + QStringLiteral("\\\r\n");
                        line = QStringLiteral("  ");
                    }
                }
            }
            out += line + QStringLiteral("\r\n");
        }
        out += QStringLiteral("\r\n");
    }
    if (Format == TFormat::Regedit4) {
        const std::string bytes = FromUnicode(out);
        return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(out.utf16()), out.size() * 2);
    return bytes;
}
