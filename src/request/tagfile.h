// tags.txt: lines "key|name[|…]" through which templates address values by
// number. Held as TagList by the window, loaded into the record per job.
#pragma once

#include "request/reportrecord.h"
#include "util/logger.h"

#include <cstdint>
#include <string>
#include <vector>

// Reads the tag file into tagList, empties the record's values and loads the
// tags. When the file cannot be read, logs the warning and changes nothing.
bool LoadTagFile(const std::string& path, std::vector<std::string>& tagList, TReportRecord& record, TLogger& log);

// A request file as the spool intake reads it: its lines joined with nothing
// between them. false when unreadable or larger than the bound.
bool ReadRequestText(const std::string& path, std::string& text, std::uint64_t maxBytes);
