// The stand-in for Windows printing, over CUPS: the installed printers are the
// scheduler's destinations, the system default is its default destination,
// a printer's driver settings are the destination's defaults and the tray
// names its driver lists (the PPD's InputSlot choices).
#pragma once

#include "platform/printing/devmode.h"
#include "platform/printing/printerdc.h"
#include "util/result.h"

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
    // The device mode filled with the printer's current settings.
    bool DocumentProperties(TDevMode& mode) const;
    // Corrects what the printer cannot do: an unknown paper, orientation or tray.
    void MergeDocumentProperties(TDevMode& mode) const;
    const std::vector<TTray>& Trays() const { return FTrays; }
    // A device context for the device mode; null with the reason.
    std::unique_ptr<TPrinterDC> CreateDC(const TDevMode& mode, std::string& error) const;

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

class TPrintingLayer {
public:
    // Every call to the scheduler gives up after this long, so an unreachable
    // or silent scheduler never hangs the window.
    static constexpr int kSchedulerTimeoutMs = 5000;

    // Names of the installed printers; empty when no scheduler answers.
    std::vector<std::string> InstalledPrinters() const;
    // The same, or nothing when no scheduler answers.
    std::optional<std::vector<std::string>> ListPrinters() const;
    // Name of the default destination; empty when there is none.
    std::string SystemDefaultPrinter() const;

    // The printer documents go to; empty means the system default.
    std::string CurrentPrinter;

    // Opens a printer by name; null with the reason when there is no such
    // printer or no scheduler answers.
    std::unique_ptr<TPrinterHandle> OpenPrinter(std::string_view name, std::string& error);

    // Sends a whole PDF document as one job to the printer (the current one
    // when empty), titled with the job name, with job options: the job's
    // number when the scheduler took it.
    TResult<int> PrintPdf(const std::string& printer, const std::string& title, const std::string& pdf,
                          const std::vector<std::pair<std::string, std::string>>& options = {}) const;

    // The newest job of this user on the printer with that title, created at
    // or after the time given (seconds since the epoch), not cancelled or
    // aborted: its number, 0 when there is none; fails when no scheduler
    // answers. This is how a restart
    // learns whether a page sent just before a crash was taken.
    TResult<int> FindJob(const std::string& printer, const std::string& title, long long createdSince) const;
};

// The 1-based position of the tray whose name matches (ignoring case, not
// trimmed); 0 when none does.
int MatchTray(const std::vector<std::string>& trayNames, std::string_view tray);
