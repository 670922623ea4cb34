#include "platform/driverdata/regfile.h"

#include "util/codepage.h"

#include <QStringList>

namespace {

constexpr const char* kHeader4 = "REGEDIT4";
constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";

QString Folded(const QString& name)
{
    return name.toCaseFolded();
}

QString DecodeFile(const QByteArray& bytes, bool& utf16)
{
    utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
            static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (utf16)
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2), (bytes.size() - 2) / 2);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return ToUnicode(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// A quoted name or string from position at (the opening quote); \\ and \"
// are the only escapes. false when the closing quote is missing.
bool ReadQuoted(const QString& line, qsizetype& at, QString& out)
{
    out.clear();
    for (qsizetype i = at + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'\\' && i + 1 < line.size()) {
            out += line[++i];
        } else if (c == u'"') {
            at = i + 1;
            return true;
        } else {
            out += c;
        }
    }
    return false;
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

// "01,ff, 2a": false when a byte is not two hex digits at most.
bool ParseHexBytes(QStringView text, QByteArray& out)
{
    out.clear();
    const QString trimmed = text.trimmed().toString();
    if (trimmed.isEmpty())
        return true;
    for (const QString& token : trimmed.split(u',')) {
        const QString t = token.trimmed();
        if (t.isEmpty() || t.size() > 2)
            return false;
        int value = 0;
        for (const QChar c : t) {
            const int d = HexDigit(c);
            if (d < 0)
                return false;
            value = value * 16 + d;
        }
        out += static_cast<char>(value);
    }
    return true;
}

bool ParseHexNumber(QStringView text, quint32& out, int maxDigits)
{
    const QString t = text.trimmed().toString();
    if (t.isEmpty() || t.size() > maxDigits)
        return false;
    out = 0;
    for (const QChar c : t) {
        const int d = HexDigit(c);
        if (d < 0)
            return false;
        out = out * 16 + static_cast<quint32>(d);
    }
    return true;
}

// The data part of a value line; false when it is not a known form.
bool ParseData(QStringView data, TRegValue& value, bool& remove)
{
    remove = false;
    if (data == u"-") {
        remove = true;
        return true;
    }
    if (data.startsWith(u'"')) {
        const QString line = data.toString();
        qsizetype at = 0;
        value.Type = REG_SZ;
        return ReadQuoted(line, at, value.Text) && line.mid(at).trimmed().isEmpty();
    }
    if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
        quint32 number = 0;
        if (!ParseHexNumber(data.mid(6), number, 8))
            return false;
        value.Type = REG_DWORD;
        value.Data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            value.Data[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
        return true;
    }
    if (data.startsWith(u"hex:", Qt::CaseInsensitive)) {
        value.Type = REG_BINARY;
        return ParseHexBytes(data.mid(4), value.Data);
    }
    if (data.startsWith(u"hex(", Qt::CaseInsensitive)) {
        const qsizetype close = data.indexOf(u"):");
        quint32 type = 0;
        if (close < 0 || !ParseHexNumber(data.mid(4, close - 4), type, 8))
            return false;
        value.Type = static_cast<int>(type);
        return ParseHexBytes(data.mid(close + 2), value.Data);
    }
    return false;
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

bool TRegFile::Parse(const QByteArray& bytes, QString* error)
{
    FKeys.clear();
    FIndex.clear();
    FSkipped = 0;
    FFirstSkipped = 0;
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (bytes.size() > kMaxFileBytes)
        return fail(QStringLiteral("the file is larger than %1 bytes").arg(kMaxFileBytes));
    bool utf16 = false;
    const QString text = DecodeFile(bytes, utf16);
    const QStringList lines = text.split(u'\n');

    qsizetype i = 0;
    while (i < lines.size() && lines[i].trimmed().isEmpty())
        ++i;
    const QString header = i < lines.size() ? lines[i].trimmed() : QString();
    if (header == QLatin1String(kHeader4))
        Format = utf16 ? TFormat::Version5 : TFormat::Regedit4;
    else if (header == QLatin1String(kHeader5))
        Format = TFormat::Version5;
    else
        return fail(QStringLiteral("the file does not begin with \"%1\" or \"%2\"").arg(kHeader4, kHeader5));

    TRegKey* current = nullptr;
    auto skip = [this](qsizetype lineNumber) {
        if (FSkipped++ == 0)
            FFirstSkipped = lineNumber;
    };
    for (++i; i < lines.size(); ++i) {
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
            const qsizetype close = line.lastIndexOf(u']');
            if (close < 0) {
                current = nullptr;
                skip(lineNumber);
                continue;
            }
            const QString path = line.mid(1, close - 1).trimmed();
            if (path.startsWith(u'-')) {
                RemoveKey(path.mid(1));
                current = nullptr;
            } else {
                current = &AddKey(path);
            }
            continue;
        }
        TRegValue value;
        qsizetype at = 0;
        bool ok = current != nullptr;
        if (ok && line.startsWith(u'@')) {
            at = 1;
        } else if (ok && line.startsWith(u'"')) {
            ok = ReadQuoted(line, at, value.Name);
        } else {
            ok = false;
        }
        bool remove = false;
        if (ok) {
            const QStringView rest = QStringView(line).mid(at).trimmed();
            ok = rest.startsWith(u'=') && ParseData(rest.mid(1).trimmed(), value, remove);
        }
        if (!ok) {
            skip(lineNumber);
            continue;
        }
        if (remove)
            current->Remove(value.Name);
        else
            current->Set(std::move(value));
    }
    return true;
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
