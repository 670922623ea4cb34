// What is down right now, and since when: the print system, a printer, a
// folder that is full, the journal. An outage is begun once (one log line
// with what is down and why), probed again on a growing delay, and ended
// once (one log line with how long it lasted); in between, jobs that need
// it wait without using up their attempts. A change of the reason is
// logged once too, and every failed probe only counted.
#pragma once

#include "util/logger.h"
#include "util/result.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct TOutage {
    std::string Key;      // "cups", "cups:Lab", "folder:/srv/results/", "journal", "lpr:3"
    std::string Subject;  // for people: "the print system at localhost:631"
    std::string Reason;   // the last failure
    std::int64_t Since = 0;
    std::int64_t NextProbe = 0;
    std::int64_t Delay = 0;  // before the next probe
    int Failures = 0;        // the first one and every failed probe
};

class TOutageBoard {
public:
    // The first probe this long after the outage began, doubling up to the most.
    static constexpr std::int64_t kFirstProbeMs = 5000;
    static constexpr std::int64_t kLongestProbeMs = 60000;

    using TProbe = std::function<TOutcome()>;

    explicit TOutageBoard(TLogger& log) : FLog(log) {}

    // The clock, in milliseconds since the epoch.
    std::function<std::int64_t()> Now;
    // Called whenever an outage begins, changes or ends.
    std::function<void()> OnChanged;

    // Something is down: a new outage is logged ("… since …: reason") with
    // the text that says what waits; a known one counts the failure and
    // logs only a new reason. The probe says whether it is up again.
    void Down(const std::string& key, const std::string& subject, const std::string& reason,
              const std::string& waits, TProbe probe);
    // It works again: logged with how long it was down. Nothing when it was not down.
    void Up(const std::string& key);
    // Nothing needs it any more, whether it works or not: logged with why.
    void Forget(const std::string& key, const std::string& why);
    bool IsDown(const std::string& key) const { return FOutages.count(key) != 0; }
    const TOutage* Find(const std::string& key) const;
    // Whether the outage's next probe is due (also when it is not down).
    bool ProbeDue(const std::string& key) const;
    // Runs the probes that are due: an outage whose probe succeeds ends.
    void ProbeDueOutages();
    std::vector<TOutage> All() const;
    bool Empty() const { return FOutages.empty(); }

private:
    struct TEntry {
        TOutage Outage;
        TProbe Probe;
    };
    std::int64_t Clock() const;
    void Changed();

    TLogger& FLog;
    std::map<std::string, TEntry> FOutages;
};

// "14:03:10" today, "09-12 14:03:10" another day.
std::string OutageClock(std::int64_t ms, std::int64_t now);
// "45 s", "12 min", "3 h 5 min", "2 days 4 h".
std::string OutageSpan(std::int64_t ms);
