// The server's configuration as one typed view of printserver.inf: folders
// with their trailing "/", the margins, the data delay as a number, and the
// values the start-up derives (home, temporary and LPR queue folders, the
// default printer number, the settings score). The printer entries and the
// failover switch are looked up in the store at each use, since the Printers
// page and the failover box change them at once. Read by the server's
// start-up, the job pipeline, the pages, the tool and the tests alike.
#pragma once

#include "config/settingsstore.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TServerConfig {
public:
    // Everything the store holds, with the store kept for the printer entries.
    static TServerConfig Read(const TSettings& settings);
    // The same into this view, keeping the values the start-up derived.
    void ReadStore(const TSettings& settings);
    // The values "Update Now" changes (folders, letterhead, margins) read
    // again; the start-up's values stay until the next start.
    void ReadChangeable(const TSettings& settings);

    // Read from the store.
    std::string ResultsDir;           // RESULTS
    std::string SpoolDir;             // SPOOLER
    std::string TemplatesDir;         // TEMPLATES
    std::string OverlayDir;           // OVERLAY; empty stays empty
    std::string DefLetterhead;        // DEFLETTERHEAD
    std::string PageMargin;           // pagemargin as written; empty when not set
    std::optional<int> LpdDataDelay;  // LPDDATADELAY when set (1 when not a number)
    std::string AutoScanSubDir;       // AUTOSCANSUBDIR, fixed at start-up
    std::vector<std::string> ImageDirs;  // IMAGES… lines in file order, fixed at start-up
    // How often a job is tried in all before its request goes to "failed",
    // and the wait before the second attempt (doubling for each further
    // attempt, at most an hour): JOBRETRIES, JOBRETRYDELAY.
    int JobRetries = 5;
    int JobRetryDelaySeconds = 60;
    // How long the copies in the spool folder's "temp" and the journal's
    // rows are kept: TEMPDAYS, JOURNALDAYS.
    int TempDays = 30;
    int JournalDays = 400;
    // A spool file is taken once its size and modification time have stayed
    // the same this long (a writer on a network share pauses between
    // blocks): SETTLESECONDS, 0 to 3600.
    static constexpr int kDefaultSettleSeconds = 10;
    int SettleSeconds = kDefaultSettleSeconds;
    // How long a request waits for the print system, a printer or a full
    // folder before it goes to "failed": QUEUEHOURS.
    int QueueHours = 72;
    // DRAINBACKLOG=Yes: once a job's output exists the spool tick takes the
    // next file at once (for a while), and the LPR queue sends every file.
    bool DrainBacklog = false;
    // Where the status page listens ("ADDRESS:PORT"; empty: nowhere), and
    // the hash of its password (empty: none).
    std::string WebStatus;
    std::string WebPasswordHash;

    // Derived by the start-up; they change only with a restart.
    std::string ProgramDir;  // the server's home
    std::string TempDir;
    std::string LprQueueDir;
    std::string DefaultPrinterNumber;
    int SettingsScore = 0;
    // The LPD client's pause per 1000 data bytes; the Settings page bounds it.
    int DataDelay = 1;

    // Looked up in the store at each call.
    std::string Value(std::string_view key) const;
    // PRINTER<n> up to any "|", trimmed: the print system's name of printer n.
    std::string PrinterName(std::string_view number) const;
    std::string HostOf(std::string_view number) const;  // HOSTIP-<n>
    std::string DefaultPrinterName() const;             // PRINTER
    bool FtpFailover() const;                           // FTPFAILOVER

    // The critical settings that are not set, by name; empty when all are.
    std::vector<std::string> MissingCritical() const;
    // The margins to use: the setting, else 5,5,8,5 mm.
    std::string PageMarginOrDefault() const;
    // The wait after a job's attempt-th failed attempt, in seconds.
    int RetryDelaySeconds(int attempt) const;

private:
    const TSettings* FStore = nullptr;
};
