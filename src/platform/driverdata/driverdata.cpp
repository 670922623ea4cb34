#include "platform/driverdata/driverdata.h"

#include "util/codepage.h"
#include "util/fileutil.h"

namespace {

const QString kRoot = QStringLiteral("HKEY_LOCAL_MACHINE\\");

}  // namespace

std::string TDriverData::DriverDataKey(std::string_view printer)
{
    return "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\" + std::string(printer) + "\\PrinterDriverData";
}

TOutcome TDriverData::OpenKey(std::string_view keyPath)
{
    FKeyPath.clear();
    const TResult<std::string> bytes = ReadFileBytes(FPath, TRegFile::kMaxFileBytes);
    if (!bytes)
        return Fail(FileExists(FPath) ? "cannot read " + FPath : FPath + " does not exist");
    if (const TOutcome parsed = FFile.Parse(QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()))); !parsed)
        return Fail(FPath + ": " + parsed.Reason());
    const QString path = kRoot + ToUnicode(keyPath);
    if (!FFile.FindKey(path))
        return Fail("no key [" + FromUnicode(path) + "] in " + FPath);
    FKeyPath = path;
    return TOutcome::Done();
}

const TRegValue* TDriverData::Find(std::string_view name) const
{
    const TRegKey* key = FKeyPath.isEmpty() ? nullptr : FFile.FindKey(FKeyPath);
    return key ? key->Find(ToUnicode(name)) : nullptr;
}

TDriverData::TRead TDriverData::ReadText(std::string_view name, std::string& out) const
{
    out.clear();
    const TRegValue* value = Find(name);
    if (!value)
        return TRead::Missing;
    if (value->Type == REG_SZ) {
        out = FromUnicode(value->Text);
        return TRead::Ok;
    }
    if (value->Type != REG_EXPAND_SZ)
        return TRead::WrongType;
    // Expandable text is kept as bytes: UTF-16LE in Unicode exports, the code
    // page in REGEDIT4 ones, each ending in a zero.
    QString text;
    if (FFile.Format == TRegFile::TFormat::Version5)
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(value->Data.constData()), value->Data.size() / 2);
    else
        text = ToUnicode(std::string_view(value->Data.constData(), static_cast<std::size_t>(value->Data.size())));
    while (text.endsWith(QChar(u'\0')))
        text.chop(1);
    out = FromUnicode(text);
    return TRead::Ok;
}

bool TDriverData::ValueExists(std::string_view name) const
{
    return Find(name) != nullptr;
}

TDriverData::TRead TDriverData::ReadBinary(std::string_view name, std::string& out, std::size_t maxBytes) const
{
    out.clear();
    const TRegValue* value = Find(name);
    if (!value)
        return TRead::Missing;
    if (value->Type != REG_BINARY)
        return TRead::WrongType;
    if (static_cast<std::size_t>(value->Data.size()) > maxBytes)
        return TRead::TooLong;
    out.assign(value->Data.constData(), static_cast<std::size_t>(value->Data.size()));
    return TRead::Ok;
}

TOutcome TDriverData::WriteBinary(std::string_view name, std::string_view bytes)
{
    TRegKey* key = FKeyPath.isEmpty() ? nullptr : FFile.FindKey(FKeyPath);
    if (!key)
        return Fail("no key is open");
    // Rewriting would drop the lines that could not be read.
    if (FFile.SkippedLines() > 0)
        return Fail(FPath + " has " + std::to_string(FFile.SkippedLines()) + " unreadable line(s), the first is line " +
                    std::to_string(FFile.FirstSkippedLine()) + "; it is left unchanged");
    TRegValue value;
    value.Name = ToUnicode(name);
    value.Type = REG_BINARY;
    value.Data = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    key->Set(std::move(value));
    const QByteArray file = FFile.Serialize();
    const TOutcome written =
        WriteFileAtomic(FPath, std::string_view(file.constData(), static_cast<std::size_t>(file.size())));
    if (!written)
        return Fail(FPath + ": " + written.Reason());
    return TOutcome::Done();
}
