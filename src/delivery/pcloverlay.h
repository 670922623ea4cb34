// PCL 5 overlays on printer files: a macro call in front of the fixed
// cursor-positioning mark, or an overlay printer file merged with the job's
// page. Byte-exact. A failed step says which file it could not open or
// found empty (final: no retry fills it); it is shown as "ERROR: " and the
// reason. The prepared copy is written whole or not at all (a full folder
// is an outage).
#pragma once

#include "util/result.h"

#include <string>
#include <string_view>

// The cursor-positioning sequence a macro call is put in front of.
inline constexpr std::string_view kOverlayInsertionMark = "\x1b*p6815Y";

TOutcome InsertMacroCall(const std::string& source, const std::string& destination, const std::string& number);
TOutcome MergeOverlayFile(const std::string& job, const std::string& destination, const std::string& overlay);

// The parts of a one-page PCL file.
std::string OverlayHead(std::string_view s);
std::string PageBody(std::string_view s);
std::string OverlayTail(std::string_view s);

// Why bytes are not a one-page PCL file a merge can use: empty when they
// start with an escape sequence and have a cursor home (ESC*p0x0Y or ESC*p0Y)
// with a page end (FF ESC E or FF ESC%-12345X) after it.
std::string NotAMergeablePage(std::string_view s);

// On byte strings: the macro call inserted as the file route does it.
std::string InsertMacroCallBytes(std::string_view source, const std::string& number);
