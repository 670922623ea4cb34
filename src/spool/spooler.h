// The job pipeline of the server: the spool tick that takes one spool file
// every five seconds, the report job sequence that turns a request into a
// composed report, and the hand-over to the print run on the printing timer.
// A request stays in the spool folder until its output exists, so a crash
// or a kill between intake and output never loses it; it is taken again
// after a restart.
#pragma once

#include "delivery/overlaylookup.h"
#include "platform/docengine/documentengine.h"
#include "platform/imaging/imagecomponent.h"
#include "print/printdevice.h"
#include "request/reportrecord.h"
#include "util/indicators.h"
#include "util/logger.h"

#include <QDateTime>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The settings the pipeline works with, read from the server at each step.
struct TJobSettings {
    std::string ProgramDir;
    std::string SpoolDir;
    std::string ResultsDir;
    std::string TemplatesDir;
    std::string OverlayDir;
    std::string LprQueueDir;
    std::string PageMargin;
    std::vector<std::string> ImageDirs;
    std::string AutoScanSubDir;
    std::string DefaultPrinterNumber;
    int SettingsScore = 0;
};

// What the pipeline uses of the server; all owned by the server.
struct TSpoolerParts {
    TLogger& Log;
    TIndicators& Indicators;
    DocumentEngine& Engine;
    TReportRecord& Record;
    std::vector<std::string>& TagList;
    TPrinterDevice& Device;
    TImageComponent& ImageProbe;  // hidden: sizes of request images
    TImageComponent& MultiImage;  // scanned images
    TOverlayLookup& Overlays;
    std::function<TJobSettings()> Settings;
    std::function<std::string(std::string_view key)> SettingValue;
    std::function<void()> DispatchLprQueue;
    std::function<void()> AbortFtp;
    std::function<void()> Repaint;
    std::function<bool()> DocumentViewShown;
    std::function<void()> ShowPrintDialog;
};

// How a job ended.
enum class TJobExit {
    Completed,           // composed; waits for the print run
    ScanPrinted,         // scanned images printed within the tick
    ScanNotPrinted,      // some image was not accepted: the request is taken again later
    Unprintable,         // moved to "unprintable"
    NoPrinter,           // no printer at all could be selected
    SchedulerDown,       // the print system does not answer: the request waits
    EmbeddedNotWritten,  // the server stays busy until the watchdog
    DocumentNotLoaded,   // likewise
    EngineFailed,        // likewise
};

// The bytes of a file that can be read, counted in blocks of 1000 and never
// much more than expected; 0 when it cannot be opened for reading and writing.
std::int64_t CountReadableBytes(const std::string& path, std::int64_t expected);

class TSpooler {
public:
    static constexpr int kSpoolInterval = 5000;
    static constexpr int kPrintingInterval = 1500;
    static constexpr int kWatchdogSeconds = 180;

    explicit TSpooler(TSpoolerParts parts);

    // The timers' handlers; tests call them directly.
    void SpoolTimerTimer();
    void printingtimerTimer();

    TJobExit RunReportJob(std::string_view text, std::string_view name);
    // "OK", an error of the move, or the folder that could not be made.
    std::string MoveToUnprintable(std::string_view name);
    // The job's printer by number (the server's printer table).
    std::string SelectPrinterByNumber(std::string_view number);
    // The overlay texts of the current request for the current printer.
    void GetMacros(std::string& first, std::string& other);

    QTimer SpoolTimer;
    QTimer printingtimer;
    std::vector<std::string> WaitingFiles;  // "name;size", sorted without case
    bool SpoolBusy = false;
    bool PrintPending = false;
    QDateTime BusySince = QDateTime::currentDateTime();
    std::string OutputFileName;
    std::string CurrentDocPath;
    // The request whose output the print run is to produce.
    std::string PendingRequest;

private:
    void Tick(const TJobSettings& settings);
    void TakeSpoolFile(const TJobSettings& settings);
    void Idle();  // SpoolBusy cleared, BusySince now
    void Light(TLight light, TLightColor color) { P.Indicators.SetLight(light, color); }

    TSpoolerParts P;
};
