#include "platform/servicenotify.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace {

// Status lines are one line to systemd: a line break would end the message.
std::string OneLine(const std::string& text)
{
    std::string line;
    line.reserve(text.size());
    for (const char c : text)
        line += c == '\n' || c == '\r' ? ' ' : c;
    return line;
}

}  // namespace

TServiceNotifier::TServiceNotifier()
{
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0)
        FWatchdog = std::chrono::microseconds(usec);
}

void TServiceNotifier::Ready(const std::string& status)
{
    sd_notify(0, ("READY=1\nSTATUS=" + OneLine(status)).c_str());
}

void TServiceNotifier::Status(const std::string& status)
{
    sd_notify(0, ("STATUS=" + OneLine(status)).c_str());
}

void TServiceNotifier::Stopping()
{
    sd_notify(0, "STOPPING=1\nSTATUS=Stopping");
}

void TServiceNotifier::Alive()
{
    if (!WatchdogEnabled())
        return;
    // Called after every step of a busy tick: one sign a second is plenty.
    const auto now = std::chrono::steady_clock::now();
    if (FLastAlive && now - *FLastAlive < std::chrono::seconds(1))
        return;
    FLastAlive = now;
    sd_notify(0, "WATCHDOG=1");
}
