// The stand-in for Windows printing, over CUPS: the installed printers are the
// scheduler's destinations, the system default is its default destination,
// a printer's driver settings are the destination's defaults and the tray
// names its driver lists (the PPD's InputSlot choices).
#pragma once

#include "platform/printing/devmode.h"
#include "platform/printing/printerdc.h"
#include "util/result.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

typedef struct _http_s http_t;
typedef struct cups_dest_s cups_dest_t;
typedef struct _cups_dinfo_s cups_dinfo_t;

// A scheduler connection, closed when its owner goes.
struct THttpClose {
    void operator()(http_t* http) const;
};
using THttpConnection = std::unique_ptr<http_t, THttpClose>;

// A connection to the scheduler that CUPS_SERVER names now, with the layer's
// time-out; null when none answers.
THttpConnection ConnectScheduler();
// A job created on the queue of that name (as the scheduler names it), by one
// request: the job's number, 0 when it was refused. (libcups' own call asks
// for the printer and all its attributes first.)
int CreateJobOn(http_t* http, const std::string& queue, const std::string& utf8Title);

// One tray of a printer: the name its driver shows, the keyword a job asks
// for it with, and the PCL paper source it stands for (0 when unknown).
struct TTray {
    std::string Name;
    std::string Choice;
    int PclSource = 0;
};

// A printer opened for its settings; closed when this goes.
class TPrinterHandle {
public:
    ~TPrinterHandle();
    TPrinterHandle(const TPrinterHandle&) = delete;
    TPrinterHandle& operator=(const TPrinterHandle&) = delete;

    // The queue's own name (names are matched without regard to case).
    const std::string& DeviceName() const { return FName; }
    // A device mode filled with the printer's current settings.
    TDevMode DocumentProperties() const;
    // Corrects what the printer cannot do: an unknown paper, orientation or tray.
    void MergeDocumentProperties(TDevMode& mode) const;
    const std::vector<TTray>& Trays() const { return FTrays; }
    // A device context for the device mode.
    TResult<std::unique_ptr<TPrinterDC>> CreateDC(const TDevMode& mode) const;
    // A whole PDF document as one job, titled, with job options: the job's
    // number when the scheduler took it.
    TResult<int> SubmitPdf(const std::string& title, const std::string& pdf,
                           const std::vector<std::pair<std::string, std::string>>& options);

private:
    friend class TPrintingLayer;
    TPrinterHandle(TPrintingLayer& layer, THttpConnection http, cups_dest_t* dest);
    void LoadTrays();

    TPrintingLayer& FLayer;
    THttpConnection FHttpOwner;
    http_t* FHttp;
    cups_dest_t* FDest;
    cups_dinfo_t* FInfo = nullptr;
    std::string FName;
    std::vector<TTray> FTrays;
    int FDefaultTray = 0;  // 1-based position; 0 for none
};

// What the scheduler said of its printers at one moment.
struct TDestinations {
    bool Answered = false;
    std::vector<std::string> Names;
    std::string Default;  // empty when there is none
    // The installed name that matches (without case); empty when none does.
    std::string Find(std::string_view name) const;
};

// Whether a printer takes jobs now, as the scheduler says.
struct TDestinationState {
    bool Accepting = true;  // not rejecting jobs
    bool Stopped = false;   // paused, or stopped by its backend
    bool Processing = false;  // printing a job now
    std::string Message;    // the scheduler's own words, when it gives any
    bool TakesJobs() const { return Accepting && !Stopped; }
};

class TPrintingLayer {
public:
    // Every call to the scheduler gives up after this long, so an unreachable
    // or silent scheduler never hangs the window.
    static constexpr int kSchedulerTimeoutMs = 5000;
    // Jobs ask for printers every few seconds; what the scheduler said is
    // used again for this long (a printer it did not name is always asked
    // for anew), and an opened printer's settings for this long.
    static constexpr int kDestinationsReuseMs = 10000;
    static constexpr int kPrinterReuseMs = 20000;

    // Names of the installed printers; empty when no scheduler answers.
    std::vector<std::string> InstalledPrinters() const;
    // The same, or nothing when no scheduler answers.
    std::optional<std::vector<std::string>> ListPrinters() const;
    // Name of the default destination; empty when there is none.
    std::string SystemDefaultPrinter() const;
    // The scheduler's printers as said at most maxAgeMs ago (0: now).
    TDestinations Destinations(int maxAgeMs) const;
    // Drops what was kept, after a failure that may come from it.
    void Forget() const;
    // The scheduler jobs go to, as people name it ("localhost:631").
    std::string SchedulerName() const;
    // One question to the scheduler about one printer; fails as an outage
    // when the scheduler does not answer, as a fault when it has no such printer.
    TResult<TDestinationState> DestinationState(const std::string& printer) const;

    // The printer documents go to; empty means the system default.
    std::string CurrentPrinter;

    // Opens a printer by name; fails when there is no such printer or no
    // scheduler answers. A printer opened within the last minute is the same
    // handle again.
    TResult<std::shared_ptr<TPrinterHandle>> OpenPrinter(std::string_view name);

    // Sends a whole PDF document as one job to the printer (the current one
    // when empty), titled with the job name, with job options: the job's
    // number when the scheduler took it.
    TResult<int> PrintPdf(const std::string& printer, const std::string& title, const std::string& pdf,
                          const std::vector<std::pair<std::string, std::string>>& options = {});

    // The newest job of this user on the printer with that title, created at
    // or after the time given (seconds since the epoch), holding its
    // document, not cancelled or aborted: its number, 0 when there is none;
    // fails when no scheduler answers. This is how a restart
    // learns whether a page sent just before a crash was taken.
    TResult<int> FindJob(const std::string& printer, const std::string& title, long long createdSince) const;
    // Cancels this user's jobs on the printer with that title, created at or
    // after that time, that CUPS still holds without a document (the crash
    // came between creating the job and sending the page): they would
    // otherwise wait, listed, until the scheduler gives up on them. Returns
    // their numbers.
    TResult<std::vector<int>> CancelJobsWithoutDocument(const std::string& printer, const std::string& title,
                                                       long long createdSince);

private:
    struct TKeptDestinations {
        std::string Server;
        long long At = 0;
        TDestinations Said;
    };
    struct TKeptPrinter {
        std::string Server;
        long long At = 0;
        std::shared_ptr<TPrinterHandle> Handle;
    };
    mutable std::optional<TKeptDestinations> FDestinations;
    mutable std::map<std::string, TKeptPrinter> FPrinters;  // by name in lower case
};

// The 1-based position of the tray whose name matches (ignoring case, not
// trimmed); 0 when none does.
int MatchTray(const std::vector<std::string>& trayNames, std::string_view tray);
