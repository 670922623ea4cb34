// tags.txt: lines "key|name[|…]" through which templates address values by
// number. Held as TagList by the window, loaded into the record per job.
#pragma once

#include "request/reportrecord.h"
#include "util/logger.h"

#include <cstdint>
#include <string>
#include <vector>

// The warning of a tag file that cannot be read.
inline constexpr const char* kTagFileMissing = "Warning!! The \"TAG\" file is missing.";

// Reads the tag file into tagList, empties the record's values and loads the
// tags. When the file cannot be read, logs the warning and changes nothing.
bool LoadTagFile(const std::string& path, std::vector<std::string>& tagList, TReportRecord& record, TLogger& log);

// The record made ready for the next request: the tag file read anew (a
// missing one is logged and the last list kept), every field reset; false
// when the tag file could not be read.
bool ResetRecord(const std::string& tagsPath, std::vector<std::string>& tagList, TReportRecord& record, TLogger& log);
// A request's text parsed into the record, and the job's slots filled.
void ParseIntoRecord(TReportRecord& record, std::string_view text);

// A request file as the spool intake reads it: its lines joined with nothing
// between them. false when unreadable or larger than the bound.
bool ReadRequestText(const std::string& path, std::string& text, std::uint64_t maxBytes);
// The same from the file's bytes.
std::string JoinRequestLines(std::string_view bytes);
