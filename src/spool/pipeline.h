// The job pipeline: the home of everything only jobs use (the document
// engine, the report record and tag list, the printer device, the image
// components, the overlay lookup, the LPR queue and its routes) and the
// three steps a job takes through it: the spool tick that takes one spool
// file every five seconds, the report job sequence that composes a request,
// and the print run on the printing timer that outputs it. Printer files are
// delivered by the LPR queue at the start of every working tick.
//
// A request stays in the spool folder until its output exists, so a crash or
// a kill between intake and output never loses it; it is taken again after
// a restart. The job journal records every job: a job whose output fails is
// tried again with growing pauses, while the other files go on, and after
// its last attempt its request moves to the spool folder's "failed" folder;
// what an attempt output is never output again. The pipeline reads the
// running configuration through one const reference that its owner keeps
// current.
#pragma once

#include "config/serverconfig.h"
#include "delivery/lprqueue.h"
#include "delivery/overlaylookup.h"
#include "platform/docengine/documentengine.h"
#include "platform/imaging/imagecomponent.h"
#include "platform/printing/printinglayer.h"
#include "print/printdevice.h"
#include "request/reportrecord.h"
#include "spool/composerequest.h"
#include "spool/jobrecorder.h"
#include "util/spoolfiles.h"
#include "util/indicators.h"
#include "util/logger.h"
#include "util/outages.h"
#include "util/result.h"

#include <QDateTime>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// What the pipeline asks of a window, when there is one. Without a window
// nothing is repainted, the document view is not shown, nobody is asked and
// nothing beeps.
class TJobWindow {
public:
    virtual ~TJobWindow() = default;
    // Paints now: a job holds the thread for a while.
    virtual void Repaint() = 0;
    // Whether the operator watches the document view instead of the option pages.
    virtual bool DocumentViewShown() const = 0;
    // The print dialog before a watched report is printed; its answer changes nothing.
    virtual void ShowPrintDialog(std::string_view document, std::string_view printer) = 0;
    // A printer file whose printer has no host.
    virtual void Beep() = 0;
};

// How a job ended.
enum class TJobExit {
    Completed,           // composed; waits for the print run
    ScanPrinted,         // scanned images printed within the tick
    ScanNotPrinted,      // some image was not accepted: the request is taken again later
    Unprintable,         // moved to "unprintable"
    NoPrinter,           // no printer at all could be selected
    SchedulerDown,       // the print system or the printer is down: the request waits for it
    EmbeddedNotWritten,  // the server stays busy until the watchdog
    DocumentNotLoaded,   // likewise
    EngineFailed,        // likewise
};

// How a job ended, and why when it did not come to its output.
struct TJobEnd {
    TJobExit Exit = TJobExit::Completed;
    std::string Reason;
    // The failure with its kind; for SchedulerDown its detail is the key of
    // the outage the request waits for.
    TFailure Failure {};
    bool operator==(TJobExit exit) const { return Exit == exit; }
};

// The bytes of a file that can be read, counted in blocks of 1000 and never
// much more than expected; 0 when it cannot be opened for reading and writing,
// and then openError is why (errno).
std::int64_t CountReadableBytes(const std::string& path, std::int64_t expected, int* openError = nullptr);
// Why a spool file cannot be opened, for the people who can change it: the
// reason, the file's owner and mode, and who the server runs as.
std::string CannotOpenReason(const std::string& path, int error);

// Where the pipeline stands at one moment.
struct TPipelineState {
    bool Ticking = false;   // the spool tick runs
    int TickInterval = 0;   // ms to the next tick
    bool PrintRunDue = false;  // the print run of a composed report follows on its own timer
    int PrintRunInterval = 0;
    bool SpoolHeld = false;    // a tick takes no file
    bool PrintPending = false;  // a composed report waits for its print run
    std::size_t Listed = 0;     // the spool folder's files listed and not yet taken
    bool Busy() const { return SpoolHeld || PrintPending; }
};

// It is also the watch over the print system that choosing a request's
// printer asks.
class TJobPipeline : private TPrintSystemWatch {
public:
    static constexpr int kSpoolInterval = 5000;
    static constexpr int kPrintingInterval = 1500;
    static constexpr int kWatchdogSeconds = 180;
    // Backlog mode: how long one tick goes on taking files, and how soon the
    // next tick comes while files wait (the event loop runs in between).
    static constexpr int kBurstMs = 2000;
    static constexpr int kBacklogInterval = 50;
    static constexpr std::uint64_t kMaxRequestBytes = ::kMaxRequestBytes;

    TJobPipeline(const TServerConfig& config, TLogger& log, TIndicators& indicators);
    TJobPipeline(const TJobPipeline&) = delete;
    TJobPipeline& operator=(const TJobPipeline&) = delete;

    void SetWindow(TJobWindow* window) { FWindow = window; }
    // The clock of retries and the journal; the real one unless replaced.
    void SetClock(std::function<std::int64_t()> clock) { Now = std::move(clock); }
    // The start-up's set-up for jobs: a fresh record, an empty A4 document
    // with the configured margins, the tag list, the journal.
    void PrepareJobs();
    // tags.txt into the tag list and the record; the warning when missing.
    void LoadTagFile();
    // The record made ready for the next request, the tag file read anew.
    void ResetRecord();

    // The timers' handlers; tests call them directly.
    void SpoolTimerTimer();
    void printingtimerTimer();
    // Backlog mode: the files after the tick's first, each once the one
    // before has its output, until the burst's time is up.
    void DrainBacklog(std::int64_t tickStartedMs);
    // The spool folder's files into WaitingFiles when it is empty; false
    // when none wait.
    bool ListWaitingFiles();

    TJobEnd RunReportJob(std::string_view text, std::string_view name);
    // The spool file moved into the "unprintable" or "failed" folder; the
    // failure is the log line that says why not.
    TOutcome MoveToUnprintable(std::string_view name);
    TOutcome MoveToFailed(std::string_view name);
    // The printer of a printer number made current; empty when none could be.
    std::string SelectPrinterByNumber(std::string_view number);
    // The overlay texts of the current request for the current printer.
    void GetMacros(std::string& first, std::string& other);
    // One delivery round of the LPR queue; a failure ends the round and is logged.
    void DispatchLprQueue();

    // The parts only jobs use.
    DocumentEngine& Engine() { return FEngine; }
    TReportRecord& Record() { return FRecord; }
    const std::vector<std::string>& TagList() const { return FTagList; }
    TPrintingLayer& Printing() { return FPrinting; }
    TPrinterDevice& Device() { return FDevice; }
    TOverlayLookup& Overlays() { return FOverlays; }
    TImageComponent& MultiImage() { return FMultiImage; }
    TLprQueue& LprQueue() { return FLprQueue; }
    TJournal& Journal() { return FRecorder.Journal(); }
    const TServerTally& Tally() const { return FRecorder.Tally(); }
    // What is down now: the print system, printers, full folders, the journal.
    TOutageBoard& Outages() { return FOutages; }

    // The spool tick: started and stopped by the window's button and the
    // unattended program; a print run that is due runs all the same.
    void Start() { FSpoolTimer.start(); }
    void Stop() { FSpoolTimer.stop(); }
    // While the spool is held, a tick takes no file: a job is in hand, or
    // the Testing page prints. The window's Start/Stop releases it.
    void HoldSpool() { FSpoolBusy = true; }
    void ReleaseSpool() { FSpoolBusy = false; }
    // Where the pipeline stands now.
    TPipelineState State() const
    {
        return {.Ticking = FSpoolTimer.isActive(),
                .TickInterval = FSpoolTimer.interval(),
                .PrintRunDue = FPrintingTimer.isActive(),
                .PrintRunInterval = FPrintingTimer.interval(),
                .SpoolHeld = FSpoolBusy,
                .PrintPending = FPrintPending,
                .Listed = FWaitingFiles.size()};
    }
    // Nothing in hand, as after a restart: no job held, no print run due.
    void Forget();
    // Called as each step of a tick ends (a delivery, a page, a job of a
    // burst) and as each tick begins: the loop is alive.
    void SetAliveHook(std::function<void()> alive) { FOnAlive = std::move(alive); }

private:
    // Tests stage what only a hung print run or a crash leaves behind.
    friend class TJobPipelineTestAccess;
    QTimer FSpoolTimer;
    QTimer FPrintingTimer;
    std::vector<std::string> FWaitingFiles;  // "name;size", sorted without case
    bool FSpoolBusy = false;
    bool FPrintPending = false;
    QDateTime FBusySince = QDateTime::currentDateTime();
    std::string FOutputFileName;
    TOutputPlan FPlan;  // what the print run of the composed report outputs
    std::string FCurrentDocPath;
    // The request whose output the print run is to produce.
    std::string FPendingRequest;
    std::function<void()> FOnAlive;

    // A spool file as it was read when taken.
    struct TTaken {
        std::string Name;
        bool Request = true;
        std::string Text;  // a request's lines joined
        std::int64_t Size = 0;
        std::string Hash;
        std::string FileId;
    };
    enum class TAdmission { Take, Skip };
    // A file's size and modification time when first seen so, and when.
    struct TSettling {
        std::int64_t Size = -1;
        std::int64_t ModifiedNs = 0;
        std::int64_t Since = 0;
    };

    // Milliseconds since the epoch.
    std::function<std::int64_t()> Now;
    void Tick();
    void Alive();
    // Whether the listed file has stayed as it is for the settle time; a
    // file that is gone or still changing is left for a later listing.
    bool Settled(const std::string& name, std::int64_t listedSize);
    // Drops listed files that are still being written; false when none is left.
    bool FirstCompleteFile(std::string& name);
    // Logged once per file as it is: a file that cannot be opened or read whole.
    void NotReadable(const std::string& name, const std::string& why);
    // false when no file was taken.
    bool TakeSpoolFile();
    // Whether the file is taken now: its bytes read, its job begun or taken
    // up again. Skipped: a job waiting for its next attempt, a file whose
    // job ended already, a request too large to read (sent to "failed").
    TAdmission Admit(const std::string& name);
    bool ReadTaken(const std::string& name);
    TAdmission TakeUp(TJobRow job);
    // A job that waits (for an outage, or for its next attempt) on the very
    // file it was taken from: passed over without reading the file.
    bool StillWaiting(const TJobRow& job);
    TAdmission AlreadyFinished(const TJobRow& job);
    void TakePrinterFile(const std::string& name);
    void TakeRequest(const std::string& name);
    // The scanned images of the record's scan id, within the tick.
    TJobEnd PrintScannedImages();
    // The print system as the outage board knows it, for choosing a printer.
    std::optional<TFailure> KnownDown() override;
    TFailure Down(const std::string& reason) override;
    std::optional<TFailure> PrinterDown(const std::string& printer) override;
    // The request waits for what the key names.
    TFailure Waiting(const std::string& key);
    TJobEnd Reject(std::string_view name, TJobExit exit, std::string reason);
    // What the job chose: printer, overlay, output.
    void RecordDecisions();
    // After the print run: the request leaves the spool folder once its output exists.
    void FinishPendingRequest(const TOutcome& output);
    // The current job's ends: done, unprintable, or failed for now (it
    // waits for its next attempt) or for good (its request goes to "failed").
    void EndJob(TJobState state, const std::string& reason, std::string_view event);
    void JobDone(std::string_view event);
    void JobUnprintable(const std::string& reason);
    void JobFailed(const std::string& reason);
    void GiveUp(const std::string& reason);
    // An output failed: an outage makes the job wait for it, a fault uses up
    // an attempt, a final failure sends the request to "failed" at once.
    void OutputFailed(const TFailure& failure, bool usedPrinter);
    // The current job waits for what is down, without using up an attempt.
    void WaitForOutage(const std::string& key, const std::string& reason);
    // The print system and the printer, asked once: the key of the outage
    // begun when either is down, empty when both take jobs.
    std::string PrintSystemOutage(const std::string& printer);
    void PrintSystemDown(const std::string& reason);
    // A folder the server writes to is full.
    std::string FolderFull(const std::string& folder, const std::string& reason);
    // What is down and what cannot be read, for the status of the home.
    void PublishState();
    void Idle();  // SpoolBusy cleared, BusySince now
    void Light(TLight light, TLightColor color) { FIndicators.SetLight(light, color); }
    void Repaint();

    const TServerConfig& FConfig;
    std::string FParsing;  // the request being parsed, for the graph's refusal
    // Everything the pipeline's parts log goes through it, so that a job's
    // warnings stay with the job; the recorder is made further down.
    TLogger& FOuterLog;
    TJobLog FJobLog {FOuterLog, FRecorder};
    TLogger& FLog = FJobLog;
    TIndicators& FIndicators;
    TJobWindow* FWindow = nullptr;
    TOutageBoard FOutages {FLog};
    std::map<std::string, TSettling> FSettling;  // by spool file name
    std::map<std::string, std::string> FNotReadable;  // name -> why, as logged
    std::set<std::string> FUnreadableNames;     // names that cannot be opened as listed
    // When each printer was last asked whether it takes jobs.
    std::map<std::string, std::int64_t> FPrinterAsked;

    TPrintingLayer FPrinting;
    TPrinterDevice FDevice {FPrinting};
    DocumentEngine FEngine;  // the document being composed (the window's document view)
    TImageComponent FImageProbe;  // hidden: sizes of request images
    TImageComponent FMultiImage;  // the scanned image being printed
    TReportRecord FRecord;
    std::vector<std::string> FTagList;
    TOverlayLookup FOverlays;  // over the driver-data file in the server's home
    TLprQueue FLprQueue;
    TJobRecorder FRecorder {FConfig, FLog, FPrinting, FOutages};
    TTaken FTaken;
    // The tag file could not be read at the last look: every job composed
    // meanwhile lacks the tag values.
    bool FTagsMissing = false;
};
