// Small measuring helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The process's resident memory in kilobytes.
inline long RssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}
