// Start-up: settings file, derived directories, printer entries, directory checks.
#include "app/printserver.h"
#include "config/serverconfig.h"
#include "config/settingkeys.h"

#include "request/tagfile.h"
#include "spool/reportjob.h"
#include "util/codepage.h"
#include "compose/dynamictarget.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

void TPrintServer::DeriveTempDir()
{
    // TEMP by any letter case, as on the original platform, then TMPDIR.
    std::string temp;
    for (char** env = environ; env && *env && temp.empty(); ++env) {
        const char* eq = std::strchr(*env, '=');
        if (eq && SameText(std::string_view(*env, static_cast<std::size_t>(eq - *env)), "TEMP"))
            temp = eq + 1;
    }
    if (temp.empty())
        if (const char* tmpdir = std::getenv("TMPDIR"))
            temp = tmpdir;
    if (temp.empty()) {
        temp = ProgramDir + "temp";
        if (!DirExists(temp) && !ForceDir(temp))
            loginfo("Could not create the temporary folder " + temp);
    }
    TempDir = IncludeTrailingSlash(temp);
}

bool TPrintServer::StartUp()
{
    Spooler.SpoolBusy = false;
    Spooler.PrintPending = false;
    DeriveTempDir();
    Spooler.BusySince = QDateTime::currentDateTime();
    DataDelay = 1;
    // The FTP uploader keeps the window responsive while it transfers.
    Delivery.PrinterFtp.Ftp.OnProgress = [] { QCoreApplication::processEvents(); };

    StartUpFailure.clear();
    const std::string settingsPath = ProgramDir + kSettingsFile;
    if (!Settings.LoadFromFile(settingsPath)) {
        Settings.Clear();
        loginfo("Warning. Setup file is missing.");
        const bool exists = FileExists(settingsPath);
        loginfo("No settings read from " + settingsPath +
                (exists ? ": unreadable or larger than 4 MB" : ": no such file (PRINTORB_HOME names the home)"));
    }
    SettingsScore = 0;
    if (!setpagevalues())
        return false;

    // The report-job set-up: a fresh record, an empty A4 document, the tag list.
    ReportRecord = TReportRecord();
    ReportRecord.DrawDynamicRange = DrawDynamicRangeGraph;
    StartReport(Engine, PageMargin);
    LoadTagFile();

    LprQueueDir = ProgramDir + "lpdspooler/";
    if (!DirExists(LprQueueDir))
        if (!ForceDir(LprQueueDir))
            loginfo("Could not create the LPR queue folder " + LprQueueDir);
    CheckDirectories();
    loginfo(std::string(kCaption) + " started in " + ProgramDir + ", spool directory " + SpoolDir + ", " +
            std::to_string(Printers.Printerlist().size()) + " printer entries");
    return true;
}

bool TPrintServer::setpagevalues()
{
    const TServerConfig config = TServerConfig::Read(Settings);
    ResultsDir = config.ResultsDir;
    SpoolDir = config.SpoolDir;
    OverlayDir = config.OverlayDir;
    TemplatesDir = config.TemplatesDir;
    DefLetterhead = config.DefLetterhead;
    if (config.LpdDataDelay)
        DataDelay = *config.LpdDataDelay;

    if (config.FtpFailover) {
        // Ticking the box runs its handler, so an on value is then held as TRUE.
        Page.FtpFailover = true;
        FTPFailOVerCheckClick();
    }

    if (const std::vector<std::string> missing = config.MissingCritical(); !missing.empty()) {
        std::string names;
        for (const std::string& name : missing)
            names += (names.empty() ? "" : ", ") + name;
        StartUpFailure = "Not set in " + ProgramDir + kSettingsFile + ": " + names;
        loginfo(StartUpFailure);
        FPrompts->ShowMessage("", "A critical value was not set.  Tovaspooler will close.", TPrompts::Icon::Error);
        return false;
    }
    PageMargin = config.PageMarginOrDefault();

    FillSettingsPage();

    if (!ResultsDir.empty())
        SettingsScore += 2;
    if (!SpoolDir.empty())
        SettingsScore += 4;
    Page.UpdateEnabled = true;

    AutoScanSubDir = config.AutoScanSubDir;
    ImageDirs = config.ImageDirs;

    const bool havePrinters = LoadPrinterEntries();
    emit SettingsPageChanged();
    emit PrintersChanged();
    if (!havePrinters) {
        StartUpFailure = "No printer entries in " + ProgramDir + kSettingsFile +
                         ": the server needs at least one PRINTER<n>=<printer name> line";
        loginfo(StartUpFailure);
        return false;
    }

    SettingsScore += 1;
    return true;
}

void TPrintServer::FillSettingsPage()
{
    Page.ResultFiles = ResultsDir;
    Page.SpoolerDirectory = SpoolDir;
    Page.Templates = TemplatesDir;
    Page.DefaultLetterhead = DefLetterhead;
    Page.PageMargins = PageMargin;
    Page.LpdDelay = std::to_string(DataDelay);
    // Filling the Overlay Directory field is a change of that field.
    if (Page.OverlayDirectory != OverlayDir) {
        Page.OverlayDirectory = OverlayDir;
        OverlayEditChange();
    }
}

bool TPrintServer::LoadPrinterEntries()
{
    Printers.PrinterNameCombo = InstalledPrinters ? InstalledPrinters() : std::vector<std::string>();
    Printers.Clear();

    std::string defaultName;
    bool haveDefault = false;
    for (const std::string& line : Settings.Lines()) {
        if (line.compare(0, 7, keys::DefaultPrinter) != 0 || line.find('=') == std::string::npos)
            continue;
        const std::string number = TextBefore(std::string_view(line).substr(7), "=");
        if (!number.empty()) {
            Printers.AddLine(line.substr(7));
        } else {
            defaultName = TextAfter(line, "=");
            haveDefault = true;
            Printers.DefaultLabel = "Default is :" + defaultName;
        }
    }

    if (!haveDefault) {
        if (Printers.Printerlist().empty()) {
            Printers.DefaultLabel = "NO PRINTERS SET.";
            return false;
        }
        defaultName = TPrinterTable::PrinterNameOf(Printers.Printerlist().front());
        Settings.SetValue(keys::DefaultPrinter, defaultName);
        Printers.DefaultLabel = "Default is :" + defaultName;
    }

    const int index = IndexOfPrinterName(defaultName);
    DefaultPrinterNumber = index < 0 ? std::string() : TPrinterTable::NumberOf(Printers.Printerlist()[static_cast<std::size_t>(index)]);
    Printers.Select(index);
    Printers.updatePrinterNumList();
    return true;
}

bool TPrintServer::AskCreateDirectory(std::string_view caption, std::string_view what, std::string_view dir)
{
    const std::string text = "The " + std::string(what) + " directory " + std::string(dir) + " does not exist.\r\n" +
                             "Do you want to create it?";
    if (!FPrompts->AskYesNo(caption, text))
        return false;
    return ForceDir(dir);
}

bool TPrintServer::CheckDirectories()
{
    if (SpoolDir.empty() || ResultsDir.empty() || TemplatesDir.empty())
        return false;
    struct TCheck {
        const std::string& dir;
        const char* what;
        const char* boxCaption;
        const char* boxText;
    };
    const TCheck checks[] = {
        {SpoolDir, "Print Spooler", "Test Print Server", "Directory was not created.\r\nTest print failed: no Spooler Directory"},
        {ResultsDir, "Result Files", "Check Directories", "Directory was not created.\r\nNo Result Directory"},
        {TemplatesDir, "Templates/Letterhead", "Test Print Server",
         "Directory was not created.\r\nTest print failed: no Templates/LetterHead Directory"},
    };
    for (const TCheck& check : checks) {
        if (DirExists(check.dir))
            continue;
        if (!AskCreateDirectory("Checking Settings", check.what, check.dir)) {
            FPrompts->ShowMessage(check.boxCaption, check.boxText, TPrompts::Icon::Error);
            return false;
        }
    }
    return true;
}
