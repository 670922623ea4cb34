// One image to place in a report: from an IMAGEBOX field of the request or
// found in a template. Positions in twips, scales in percent.
#pragma once

#include "util/imageplacement.h"

#include <cstdint>
#include <string>
#include <vector>

struct TImageRecord : TImagePlacement {
    std::string FileName;
    std::int32_t TargetWidth = 0;   // wanted pixel size; 0 = not given
    std::int32_t TargetHeight = 0;
    bool FromRequest = false;

    bool operator==(const TImageRecord&) const = default;
};

using TImageRecordArray = std::vector<TImageRecord>;

// An IMAGEBOX value: file, x and y in points, scales, target pixel size.
TImageRecord ImageBoxRecord(std::string_view value);
