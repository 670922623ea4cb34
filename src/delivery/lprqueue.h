// The LPR queue: printer files in LprQueueDir delivered from the head of the
// queue, each with its overlay applied, by the print system, else by LPD to
// the printer's host, else (after some LPD failures, when the failover is on)
// raw to port 9100 or by FTP. A file that cannot be delivered stays at the
// head and is tried again; a file is deleted only after a route succeeded.
#pragma once

#include "delivery/ftpuploader.h"
#include "delivery/lpdclient.h"
#include "util/indicators.h"
#include "util/logger.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct TLprQueueContext {
    std::string LprQueueDir;
    std::string TempDir;
    std::string OverlayDir;
    std::function<std::string(std::string_view)> SettingValue;
    TLogger& Log;
    TIndicators& Indicators;
    TsbLPD& Lpd;
    TsbprinterFTP& Ftp;
    std::function<void()> Beep;
    // The spooler route; the print system's raw queue unless replaced.
    std::function<bool(const std::string& path)> SendViaSpooler;
    // The pause after each LPD attempt.
    std::function<void(int ms)> Pause;
};

// The fixed domain of the LPD host name: "printorb." followed by it.
inline constexpr const char* kLpdDomain = "tovaorb.local";
inline constexpr int kPassesPerTick = 5;

class TLprQueue {
public:
    // One delivery round of a spool tick: at most five attempts, each on the
    // file then at the head of the queue.
    void DispatchLprQueue(TLprQueueContext& context);

    std::vector<std::string> LprQueueFiles;
};
