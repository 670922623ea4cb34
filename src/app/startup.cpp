// Start-up: settings file, derived directories, printer entries, directory checks.
#include "app/printserver.h"

#include "config/directorycheck.h"
#include "config/settingkeys.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <QCoreApplication>

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
    // The home's own temp folder is made once the start-up succeeded.
    FConfig.TempDir = IncludeTrailingSlash(temp.empty() ? FConfig.ProgramDir + "temp" : temp);
}

void TPrintServer::MakeTempDir()
{
    if (!DirExists(FConfig.TempDir))
        if (const TOutcome made = ForceDir(FConfig.TempDir); !made)
            loginfo("Could not create the temporary folder " + made.Reason());
}

void TPrintServer::LoadSettingsFile()
{
    const std::string path = FConfig.ProgramDir + kSettingsFile;
    if (FSettings.LoadFromFile(path))
        return;
    FSettings.Clear();
    loginfo("Warning. Setup file is missing.");
    loginfo("No settings read from " + path +
            (FileExists(path) ? ": unreadable or larger than 4 MB" : ": no such file (PRINTORB_HOME names the home)"));
}

bool TPrintServer::StartUp()
{
    FPipeline.Forget();
    DeriveTempDir();
    FConfig.DataDelay = 1;
    // The FTP uploader keeps the window responsive while it transfers.
    FPipeline.LprQueue().Ftp.Ftp.OnProgress = [] { QCoreApplication::processEvents(); };

    FStartUpFailure.clear();
    // A refused start-up leaves nothing behind, not even a new log file.
    FLog.HoldNewFile(true);
    LoadSettingsFile();
    FConfig.SettingsScore = 0;
    if (!setpagevalues() || !CheckWebStatus())
        return false;
    // Before anything in the spool folder is looked at: a second server on
    // the same home would output every report twice.
    FHomeTaken = false;
    if (const TOutcome taken = FHomeLock.Acquire(FConfig.ProgramDir); !taken) {
        FHomeTaken = true;
        FStartUpFailure = "Not started: " + taken.Reason() + "; two servers would output every report twice";
        loginfo(FStartUpFailure);
        FPrompts->ShowMessage("", FStartUpFailure + ".", TPrompts::Icon::Error);
        return false;
    }
    FLog.ReleaseHeldLines();
    MakeTempDir();

    FPipeline.PrepareJobs();
    CheckPrinterEntries();

    if (!DirExists(FConfig.LprQueueDir))
        if (const TOutcome made = ForceDir(FConfig.LprQueueDir); !made)
            loginfo("Could not create the LPR queue folder " + made.Reason());
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
    loginfo(FStartUpFailure);
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
        loginfo("The status page is not served: " + listening.Reason() + ".");
        return;
    }
    FWeb = std::move(web);
    loginfo("The status page is served at http://" + where->Text() + "/" +
            (FConfig.WebPasswordHash.empty() ? "" : " (with a password)") + ".");
}

bool TPrintServer::setpagevalues()
{
    FConfig.ReadStore(FSettings);
    if (FConfig.LpdDataDelay)
        FConfig.DataDelay = *FConfig.LpdDataDelay;

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
        loginfo(FStartUpFailure);
        // The box names the file and the keys too: an operator sees no standard error.
        FPrompts->ShowMessage("", "A critical value was not set.  Tovaspooler will close.\r\n\r\n" + FStartUpFailure + ".",
                              TPrompts::Icon::Error);
        return false;
    }

    FillSettingsPage();

    if (!FConfig.ResultsDir.empty())
        FConfig.SettingsScore += 2;
    if (!FConfig.SpoolDir.empty())
        FConfig.SettingsScore += 4;
    FPage.UpdateEnabled = true;

    const bool havePrinters = LoadPrinterEntries();
    emit SettingsPageChanged();
    emit PrintersChanged();
    if (!havePrinters) {
        FStartUpFailure = "No printer entries in " + FConfig.ProgramDir + kSettingsFile +
                          ": the server needs at least one PRINTER<n>=<printer name> line";
        loginfo(FStartUpFailure);
        return false;
    }

    FConfig.SettingsScore += 1;
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

    const std::optional<std::string> named = AddPrinterEntries(FPrinters, FSettings.Lines());
    std::string defaultName = named.value_or(std::string());
    const bool haveDefault = named.has_value();
    if (haveDefault)
        FPrinters.DefaultLabel = "Default is :" + defaultName;

    if (!haveDefault) {
        if (FPrinters.Printerlist().empty()) {
            FPrinters.DefaultLabel = "NO PRINTERS SET.";
            return false;
        }
        defaultName = TPrinterTable::PrinterNameOf(FPrinters.Printerlist().front());
        FSettings.SetValue(keys::DefaultPrinter, defaultName);
        FPrinters.DefaultLabel = "Default is :" + defaultName;
    }

    FConfig.DefaultPrinterNumber = DefaultPrinterNumber(FSettings.Lines());
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
        loginfo("The printer entries could not be checked: the print system at " +
                FPipeline.Printing().SchedulerName() + " does not answer.");
        return;
    }
    for (const auto& [key, name] : entries)
        if (!name.empty() && said.Find(name).empty())
            loginfo("The print system does not know the printer \"" + name + "\" of " + key + " in " +
                    kSettingsFile + ".");
}

bool TPrintServer::CheckDirectories()
{
    return ::CheckDirectories(FConfig, *FPrompts);
}
