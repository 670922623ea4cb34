#include "util/outages.h"

#include <QDateTime>

#include <algorithm>

std::string OutageClock(std::int64_t ms, std::int64_t now)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
    const bool today = at.date() == QDateTime::fromMSecsSinceEpoch(now).date();
    return at.toString(today ? QStringLiteral("hh:mm:ss") : QStringLiteral("dd-MM hh:mm:ss")).toStdString();
}

std::string OutageSpan(std::int64_t ms)
{
    const std::int64_t s = std::max<std::int64_t>(ms, 0) / 1000;
    if (s < 60)
        return std::to_string(s) + " s";
    if (s < 3600)
        return std::to_string(s / 60) + " min";
    if (s < 86400)
        return std::to_string(s / 3600) + " h" + (s % 3600 >= 60 ? " " + std::to_string(s % 3600 / 60) + " min" : "");
    const std::int64_t days = s / 86400;
    return std::to_string(days) + (days == 1 ? " day" : " days") +
           (s % 86400 >= 3600 ? " " + std::to_string(s % 86400 / 3600) + " h" : "");
}

namespace {

// Subjects are written to stand inside a sentence; a log line begins with a capital.
std::string Sentence(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

}  // namespace

std::int64_t TOutageBoard::Clock() const
{
    return Now ? Now() : QDateTime::currentMSecsSinceEpoch();
}

void TOutageBoard::Changed()
{
    if (OnChanged)
        OnChanged();
}

const TOutage* TOutageBoard::Find(const std::string& key) const
{
    const auto found = FOutages.find(key);
    return found == FOutages.end() ? nullptr : &found->second.Outage;
}

void TOutageBoard::Down(const std::string& key, const std::string& subject, const std::string& reason,
                        const std::string& waits, TProbe probe)
{
    const std::int64_t now = Clock();
    const auto found = FOutages.find(key);
    if (found == FOutages.end()) {
        TEntry entry {{key, subject, reason, now, now + kFirstProbeMs, kFirstProbeMs, 1}, std::move(probe)};
        FOutages.emplace(key, std::move(entry));
        FLog.logerror(Sentence(subject) + " is down since " + OutageClock(now, now) + ": " + reason +
                      (waits.empty() ? "" : "; " + waits) + ".");
        Changed();
        return;
    }
    TOutage& outage = found->second.Outage;
    ++outage.Failures;
    outage.Delay = std::min(outage.Delay * 2, kLongestProbeMs);
    outage.NextProbe = now + outage.Delay;
    if (probe)
        found->second.Probe = std::move(probe);
    if (outage.Reason != reason) {
        outage.Reason = reason;
        FLog.logerror(Sentence(outage.Subject) + " is still down (since " + OutageClock(outage.Since, now) +
                      "), now: " + reason + ".");
        Changed();
    }
}

void TOutageBoard::Up(const std::string& key)
{
    const auto found = FOutages.find(key);
    if (found == FOutages.end())
        return;
    const TOutage outage = found->second.Outage;
    FOutages.erase(found);
    const std::int64_t now = Clock();
    FLog.loginfo(Sentence(outage.Subject) + " works again after " + OutageSpan(now - outage.Since) + " (down since " +
                 OutageClock(outage.Since, now) + ", " + std::to_string(outage.Failures) + " failed attempt(s)).");
    Changed();
}

void TOutageBoard::Forget(const std::string& key, const std::string& why)
{
    const auto found = FOutages.find(key);
    if (found == FOutages.end())
        return;
    const TOutage outage = found->second.Outage;
    FOutages.erase(found);
    FLog.loginfo(Sentence(outage.Subject) + " is not watched any more (down since " +
                 OutageClock(outage.Since, Clock()) + "): " + why + ".");
    Changed();
}

bool TOutageBoard::ProbeDue(const std::string& key) const
{
    const TOutage* outage = Find(key);
    return !outage || outage->NextProbe <= Clock();
}

void TOutageBoard::ProbeDueOutages()
{
    std::vector<std::string> due;
    for (const auto& [key, entry] : FOutages)
        if (entry.Probe && entry.Outage.NextProbe <= Clock())
            due.push_back(key);
    for (const std::string& key : due) {
        const auto found = FOutages.find(key);
        if (found == FOutages.end())
            continue;  // a probe before ended it
        const TProbe probe = found->second.Probe;
        const TOutcome up = probe();
        if (up) {
            Up(key);
            continue;
        }
        const TOutage& outage = found->second.Outage;
        Down(key, outage.Subject, up.Reason(), {}, nullptr);
    }
}

std::vector<TOutage> TOutageBoard::All() const
{
    std::vector<TOutage> all;
    for (const auto& [key, entry] : FOutages)
        all.push_back(entry.Outage);
    std::sort(all.begin(), all.end(), [](const TOutage& a, const TOutage& b) { return a.Since < b.Since; });
    return all;
}
