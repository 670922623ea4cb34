// Start-up: settings file, derived directories, printer entries, directory checks.
#include "app/printserver.h"

#include "config/directorycheck.h"
#include "config/settingkeys.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <QCoreApplication>

void TPrintServer::DeriveTempDir()
{
    // The home's own temp folder is made once the start-up succeeded.
    ChangeStart([this](TServerStart& start) {
        start.TempDir = IncludeTrailingSlash(FEnv.Temp.empty() ? start.ProgramDir + "temp" : FEnv.Temp);
    });
}

void TPrintServer::MakeTempDir()
{
    if (!DirExists(FConfig.TempDir))
        if (const TOutcome made = ForceDir(FConfig.TempDir); !made)
            logerror("Could not create the temporary folder " + made.Reason());
}

void TPrintServer::LoadSettingsFile()
{
    const std::string path = FConfig.ProgramDir + kSettingsFile;
    if (FSettings.Load(path))
        return;
    FSettings.Clear();
    logwarning("Warning. Setup file is missing.");
    logwarning("No settings read from " + path +
               (FileExists(path) ? ": unreadable or larger than 4 MB"
                                 : ": no such file (PRINTORB_HOME names the home)"));
}

bool TPrintServer::StartUp()
{
    FPipeline.Forget();
    DeriveTempDir();
    ChangeStart([](TServerStart& start) { start.DataDelay = 1; });
    // The FTP uploader keeps the window responsive while it transfers.
    FPipeline.LprQueue().Ftp.Ftp.OnProgress = [] { QCoreApplication::processEvents(); };

    FStartUpFailure.clear();
    // A refused start-up leaves nothing behind, not even a new log file.
    FLog.HoldNewFile(true);
    LoadSettingsFile();
    ChangeStart([](TServerStart& start) { start.SettingsScore = 0; });
    if (!setpagevalues() || !CheckWebStatus())
        return false;
    // Before anything in the spool folder is looked at: a second server on
    // the same home would output every report twice.
    FHomeTaken = false;
    if (const TOutcome taken = FHomeLock.Acquire(FConfig.ProgramDir); !taken) {
        FHomeTaken = true;
        FStartUpFailure = "Not started: " + taken.Reason() + "; two servers would output every report twice";
        logerror(FStartUpFailure);
        FPrompts->ShowMessage("", FStartUpFailure + ".", TPrompts::Icon::Error);
        return false;
    }
    FLog.ReleaseHeldLines();
    MakeTempDir();

    FPipeline.PrepareJobs();
    CheckPrinterEntries();

    if (!DirExists(FConfig.LprQueueDir))
        if (const TOutcome made = ForceDir(FConfig.LprQueueDir); !made)
            logerror("Could not create the LPR queue folder " + made.Reason());
    CheckDirectories();
    loginfo(std::string("PrintORB ") + kProgramVersion + " started in " + FConfig.ProgramDir + ", spool directory " + FConfig.SpoolDir +
            ", " + std::to_string(FPrinters.Printerlist().size()) + " printer entries");
    StartWebStatus();
    return true;
}

bool TPrintServer::CheckWebStatus()
{
    if (FConfig.WebStatus.empty())
        return true;
    const TResult<TWebAddress> where = ParseWebAddress(FConfig.WebStatus);
    std::string wrong;
    if (!where)
        wrong = "WEBSTATUS in " + FConfig.ProgramDir + kSettingsFile + ": " + where.Reason();
    else if (!FConfig.WebPasswordHash.empty() && !FConfig.WebPasswordHash.starts_with("$argon2"))
        wrong = "WEBPASSWORD in " + FConfig.ProgramDir + kSettingsFile +
                " is not a password hash; printorb-tool web-password sets one";
    else if (!where->Loopback() && FConfig.WebPasswordHash.empty())
        wrong = "WEBSTATUS names " + where->Text() + ", which is not a loopback address, and no WEBPASSWORD is set "
                "in " + FConfig.ProgramDir + kSettingsFile + ": anyone on the network would read the patients' "
                "jobs. printorb-tool web-password sets one";
    if (wrong.empty())
        return true;
    FStartUpFailure = "Not started: " + wrong;
    logerror(FStartUpFailure);
    FPrompts->ShowMessage("", FStartUpFailure + ".", TPrompts::Icon::Error);
    return false;
}

void TPrintServer::StartWebStatus()
{
    FWeb.reset();
    if (FConfig.WebStatus.empty())
        return;
    const TResult<TWebAddress> where = ParseWebAddress(FConfig.WebStatus);
    if (!where)
        return;
    auto web = std::make_unique<TWebServer>(FWebSource, FConfig.WebPasswordHash);
    if (const TOutcome listening = web->Listen(*where); !listening) {
        logerror("The status page is not served: " + listening.Reason() + ".");
        return;
    }
    FWeb = std::move(web);
    loginfo("The status page is served at http://" + where->Text() + "/" +
            (FConfig.WebPasswordHash.empty() ? "" : " (with a password)") + ".");
}

bool TPrintServer::setpagevalues()
{
    ReadConfig();
    if (FConfig.LpdDataDelay)
        ChangeStart([this](TServerStart& start) { start.DataDelay = *FConfig.LpdDataDelay; });

    if (FConfig.FtpFailover()) {
        // Ticking the box runs its handler, so an on value is then held as TRUE.
        FPage.FtpFailover = true;
        FTPFailOVerCheckClick();
    }

    if (const std::vector<std::string> missing = FConfig.MissingCritical(); !missing.empty()) {
        std::string names;
        for (const std::string& name : missing)
            names += (names.empty() ? "" : ", ") + name;
        FStartUpFailure = "Not set in " + FConfig.ProgramDir + kSettingsFile + ": " + names;
        logerror(FStartUpFailure);
        // The box names the file and the keys too: an operator sees no standard error.
        FPrompts->ShowMessage("", "A critical value was not set.  Tovaspooler will close.\r\n\r\n" + FStartUpFailure + ".",
                              TPrompts::Icon::Error);
        return false;
    }

    FillSettingsPage();

    ChangeStart([this](TServerStart& start) {
        start.SettingsScore += (FConfig.ResultsDir.empty() ? 0 : 2) + (FConfig.SpoolDir.empty() ? 0 : 4);
    });
    FPage.UpdateEnabled = true;

    const bool havePrinters = LoadPrinterEntries();
    emit SettingsPageChanged();
    emit PrintersChanged();
    if (!havePrinters) {
        FStartUpFailure = "No printer entries in " + FConfig.ProgramDir + kSettingsFile +
                          ": the server needs at least one PRINTER<n>=<printer name> line";
        logerror(FStartUpFailure);
        return false;
    }

    ChangeStart([](TServerStart& start) { start.SettingsScore += 1; });
    return true;
}

void TPrintServer::FillSettingsPage()
{
    FPage.ResultFiles = FConfig.ResultsDir;
    FPage.SpoolerDirectory = FConfig.SpoolDir;
    FPage.Templates = FConfig.TemplatesDir;
    FPage.DefaultLetterhead = FConfig.DefLetterhead;
    FPage.PageMargins = FConfig.PageMarginOrDefault();
    FPage.LpdDelay = std::to_string(FConfig.DataDelay);
    // Filling the Overlay Directory field is a change of that field.
    if (FPage.OverlayDirectory != FConfig.OverlayDir) {
        FPage.OverlayDirectory = FConfig.OverlayDir;
        OverlayEditChange();
    }
}

bool TPrintServer::LoadPrinterEntries()
{
    FPrinters.PrinterNameCombo = FInstalledPrinters ? FInstalledPrinters() : std::vector<std::string>();
    FPrinters.Clear();

    const TPrinterLines lines = ReadPrinterLines(FSettings.Store());
    for (const std::string& line : lines.Numbered)
        FPrinters.AddLine(line);
    std::string defaultName = lines.Default.value_or("");
    if (lines.Default) {
        FPrinters.DefaultLabel = "Default is :" + defaultName;
    } else {
        if (FPrinters.Printerlist().empty()) {
            FPrinters.DefaultLabel = "NO PRINTERS SET.";
            return false;
        }
        defaultName = TPrinterTable::PrinterNameOf(FPrinters.Printerlist().front());
        FSettings.SetValue(keys::DefaultPrinter, defaultName);
        FPrinters.DefaultLabel = "Default is :" + defaultName;
    }

    ChangeStart([&](TServerStart& start) { start.DefaultPrinterNumber = DefaultPrinterNumber(FSettings.Store()); });
    FPrinters.Select(IndexOfPrinterName(defaultName));
    FPrinters.updatePrinterNumList();
    return true;
}

void TPrintServer::CheckPrinterEntries()
{
    std::vector<std::pair<std::string, std::string>> entries;  // key, printer name
    for (const std::string& line : FPrinters.Printerlist())
        entries.emplace_back(std::string(keys::DefaultPrinter) + TPrinterTable::NumberOf(line),
                             TPrinterTable::PrinterNameOf(line));
    entries.emplace_back(keys::DefaultPrinter, Trim(TextBefore(FConfig.DefaultPrinterName() + "|", "|")));
    // Asked once, within the scheduler's time-out: a silent one delays the
    // start by that much at most.
    const TDestinations said = FPipeline.Printing().Destinations(0);
    if (!said.Answered) {
        logwarning("The printer entries could not be checked: the print system at " +
                   FPipeline.Printing().SchedulerName() + " does not answer.");
        return;
    }
    for (const auto& [key, name] : entries)
        if (!name.empty() && said.Find(name).empty())
            logwarning("The print system does not know the printer \"" + name + "\" of " + key + " in " +
                       kSettingsFile + ".");
}

bool TPrintServer::CheckDirectories()
{
    return ::CheckDirectories(FConfig, *FPrompts);
}
