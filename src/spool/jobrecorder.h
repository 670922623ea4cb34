// The pipeline's side of the job journal: the job being worked on, its
// outputs as the print run makes them, the LPR queue's deliveries, the last
// tick and the daily retention. A journal that cannot be written never
// stops a job: its failure is logged (each kind once an hour) and the job
// goes on.
#pragma once

#include "config/serverconfig.h"
#include "delivery/lprqueue.h"
#include "journal/journal.h"
#include "platform/printing/printinglayer.h"
#include "print/printrun.h"
#include "util/logger.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class TJobRecorder : public TOutputJournal, public TDeliveryJournal {
public:
    TJobRecorder(const TServerConfig& config, TLogger& log, TPrintingLayer& printing);

    // journal.db in the server's home; one that cannot be used is moved
    // aside, one that cannot be had at all is kept in memory. Logged.
    void Open();
    TJournal& Journal() { return FJournal; }

    // The job being worked on; none between jobs.
    std::optional<TJobRow>& Current() { return FCurrent; }
    void Begin(TJobRow row) { FCurrent = std::move(row); }
    void End() { FCurrent.reset(); }
    // Writes the current job's row and an event of its story.
    void Save(std::string_view event = {});
    TOutcome Event(std::int64_t job, std::string_view what);

    // The last tick, and the retention once a day.
    void Tick();

    // TOutputJournal: the current job's pages, images and documents.
    bool PageDone(int page, const std::string& title, const std::string& pageFile) override;
    void PageSending(int page, const std::string& title, const std::string& printer,
                     const std::string& pageFile) override;
    void PageSent(int page, const std::string& title, int cupsJob, const std::string& pageFile) override;
    bool DocumentSaved(const std::string& path) override;
    void DocumentSaving(const std::string& path) override;
    void DocumentWasSaved(const std::string& path) override;
    // Records an output that exists already (a printer file queued).
    void OutputExists(std::string_view kind, const std::string& path);

    // TDeliveryJournal: the LPR queue's attempts.
    bool Delivered(const std::string& file, const std::string& fileId) override;
    void Attempted(const TDeliveryAttempt& attempt) override;

    // Logs a journal failure; the same one at most once an hour.
    void Check(const TOutcome& written);

private:
    static const char* OutputKind(const std::string& pageFile) { return pageFile.empty() ? "cups" : "page file"; }
    void Retention();

    const TServerConfig& FConfig;
    TLogger& FLog;
    TPrintingLayer& FPrinting;
    TJournal FJournal;
    std::optional<TJobRow> FCurrent;
    std::int64_t FSending = 0;  // the output being sent
    std::map<std::string, std::int64_t> FReported;  // journal failures, when last logged
};
