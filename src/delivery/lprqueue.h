// The LPR queue: printer files in LprQueueDir delivered from the head of the
// queue, each with its overlay applied, by the print system, else by LPD to
// the printer's host, else (after an LPD failure that reached the printer,
// when the failover is on) raw to port 9100 or by FTP. A file that cannot be
// delivered stays at the head and is tried again; a file is deleted only
// after a route succeeded, and only after the journal has the delivery. The
// queue owns its two network routes.
#pragma once

#include "config/serverconfig.h"
#include "delivery/ftpuploader.h"
#include "delivery/lpdclient.h"
#include "util/indicators.h"
#include "util/logger.h"
#include "util/outages.h"
#include "util/result.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// The fixed domain of the LPD host name: "printorb." followed by it.
inline constexpr const char* kLpdDomain = "tovaorb.local";
inline constexpr int kPassesPerTick = 5;
// A round that sends every file still ends after this many attempts or this
// long, so that the loop goes on.
inline constexpr int kMaxAttemptsPerRound = 1000;
inline constexpr std::int64_t kRoundMs = 10000;

// One attempt on a queued file by one route.
struct TDeliveryAttempt {
    std::string File;    // the queued name
    std::string FileId;  // which file it was (FileIdentity)
    std::string Route;   // "spooler", "lpd", "raw" or "ftp"
    std::string Host;    // the host, or the CUPS printer of the spooler route
    int Port = 0;
    int Code = 0;        // 0 delivered
    std::string Detail;
    std::int64_t Bytes = 0;
    std::int64_t DurationMs = 0;
};

// Where the queue's deliveries are kept: the job journal.
class TDeliveryJournal {
public:
    virtual ~TDeliveryJournal() = default;
    // This very file was delivered already: a crash came between the
    // delivery and the file's removal.
    virtual bool Delivered(const std::string& file, const std::string& fileId) = 0;
    // Called for each attempt; a delivery before its file is removed.
    virtual void Attempted(const TDeliveryAttempt& attempt) = 0;
};

class TLprQueue {
public:
    TLprQueue(const TServerConfig& config, TLogger& log, TIndicators& indicators);

    // One delivery round of a spool tick: at most five attempts, each on the
    // head file of a printer. A printer whose head file cannot go holds its
    // own files (tried again when its outage's next try is due); the other
    // printers' files go on in the same round.
    void DispatchLprQueue();
    // The outage of a printer's files, by printer number.
    static std::string OutageKey(const std::string& printer);
    // Every queued file in one round, not only the first few attempts: a
    // delivered file does not use up the round's passes.
    bool SendAll = false;

    TsbLPD Lpd;
    TsbprinterFTP Ftp;
    // "name;size" entries, listed anew each round.
    std::vector<std::string> LprQueueFiles;
    // The window's beep for a printer without a host; silent when unset.
    std::function<void()> Beep;
    // The spooler route; the print system's raw queue unless replaced. The
    // value is the CUPS printer that took the file.
    std::function<TResult<std::string>(const std::string& path)> SendViaSpooler;
    // The pause after each network attempt; the real clock unless replaced.
    std::function<void(int ms)> Pause;
    TDeliveryJournal* Journal = nullptr;
    // Called after each attempt: the loop is alive.
    std::function<void()> OnAttempt;
    // Where a printer that cannot be reached is held, logged and tried again
    // on a growing delay; without it each round tries every printer.
    TOutageBoard* Outages = nullptr;

private:
    // One attempt on a printer's head file, its lines logged as the
    // printer's failures call for; true when delivered.
    bool TryFile(const std::string& name, const std::string& printer);
    bool Attempt(const std::string& name);
    // A line of the attempt, logged once the attempt is judged.
    void Note(TSeverity severity, std::string line);
    // The prepared copy in the temporary folder, with the overlay that the
    // name's first field asks for.
    TOutcome PrepareCopy(const std::string& name, const std::string& overlay);
    bool SendBySpooler(const std::string& name, const std::string& fileId);
    // LPD to the host, then the failover; true when one route delivered.
    // Fails when a socket error broke off the LPD exchange: no route follows.
    TResult<bool> SendOverNetwork(const std::string& name, const std::string& fileId, const std::string& host,
                                  const std::string& bytes, const std::string& ftpCopy);
    TResult<TLpdResult> SendByLpd(const std::string& host, const std::string& bytes);
    bool SendByFailover(const std::string& name, const std::string& fileId, const std::string& host,
                        TLpdResult lpd, std::int64_t bytes, const std::string& ftpCopy);
    // The journal's record of an attempt. A failure like the last one on
    // the same file and route is recorded once an hour at most: a printer
    // that is off for a day must not fill the journal.
    void Record(TDeliveryAttempt attempt);
    // The head entry is delivered: the entry goes, and both copies of the file.
    void Delivered(const std::string& name);

    const TServerConfig& FConfig;
    TLogger& FLog;
    TIndicators& FIndicators;
    struct TLastFailure {
        int Code = 0;
        std::int64_t At = 0;
    };
    std::map<std::string, TLastFailure> FLastFailures;  // by file and route
    struct TNote {
        TSeverity Severity;
        std::string Line;
    };
    std::vector<TNote> FNotes;        // the lines of the attempt under way
    std::string FFailure;             // why it did not go, in one line
    bool FBeep = false;               // the attempt found no host
    std::set<std::string> FEmpty;     // empty files already reported
};
