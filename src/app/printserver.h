// The print server without its widgets: settings, derived directories, the
// printer table, the job flags, the lights, the log and the spooler link, with
// the start-up and the Settings page's handlers. The window shows this state;
// tests drive it directly.
#pragma once

#include "app/eventlog.h"
#include "app/headlessprompts.h"
#include "delivery/ftpuploader.h"
#include "delivery/lpdclient.h"
#include "delivery/lprqueue.h"
#include "delivery/overlaylookup.h"
#include "util/indicators.h"
#include "config/settingsstore.h"
#include "platform/docengine/documentengine.h"
#include "platform/imaging/imagecomponent.h"
#include "platform/printing/printinglayer.h"
#include "print/printdevice.h"
#include "printers/printertable.h"
#include "request/reportrecord.h"
#include "spool/spooler.h"
#include "spoolserver/spoolerlink.h"
#include "util/prompts.h"
#include "util/version.h"

#include <QDateTime>
#include <QObject>
#include <functional>
#include <string>
#include <vector>

// Delivery of printer files: the LPR queue and its two network routes.
struct TDelivery {
    TsbLPD Lpd;
    TsbprinterFTP PrinterFtp;
    TLprQueue LprQueue;
};

// The Settings page's fields as the operator sees them.
struct TSettingsPage {
    std::string ResultFiles;
    std::string SpoolerDirectory;
    std::string OverlayDirectory;
    std::string Templates;
    std::string DefaultLetterhead;
    std::string PageMargins;
    std::string LpdDelay;
    std::string SpoolServer;
    bool FtpFailover = false;
    bool UpdateEnabled = false;
};

class TPrintServer : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kCaption = kProgramCaption;
    static constexpr const char* kSettingsFile = "printserver.inf";

    // programDir ends in "/"; the log file lives there from the first line on.
    // Until SetPrompts, nothing blocks: boxes go to the log, questions are No.
    explicit TPrintServer(std::string programDir, QObject* parent = nullptr);

    // The whole start-up; false when the program must end.
    bool StartUp();
    bool setpagevalues();
    bool CheckDirectories();
    bool AskCreateDirectory(std::string_view caption, std::string_view what, std::string_view dir);
    int IndexOfPrinterName(std::string_view name) const { return Printers.IndexOfPrinterName(name); }

    // Settings page handlers. They read and write Page; the window mirrors it.
    void UpdateButtonClick();
    void LPDDataDelayExit();
    void FTPFailOVerCheckClick();
    void OverlayEditChange();
    // false when the address needs correcting (the message has been shown).
    bool SpoolServerEditExit();

    // tags.txt into TagList and the record's values; the warning when missing.
    void LoadTagFile();
    // One delivery round of the LPR queue (run by the spool tick).
    void DispatchLprQueue();
    // The printer of a printer number made current; empty when none could be.
    std::string SelectPrinterByNumber(std::string_view number) { return Spooler.SelectPrinterByNumber(number); }

    // A request's marked-up result text in place of the engine's selection.
    bool SetResultText(std::string_view text, std::string_view fontName, std::string_view sizeText);

    void loginfo(std::string_view message) { Log.loginfo(message); }
    void SetPrompts(TPrompts& prompts) { FPrompts = &prompts; }
    TPrompts& Prompts() { return *FPrompts; }

    // Where the installed printer names come from (the printing layer unless replaced).
    std::function<std::vector<std::string>()> InstalledPrinters;
    // Set by the window: whether the operator watches the document view, and
    // a repaint of the window while a job holds the thread.
    std::function<bool()> DocumentViewShown;
    std::function<void()> Repaint;
    // The window's beep (a printer file without a host); silent without one.
    std::function<void()> Beep;

    // --- What the operator sees: the log, the lights and counters, the link.
    TEventLog Log;
    TIndicators Indicators;
    TSpoolerLink SpoolerLink;

    // --- Settings: the store, the printer table and the Settings page's fields.
    TSettings Settings;
    TPrinterTable Printers;
    TSettingsPage Page;

    // --- Printing and documents.
    TPrintingLayer Printing;
    TPrinterDevice Device {Printing};
    DocumentEngine Engine;  // the document being composed (the window's ResultBox)
    TImageComponent ImageProbe;  // hidden: sizes of request images
    TImageComponent MultiImage;  // the scanned image being printed
    TReportRecord ReportRecord;
    std::vector<std::string> TagList;

    // --- Delivery of printer files.
    TDelivery Delivery;

    // --- Running values, taken from the settings at start-up ("Update Now"
    // changes some of them).
    std::string ProgramDir;
    std::string TempDir;
    std::string SpoolDir;
    std::string ResultsDir;
    std::string TemplatesDir;
    std::string OverlayDir;
    std::string LprQueueDir;
    std::vector<std::string> ImageDirs;
    std::string AutoScanSubDir;
    std::string DefLetterhead;
    std::string PageMargin;
    std::string SpoolServerAddress;
    std::string DefaultPrinterNumber;

    // Why the last start-up refused to run (the path or setting concerned).
    std::string StartUpFailure;

    int& DataDelay = Delivery.Lpd.DataDelay;  // the LPD client's pause per 1000 data bytes
    int SettingsScore = 0;

    // --- Jobs: the overlay lookup and the spooler, with its flags and timers.
    TOverlayLookup Overlays;  // over the driver-data file in ProgramDir
    TSpooler Spooler;         // the spool tick, the job sequence and the print run

signals:
    void SettingsPageChanged();
    void PrintersChanged();

private:
    void DeriveTempDir();
    bool LoadPrinterEntries();  // false when there is no printer entry at all
    void FillSettingsPage();
    TJobSettings JobSettings() const;

    THeadlessPrompts FHeadless {Log};
    TPrompts* FPrompts = &FHeadless;
};
