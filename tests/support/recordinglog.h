// A logger that keeps every line, for tests that check what was logged.
#pragma once

#include "util/logger.h"

#include <algorithm>
#include <string>
#include <vector>

struct TRecordingLog : TLogger {
    std::vector<std::string> Lines;
    void loginfo(std::string_view message) override { Lines.emplace_back(message); }
    int Count(const std::string& line) const { return static_cast<int>(std::count(Lines.begin(), Lines.end(), line)); }
    bool Has(const std::string& line) const { return Count(line) > 0; }
    // Lines that begin with the text.
    int CountStarting(const std::string& text) const
    {
        return static_cast<int>(
            std::count_if(Lines.begin(), Lines.end(), [&](const std::string& line) { return line.rfind(text, 0) == 0; }));
    }
};
