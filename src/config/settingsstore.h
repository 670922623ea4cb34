// printserver.inf: ordered NAME=VALUE lines, looked up without regard to case
// and written back whole, with the line ends the file had.
#pragma once

#include "util/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TSettings {
public:
    static constexpr std::uint64_t kMaxFileBytes = 4 * 1024 * 1024;

    // Fails when the file is missing, unreadable or absurdly large.
    TOutcome LoadFromFile(const std::string& path);
    TOutcome SaveToFile(const std::string& path) const;

    std::string Value(std::string_view name) const;
    // Replaces the first line of that name in place, or appends; an empty
    // value removes the line.
    void SetValue(std::string_view name, std::string_view value);
    int IndexOfName(std::string_view name) const;

    const std::vector<std::string>& Lines() const { return FLines; }
    void SetLines(std::vector<std::string> lines) { FLines = std::move(lines); }
    void Clear() { FLines.clear(); }

private:
    std::vector<std::string> FLines;
    bool FCrLf = true;  // a new file gets CR LF
};
