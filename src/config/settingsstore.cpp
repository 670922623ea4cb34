#include "config/settingsstore.h"

#include "util/fileutil.h"
#include "util/textutil.h"

TOutcome TSettings::LoadFromFile(const std::string& path)
{
    const TResult<std::string> read = ReadFileBytes(path, kMaxFileBytes);
    if (!read)
        return read.Failure();
    const std::string& bytes = *read;
    FCrLf = bytes.find('\n') == std::string::npos || bytes.find("\r\n") != std::string::npos;
    FLines = SplitLines(bytes);
    return TOutcome::Done();
}

TOutcome TSettings::SaveToFile(const std::string& path) const
{
    const char* eol = FCrLf ? "\r\n" : "\n";
    std::string bytes;
    for (const std::string& line : FLines)
        bytes += line + eol;
    return WriteFileAtomic(path, bytes);
}

int TSettings::IndexOfName(std::string_view name) const
{
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        const auto eq = FLines[i].find('=');
        if (eq != std::string::npos && SameText(std::string_view(FLines[i]).substr(0, eq), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::string TSettings::Value(std::string_view name) const
{
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : TextAfter(FLines[static_cast<std::size_t>(i)], "=");
}

void TSettings::SetValue(std::string_view name, std::string_view value)
{
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0)
            FLines.erase(FLines.begin() + i);
        return;
    }
    std::string line = std::string(name) + "=" + std::string(value);
    if (i >= 0)
        FLines[static_cast<std::size_t>(i)] = std::move(line);
    else
        FLines.push_back(std::move(line));
}
