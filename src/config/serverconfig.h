// The server's configuration: one snapshot of printserver.inf, typed (folders
// with their trailing "/", the margins, the data delay as a number), with the
// values the start-up derives (home, temporary and LPR queue folders, the
// default printer number, the settings score). Nothing changes a snapshot: its
// owner replaces it as a whole when the settings change. Read by the server's
// start-up, the job pipeline, the pages, the tool and the tests alike.
#pragma once

#include "config/settingsstore.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the start-up derives rather than reads; they change only with a restart
// (the data delay also with the Settings page).
struct TServerStart {
    std::string ProgramDir;  // the server's home
    std::string TempDir;
    std::string LprQueueDir;
    std::string DefaultPrinterNumber;
    int SettingsScore = 0;
    int DataDelay = 1;  // the LPD client's pause per 1000 data bytes; the Settings page bounds it
    std::string PackageHomeDir;  // where the package keeps a home: the tool finds that one unaided
};

// The start-up's values known before it runs: the home and its LPR queue.
TServerStart HomeStart(const std::string& home, std::string packageHome);

class TServerConfig : public TServerStart {
public:
    // Everything the store holds, with the start-up's values.
    static TServerConfig Read(const TSettings& settings, const TServerStart& start = {});
    // This snapshot with the store's printer entries and failover switch,
    // which count at once; the folders, letterhead and margins wait for
    // "Update Now", which reads everything again.
    TServerConfig WithEntries(const TSettings& settings) const;
    // This snapshot with other start-up values.
    TServerConfig WithStart(const TServerStart& start) const;
    TServerStart Start() const;

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


    // The printer entries as the snapshot's store holds them.
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
    std::string Value(std::string_view key) const { return FEntries.Value(key); }

    TSettings FEntries;  // the store as it was, for the printer entries
};

// The printer lines of a store: each PRINTER<n>=... as "n=..." in file
// order, and the default printer's name (PRINTER=...) when there is one.
struct TPrinterLines {
    std::vector<std::string> Numbered;
    std::optional<std::string> Default;
};
TPrinterLines ReadPrinterLines(const TSettings& settings);
