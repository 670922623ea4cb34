// The LPR queue: printer files in LprQueueDir delivered from the head of the
// queue, each with its overlay applied, by the print system, else by LPD to
// the printer's host, else (after an LPD failure that reached the printer,
// when the failover is on) raw to port 9100 or by FTP. A file that cannot be
// delivered stays at the head and is tried again; a file is deleted only
// after a route succeeded. The queue owns its two network routes.
#pragma once

#include "config/serverconfig.h"
#include "delivery/ftpuploader.h"
#include "delivery/lpdclient.h"
#include "util/indicators.h"
#include "util/logger.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The fixed domain of the LPD host name: "printorb." followed by it.
inline constexpr const char* kLpdDomain = "tovaorb.local";
inline constexpr int kPassesPerTick = 5;

class TLprQueue {
public:
    TLprQueue(const TServerConfig& config, TLogger& log, TIndicators& indicators);

    // One delivery round of a spool tick: at most five attempts, each on the
    // file then at the head of the queue. A socket error raised by the LPD
    // route or an unreadable prepared copy ends the round (the file stays).
    void DispatchLprQueue();

    TsbLPD Lpd;
    TsbprinterFTP Ftp;
    // "name;size" entries, refilled only when empty.
    std::vector<std::string> LprQueueFiles;
    // The window's beep for a printer without a host; silent when unset.
    std::function<void()> Beep;
    // The spooler route; the print system's raw queue unless replaced.
    std::function<bool(const std::string& path)> SendViaSpooler;
    // The pause after each network attempt; the real clock unless replaced.
    std::function<void(int ms)> Pause;

private:
    // One attempt on the head entry.
    void Attempt(const std::string& name);
    // The prepared copy in the temporary folder, with the overlay that the
    // name's first field asks for.
    void PrepareCopy(const std::string& name, const std::string& overlay);
    // LPD to the host, then the failover; true when one route delivered.
    bool SendOverNetwork(const std::string& name, const std::string& host, const std::string& bytes,
                         const std::string& ftpCopy);
    TLpdResult SendByLpd(const std::string& host, const std::string& bytes);
    // The head entry is delivered: the entry goes, and both copies of the file.
    void Delivered(const std::string& name);

    const TServerConfig& FConfig;
    TLogger& FLog;
    TIndicators& FIndicators;
};
