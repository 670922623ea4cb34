#include "request/tagfile.h"

#include "util/fileutil.h"

namespace {

constexpr std::uint64_t kMaxTagFileBytes = 4 * 1024 * 1024;

}  // namespace

std::string JoinRequestLines(std::string_view bytes)
{
    // A line ends at CR LF or LF; a lone CR stays in the text (values drop it).
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            continue;
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        text += bytes[i];
    }
    return text;
}

bool ReadRequestText(const std::string& path, std::string& text, std::uint64_t maxBytes)
{
    const TResult<std::string> read = ReadFileBytes(path, maxBytes);
    if (!read)
        return false;
    text = JoinRequestLines(*read);
    return true;
}

bool LoadTagFile(const std::string& path, std::vector<std::string>& tagList, TReportRecord& record, TLogger& log)
{
    TResult<std::vector<std::string>> lines = ReadTextLines(path, kMaxTagFileBytes);
    if (!lines) {
        log.logwarning(kTagFileMissing);
        return false;
    }
    tagList = std::move(lines).Value();
    record.ClearValues();
    record.LoadTags(tagList);
    return true;
}

bool ResetRecord(const std::string& tagsPath, std::vector<std::string>& tagList, TReportRecord& record, TLogger& log)
{
    const bool loaded = LoadTagFile(tagsPath, tagList, record, log);
    record.ResetFields();
    return loaded;
}

void ParseIntoRecord(TReportRecord& record, std::string_view text)
{
    record.ParseRequest(text);
    record.FillJobSlots();
}
