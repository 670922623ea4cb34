// What the server has done since it started, counted as it happens, for the
// metrics: jobs by how they ended, pages printed, deliveries by route and
// result, and how long composing took. Counters only grow; a restart begins
// them again, as monitoring systems expect of counters.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

// A histogram of durations in seconds with fixed upper bounds.
class TDurations {
public:
    static constexpr std::array<double, 10> kBounds {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 10};

    void Observe(double seconds);
    // How many were at most kBounds[i] (cumulative, as Prometheus counts them).
    std::uint64_t AtMost(std::size_t i) const { return FBuckets.at(i); }
    std::uint64_t Count() const { return FCount; }
    double Sum() const { return FSum; }

private:
    std::array<std::uint64_t, kBounds.size()> FBuckets {};
    std::uint64_t FCount = 0;
    double FSum = 0;
};

struct TServerTally {
    std::map<std::string, std::uint64_t> JobsEnded;  // by state: done, failed, unprintable, waiting
    std::uint64_t PagesPrinted = 0;
    std::map<std::pair<std::string, std::string>, std::uint64_t> Deliveries;  // by route, "ok" or "failed"
    TDurations Compose;
};
