#include "util/tally.h"

void TDurations::Observe(double seconds)
{
    for (std::size_t i = 0; i < kBounds.size(); ++i)
        if (seconds <= kBounds[i])
            ++FBuckets[i];
    ++FCount;
    FSum += seconds;
}
