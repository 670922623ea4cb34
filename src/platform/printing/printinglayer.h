// The stand-in for Windows printing, over CUPS: the installed printers are the
// scheduler's destinations, the system default is its default destination.
#pragma once

#include <string>
#include <string_view>
#include <vector>

typedef struct _http_s http_t;

// A connection to the scheduler that CUPS_SERVER names now, with the layer's
// time-out; null when none answers. The caller closes it (httpClose).
http_t* ConnectScheduler();

class TPrintingLayer {
public:
    // Every call to the scheduler gives up after this long, so an unreachable
    // or silent scheduler never hangs the window.
    static constexpr int kSchedulerTimeoutMs = 5000;

    // Names of the installed printers; empty when no scheduler answers.
    std::vector<std::string> InstalledPrinters() const;
    // Name of the default destination; empty when there is none.
    std::string SystemDefaultPrinter() const;

    // The printer documents go to; empty means the system default.
    std::string CurrentPrinter;

    // Sends a whole PDF document as one job to the printer (the current one
    // when empty), titled with the job name. Empty text when the scheduler
    // took it; otherwise why not.
    std::string PrintPdf(const std::string& printer, const std::string& title, const std::string& pdf) const;
};
