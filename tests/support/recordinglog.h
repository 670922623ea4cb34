// A logger that keeps every line, for tests that check what was logged.
#pragma once

#include "util/logger.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

struct TRecordingLog : TLogger {
    std::vector<std::string> Lines;
    std::vector<TSeverity> Severities;  // of each line
    void logline(TSeverity severity, std::string_view message) override
    {
        Lines.emplace_back(message);
        Severities.push_back(severity);
    }
    void Clear()
    {
        Lines.clear();
        Severities.clear();
    }
    // The severity of the first line that begins with the text; none when no line does.
    std::optional<TSeverity> SeverityOf(const std::string& text) const
    {
        const auto at =
            std::find_if(Lines.begin(), Lines.end(), [&](const std::string& line) { return line.rfind(text, 0) == 0; });
        if (at == Lines.end())
            return std::nullopt;
        return Severities[static_cast<std::size_t>(at - Lines.begin())];
    }
    int Count(const std::string& line) const { return static_cast<int>(std::count(Lines.begin(), Lines.end(), line)); }
    bool Has(const std::string& line) const { return Count(line) > 0; }
    // Lines that begin with the text.
    int CountStarting(const std::string& text) const
    {
        return static_cast<int>(
            std::count_if(Lines.begin(), Lines.end(), [&](const std::string& line) { return line.rfind(text, 0) == 0; }));
    }
};
