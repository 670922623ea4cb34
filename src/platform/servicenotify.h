// What the unattended server tells systemd: that its start-up is done, a
// status line, that it is stopping, and that it is alive (the watchdog).
// Outside a service (no NOTIFY_SOCKET) every call does nothing.
#pragma once

#include <chrono>
#include <optional>
#include <string>

class TServiceNotifier {
public:
    // Reads the watchdog interval once, from WATCHDOG_USEC and WATCHDOG_PID.
    TServiceNotifier();

    // Start-up succeeded; the status says what the service is doing.
    void Ready(const std::string& status);
    void Status(const std::string& status);
    void Stopping();
    // One sign of life for the watchdog; nothing when the unit has none.
    void Alive();

    bool WatchdogEnabled() const { return FWatchdog.count() > 0; }
    std::chrono::microseconds WatchdogInterval() const { return FWatchdog; }

private:
    std::chrono::microseconds FWatchdog {0};
    std::optional<std::chrono::steady_clock::time_point> FLastAlive;
};
