// libFuzzer: any byte sequence parses without crash, hang or runaway memory.
#include "request/reportrecord.h"
#include "util/textutil.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TReportRecord record;
    // Graph values are taken apart as the drawer would, without writing files.
    record.DrawDynamicRange = [](std::string_view value) {
        for (int n = 1; n <= 5; ++n)
            (void)TryStrToInt(Trim(NthField(value, ',', n)));
    };
    std::vector<std::string> tags;
    std::size_t start = 0;
    while (start < text.size() && tags.size() < 64) {
        const auto end = text.find('\n', start);
        tags.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        start = end == std::string_view::npos ? text.size() : end + 1;
    }
    record.LoadTags(tags);
    record.ResetFields();
    record.ParseRequest(text);
    record.FillJobSlots();
    (void)record.GetValue(text.substr(0, 16));
    return 0;
}
