// Where a placed image goes on a report's page, as requests, templates and
// the document engine all describe it: its corner in twips, its scales in
// percent (0 reads as 100), two layout codes and four distances to the text.
#pragma once

#include <cstdint>

struct TImagePlacement {
    std::int32_t PosX = 0;
    std::int32_t PosY = 0;
    std::int32_t ScaleX = 0;
    std::int32_t ScaleY = 0;
    std::int32_t LayoutCodeA = 0;
    std::int32_t LayoutCodeB = 0;
    std::int32_t Distance1 = 0;
    std::int32_t Distance2 = 0;
    std::int32_t Distance3 = 0;
    std::int32_t Distance4 = 0;

    bool operator==(const TImagePlacement&) const = default;
};
