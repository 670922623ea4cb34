// How the server is doing, by one rule for everyone who asks: printorb-tool
// status, the web page and its API, /healthz and the metrics. Read from the
// home's journal (what the server recorded and said of itself) and its
// folders, so a reader beside the server and the server itself agree.
#pragma once

#include "journal/journal.h"
#include "status/jobviews.h"
#include "util/result.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TStatusQuery {
    std::string Home;  // ends in "/"
    std::string SpoolDir;
    std::string ResultsDir;
    std::int64_t Now = 0;
    // A file that waits longer means reports are late.
    std::int64_t LateAfterMs = 15 * 60 * 1000;
    // Asked only when the server does not say the print system is down:
    // an idle server learns of it only when a report comes.
    std::function<bool()> PrintSystemAnswers;
    std::string SchedulerName;
    // Whether the journal could record now.
    std::function<TOutcome()> JournalWritable;
    // The process that holds the home; 0 when none does.
    long ServerPid = 0;
    // How many of the newest jobs to list.
    int LastJobs = 0;
};

// The files of a folder that wait: how many, and the oldest by arrival.
struct TWaitingFiles {
    int Count = 0;
    std::int64_t Oldest = 0;
    std::string OldestName;
};

struct TOutageSaid {
    std::string Key;
    std::string Subject;
    std::string Reason;
    std::int64_t Since = 0;
};

struct TServerStatus {
    // Everything that is wrong, the most pressing first; empty when all is well.
    std::vector<std::string> Wrong;
    std::int64_t Now = 0;
    std::int64_t LastTick = 0;
    TWaitingFiles Spooled;
    TWaitingFiles Queued;
    int FailedFiles = 0;  // requests set aside in the spool folder's "failed"
    int DoneToday = 0;
    int FailedToday = 0;
    int WarnedToday = 0;
    bool PrintSystemUp = true;
    std::vector<TOutageSaid> Outages;
    std::vector<TJobRow> Waiting;
    std::vector<std::string> WaitingFor;  // for each waiting job: what it waits for, or empty
    std::vector<TJobRow> LastJobs;

    bool Ok() const { return Wrong.empty(); }
    // The first line a monitor reads: "ok: …" or "not ok: …".
    std::string Headline() const;
};

TServerStatus ReadServerStatus(TJournal& journal, const TStatusQuery& query);
// The tool's lines after the headline.
std::vector<std::string> StatusDetails(const TServerStatus& status);
// /api/status's object (without the live state only the server knows).
TJson StatusJson(TJournal& journal, const TServerStatus& status);
// The waiting files of a folder matching the masks ("*.tvq").
TWaitingFiles WaitingIn(const std::string& folder, const std::vector<std::string>& masks);
