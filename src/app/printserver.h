// The print server without its widgets: the settings and their typed view,
// the printer table, the start-up, the Settings page's handlers, the log, the
// lights and counters, the prompts and the spooler link. Everything jobs use
// lives in the job pipeline it owns. The window shows this state; the
// unattended program runs it alone; tests drive it directly.
#pragma once

#include "app/eventlog.h"
#include "app/headlessprompts.h"
#include "app/webstatus.h"
#include "config/serverconfig.h"
#include "config/settingseditor.h"
#include "printers/printertable.h"
#include "spool/pipeline.h"
#include "spoolserver/spoolerlink.h"
#include "util/environment.h"
#include "util/homelock.h"
#include "util/indicators.h"
#include "util/prompts.h"
#include "util/version.h"

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    static constexpr const char* kSettingsFile = TServerHome::kSettings;

    // programDir ends in "/"; the log file lives there from the first line on.
    // Until SetPrompts, nothing blocks: boxes go to the log, questions are No.
    // env is what the program took from its environment (TEMP, the package's
    // root, the journal's stream).
    explicit TPrintServer(std::string programDir, TProgramEnvironment env = {});

    // The whole start-up; false when the program must end (StartUpFailure says why).
    bool StartUp();
    bool setpagevalues();
    bool CheckDirectories();
    int IndexOfPrinterName(std::string_view name) const { return FPrinters.IndexOfPrinterName(name); }
    const std::string& StartUpFailure() const { return FStartUpFailure; }
    // The start-up refused because another server runs on this home.
    bool HomeTaken() const { return FHomeTaken; }

    // Settings page handlers. They read and write Page(); the window mirrors it.
    void UpdateButtonClick();
    void LPDDataDelayExit();
    void FTPFailOVerCheckClick();
    void OverlayEditChange();
    // false when the address needs correcting (the message has been shown).
    bool SpoolServerEditExit();

    void loginfo(std::string_view message) { FLog.loginfo(message); }
    void logwarning(std::string_view message) { FLog.logwarning(message); }
    void logerror(std::string_view message) { FLog.logerror(message); }
    void SetPrompts(TPrompts& prompts) { FPrompts = &prompts; }
    TPrompts& Prompts() { return *FPrompts; }
    // Where the installed printer names come from: the printing layer unless replaced.
    void SetInstalledPrinters(std::function<std::vector<std::string>()> source);
    std::vector<std::string> InstalledPrinters() const { return FInstalledPrinters(); }

    TEventLog& Log() { return FLog; }
    // Unattended: every line to standard error too, in the journal's format
    // when standard error is the journal's stream.
    void MirrorLogToStderr(bool on) { FLog.SetMirrorToStderr(on, FEnv.JournalStream); }
    TIndicators& Indicators() { return FIndicators; }
    TSpoolerLink& SpoolerLink() { return FSpoolerLink; }
    // The only writer of the settings; each change makes the next Config().
    TSettingsEditor& Settings() { return FSettings; }
    const TServerConfig& Config() const { return FConfig; }
    TPrinterTable& Printers() { return FPrinters; }
    TSettingsPage& Page() { return FPage; }
    TJobPipeline& Pipeline() { return FPipeline; }
    // The status page, when WEBSTATUS names where it listens; null otherwise.
    TWebServer* WebServer() { return FWeb.get(); }

signals:
    void SettingsPageChanged();
    void PrintersChanged();

private:
    // A new configuration with the start-up's values changed by change.
    template <typename F>
    void ChangeStart(F change)
    {
        TServerStart start = FConfig.Start();
        change(start);
        FConfig = FConfig.WithStart(start);
    }
    // Everything read again from the store ("Update Now", the start-up).
    void ReadConfig() { FConfig = TServerConfig::Read(FSettings.Store(), FConfig.Start()); }
    void DeriveTempDir();
    void MakeTempDir();
    void LoadSettingsFile();
    bool LoadPrinterEntries();  // false when there is no printer entry at all
    // Each PRINTER and PRINTER<n> name the print system does not know is
    // logged: its reports would go to the default printer.
    void CheckPrinterEntries();
    void FillSettingsPage();
    void BoundDataDelay();  // the Settings page's delay field into the running delay
    // WEBSTATUS and WEBPASSWORD as the page may be served; false refuses the start-up.
    bool CheckWebStatus();
    // Listens; a port it cannot have is logged, the server prints all the same.
    void StartWebStatus();

    TProgramEnvironment FEnv;
    TEventLog FLog;
    TIndicators FIndicators;
    TSettingsEditor FSettings;
    TServerConfig FConfig;
    TPrinterTable FPrinters;
    TSettingsPage FPage;
    TSpoolerLink FSpoolerLink {FLog};
    TJobPipeline FPipeline {FConfig, FLog, FIndicators};
    std::string FStartUpFailure;
    THomeLock FHomeLock;
    bool FHomeTaken = false;
    std::function<std::vector<std::string>()> FInstalledPrinters;
    THeadlessPrompts FHeadless {FLog};
    TPrompts* FPrompts = &FHeadless;
    TServerWebSource FWebSource {*this};
    std::unique_ptr<TWebServer> FWeb;
};
