// Listings of waiting files as "name;size" entries, sorted without regard to
// case: the spool directory's and the LPR queue's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// At most this many files are listed per call, directories skipped.
constexpr int kMaxListedFiles = 100;

int AppendSpoolFiles(std::string_view mask, std::vector<std::string>& list);
int ListSpoolFiles(std::string_view mask, std::vector<std::string>& list);
