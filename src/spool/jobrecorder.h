// The pipeline's side of the job journal: the job being worked on, its
// outputs as the print run makes them, the LPR queue's deliveries, the last
// tick and the daily retention. A step the journal cannot commit is kept, in
// order, and the journal is an outage until it commits again: meanwhile no
// new file is taken and nothing is output (an output is recorded before it
// goes out, and that record fails), and the kept steps are written first
// when it records again.
#pragma once

#include "config/serverconfig.h"
#include "delivery/lprqueue.h"
#include "journal/journal.h"
#include "platform/printing/printinglayer.h"
#include "print/printrun.h"
#include "util/logger.h"
#include "util/outages.h"
#include "util/tally.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

class TJobRecorder;

// The log as jobs write to it: every line goes to the server's log, and a
// warning is kept with the current job as well.
class TJobLog : public TLogger {
public:
    TJobLog(TLogger& log, TJobRecorder& recorder) : FLog(log), FRecorder(recorder) {}
    void logline(TSeverity severity, std::string_view message) override;

private:
    TLogger& FLog;
    TJobRecorder& FRecorder;
};

class TJobRecorder : public TOutputJournal, public TDeliveryJournal {
public:
    static constexpr const char* kOutageKey = "journal";

    TJobRecorder(const TServerConfig& config, TLogger& log, TPrintingLayer& printing, TOutageBoard& outages);

    // journal.db in the server's home; one that cannot be used is moved
    // aside, one that cannot be had at all is kept in memory. Logged.
    void Open();
    TJournal& Journal() { return FJournal; }

    // The job being worked on; none between jobs.
    std::optional<TJobRow>& Current() { return FCurrent; }
    void Begin(TJobRow row)
    {
        FSavedState = row.State;
        FCurrent = std::move(row);
    }
    void End() { FCurrent.reset(); }
    // Writes the current job's row and an event of its story.
    void Save(std::string_view event = {});

    // One write to the journal: done now, or kept until the journal records
    // again (then false). Kept steps are written in the order they came.
    using TWrite = std::function<TOutcome(TJournal&)>;
    bool Write(TWrite write);
    // An event of a job's story, written or kept as Write does.
    void AddEvent(std::int64_t job, std::string what);
    // A warning of the current job, counted with it; none between jobs.
    void Warning(std::string_view what);
    // Whether the journal records now: nothing is kept.
    bool Recording() const { return FKept.empty() && !FDown; }
    // A write that failed with nothing kept (a new job, the last tick): the
    // journal is down all the same.
    void Failed(const TOutcome& failure);

    // What was done since the start, for the metrics.
    TServerTally& Tally() { return FTally; }
    const TServerTally& Tally() const { return FTally; }

    // The last tick, and the retention once a day.
    void Tick();

    // TOutputJournal: the current job's pages, images and documents.
    bool PageDone(int page, const std::string& title, const std::string& pageFile) override;
    bool PageSending(int page, const std::string& title, const std::string& printer,
                     const std::string& pageFile) override;
    void PageSent(int page, const std::string& title, int cupsJob, const std::string& pageFile) override;
    bool DocumentSaved(const std::string& path) override;
    bool DocumentSaving(const std::string& path) override;
    void DocumentWasSaved(const std::string& path) override;

    // TDeliveryJournal: the LPR queue's attempts.
    bool Delivered(const std::string& file, const std::string& fileId) override;
    void Attempted(const TDeliveryAttempt& attempt) override;

private:
    static const char* OutputKind(const std::string& pageFile) { return pageFile.empty() ? "cups" : "page file"; }
    // The journal's outage begins (or goes on) with this failure.
    void Down(const std::string& reason);
    // The outage's probe: the kept steps written, and the last tick.
    TOutcome Replay();
    bool AddOutput(TOutputRow row);
    void Retention();

    const TServerConfig& FConfig;
    TLogger& FLog;
    TPrintingLayer& FPrinting;
    TOutageBoard& FOutages;
    TJournal FJournal;
    std::optional<TJobRow> FCurrent;
    TJobState FSavedState = TJobState::Running;
    TServerTally FTally;
    std::int64_t FSending = 0;  // the output being sent
    std::deque<TWrite> FKept;
    bool FDown = false;
};
