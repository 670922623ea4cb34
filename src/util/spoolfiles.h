// Listings of waiting files as "name;size" entries, sorted without regard to
// case: the spool directory's and the LPR queue's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A request larger than this is not a request: it is never read whole.
constexpr unsigned long long kMaxRequestBytes = 256ull * 1024 * 1024;

// At most this many files are listed per call, directories skipped.
constexpr int kMaxListedFiles = 100;

// A name that cannot be opened by its system text (UTF-8 with characters
// outside Windows-1252) is not listed; it goes into unreadable, as far as
// it can be shown.
int AppendSpoolFiles(std::string_view mask, std::vector<std::string>& list,
                     std::vector<std::string>* unreadable = nullptr);
int ListSpoolFiles(std::string_view mask, std::vector<std::string>& list,
                   std::vector<std::string>* unreadable = nullptr);
