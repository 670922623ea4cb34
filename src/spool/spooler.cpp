#include "spool/spooler.h"

#include "print/printrun.h"
#include "print/scanprint.h"
#include "printers/printerselect.h"
#include "request/tagfile.h"
#include "spool/reportjob.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/spoolfiles.h"
#include "util/textutil.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kMaxRequestBytes = 256ull * 1024 * 1024;

std::int64_t ListedSize(std::string_view text)
{
    std::int64_t size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    return error == std::errc() && end == text.data() + text.size() && size >= 0 ? size : 0;
}

QDateTime Now()
{
    return QDateTime::currentDateTime();
}

}  // namespace

std::int64_t CountReadableBytes(const std::string& path, std::int64_t expected)
{
    // Opened for reading and writing: a file that its writer still holds
    // read-only, or that is read-only, counts as not complete.
    const int fd = ::open(NativePath(path).c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 0;
    std::int64_t total = 0;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char block[1000];
        for (;;) {
            const ssize_t got = ::read(fd, block, sizeof block);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            total += got;
            if (total > expected + 1000)
                break;
        }
    }
    ::close(fd);
    return total;
}

TSpooler::TSpooler(TSpoolerParts parts) : P(std::move(parts))
{
    SpoolTimer.setInterval(kSpoolInterval);
    printingtimer.setInterval(kPrintingInterval);
    QObject::connect(&SpoolTimer, &QTimer::timeout, &SpoolTimer, [this] { SpoolTimerTimer(); });
    QObject::connect(&printingtimer, &QTimer::timeout, &printingtimer, [this] { printingtimerTimer(); });
}

void TSpooler::Idle()
{
    BusySince = Now();
    SpoolBusy = false;
}

void TSpooler::SpoolTimerTimer()
{
    P.Indicators.SetPrintQueue(static_cast<unsigned>(WaitingFiles.size()));
    Light(TLight::Printing, PrintPending ? TLightColor::Red : TLightColor::Off);
    if (SpoolBusy) {
        Light(TLight::Spool, TLightColor::Red);
        if (BusySince.msecsTo(Now()) > kWatchdogSeconds * 1000LL) {
            P.Log.loginfo("The Print Spooler has been busy for too long:\r\n             Forcing Reset..");
            SpoolBusy = false;
            PrintPending = false;
            Light(TLight::Printing, TLightColor::Off);
            Light(TLight::Spool, TLightColor::Off);
            printingtimer.stop();
            BusySince = Now();
            try {
                if (P.AbortFtp)
                    P.AbortFtp();
            } catch (...) {
                // The connection is being dropped anyway.
            }
        }
        return;
    }
    SpoolBusy = true;
    BusySince = Now();
    const TLightColor spool = P.Indicators.Light(TLight::Spool);
    if (spool == TLightColor::Off)
        Light(TLight::Spool, TLightColor::Green);
    else if (spool == TLightColor::Green)
        Light(TLight::Spool, TLightColor::Off);
    try {
        Tick(P.Settings());
    } catch (const std::exception& failure) {
        // The job stays busy; the watchdog frees the server.
        P.Log.loginfo(failure.what());
    }
    Light(TLight::Convert, TLightColor::Off);
}

void TSpooler::Tick(const TJobSettings& s)
{
    if (P.DispatchLprQueue)
        P.DispatchLprQueue();
    if (s.SettingsScore <= 6) {
        P.Log.loginfo("At least 1 critical value is not set, Check printers and Settings");
        return;
    }
    if (WaitingFiles.empty()) {
        ListSpoolFiles(s.SpoolDir + "*.tvq", WaitingFiles);
        AppendSpoolFiles(s.SpoolDir + "*.prn", WaitingFiles);
    }
    P.Indicators.SetPrintQueue(static_cast<unsigned>(WaitingFiles.size()));
    if (WaitingFiles.empty()) {
        Idle();
        Light(TLight::Spool, TLightColor::Off);
        return;
    }
    ResetRecord(s.ProgramDir + "tags.txt", P.TagList, P.Record, P.Log);
    if (P.Repaint)
        P.Repaint();
    TakeSpoolFile(s);
}

void TSpooler::TakeSpoolFile(const TJobSettings& s)
{
    std::string name;
    for (;;) {
        const std::string& entry = WaitingFiles.front();
        name = Trim(TextBefore(entry, ";"));
        const std::int64_t size = ListedSize(Trim(TextAfter(entry, ";")));
        if (CountReadableBytes(s.SpoolDir + name, size) == size)
            break;
        P.Log.loginfo("Spooler file " + name + " is locked by another process, is faulty or is incompletely written.");
        WaitingFiles.erase(WaitingFiles.begin());
        if (WaitingFiles.empty()) {
            Idle();
            return;
        }
    }
    WaitingFiles.erase(WaitingFiles.begin());
    P.Log.loginfo("Found file " + name);
    // The backup copy is kept only where a "temp" folder exists.
    (void)CopyFileAtomic(s.SpoolDir + name, s.SpoolDir + "temp/" + name);
    Light(TLight::Convert, TLightColor::Green);

    if (LowerCase(ExtractFileExt(name)) == ".prn") {
        // A printer file whose copy failed stays in the spool folder to be
        // taken again; deleting it would lose the job.
        if (const std::string error = CopyFileAtomic(s.SpoolDir + name, s.LprQueueDir + "_" + name); !error.empty()) {
            P.Log.loginfo("Failed to copy PRN file " + name);
            P.Log.loginfo(error);
        } else {
            DeleteFileAt(s.SpoolDir + name);
        }
        SpoolBusy = false;
        return;
    }

    std::string text;
    if (!ReadRequestText(s.SpoolDir + name, text, kMaxRequestBytes)) {
        SpoolBusy = false;
        return;
    }
    switch (RunReportJob(text, name)) {
    case TJobExit::Completed:
        PendingRequest = name;  // deleted once the print run has produced its output
        break;
    case TJobExit::ScanPrinted:
        DeleteFileAt(s.SpoolDir + name);
        break;
    case TJobExit::ScanNotPrinted:
        P.Log.loginfo("Spooler file " + name + " stays in the spool folder and will be printed again.");
        break;
    default:
        return;  // each early exit has left the flags as it should
    }
    P.Indicators.SetPrintQueue(static_cast<unsigned>(WaitingFiles.size()));
    P.Engine.Refresh();
    if (P.Repaint)
        P.Repaint();
}

std::string TSpooler::MoveToUnprintable(std::string_view name)
{
    const std::string spoolDir = P.Settings().SpoolDir;
    const std::string dir = spoolDir + "unprintable/";
    if (!DirExists(dir) && !ForceDir(dir))
        return "Could not create the unprintable directory \"" + dir + "\"";
    return MoveFileTo(spoolDir, name, dir, name);
}

std::string TSpooler::SelectPrinterByNumber(std::string_view number)
{
    return ::SelectPrinterByNumber(number, P.SettingValue, P.Device.Printing);
}

void TSpooler::GetMacros(std::string& first, std::string& other)
{
    const TReportRecord& r = P.Record;
    P.Overlays.GetMacros({r.PrintMask, r.PrintMask2, r.PrnFileName, r.PrnOtherFileName}, P.Settings().OverlayDir,
                         P.Device.Printing.CurrentPrinter, P.Log, first, other);
}

TJobExit TSpooler::RunReportJob(std::string_view text, std::string_view name)
{
    const TJobSettings s = P.Settings();
    TReportRecord& r = P.Record;
    ParseIntoRecord(r, text);

    auto reject = [&](TJobExit exit) {
        if (const std::string moved = MoveToUnprintable(name); moved != "OK")
            P.Log.loginfo(moved);
        SpoolBusy = false;
        return exit;
    };
    if (IsUnprintable(r)) {
        P.Log.loginfo(UnprintableMessage(name));
        return reject(TJobExit::Unprintable);
    }

    if (SelectPrinterByNumber(r.PrinterNumber).empty()) {
        P.Log.loginfo("Printer " + r.PrinterNumber + " does not exist, using default (printer " +
                      s.DefaultPrinterNumber + ").");
        r.PrinterNumber = s.DefaultPrinterNumber;
        if (SelectPrinterByNumber(r.PrinterNumber).empty()) {
            const bool savedOnly = !r.OutputDocument.empty() && r.ScanId.empty();  // needs no printer
            if (!savedOnly && !P.Device.Printing.ListPrinters()) {
                // A print system that is down for a while must not send the
                // laboratory's requests to "unprintable".
                P.Log.loginfo("The print system does not answer; spooler file " + std::string(name) +
                              " waits in the spool folder.");
                SpoolBusy = false;
                return TJobExit::SchedulerDown;
            }
            P.Log.loginfo("No default printer!");
            if (!savedOnly)
                return reject(TJobExit::NoPrinter);
        }
    }

    StartReport(P.Engine, s.PageMargin);

    if (!r.ScanId.empty()) {
        TScanContext scan {r.ScanId,   r.PaperTray, s.ImageDirs, s.AutoScanSubDir,
                           P.MultiImage, P.Device,  P.Engine,    P.Log,
                           [this](std::string& first, std::string& other) { GetMacros(first, other); }};
        const bool printed = PrintScanJob(scan);
        P.MultiImage.SetImageName("");
        PrintPending = false;
        printingtimer.stop();
        SpoolBusy = false;
        return printed ? TJobExit::ScanPrinted : TJobExit::ScanNotPrinted;
    }

    TJobContext job {P.Engine,       r,           P.TagList,     P.Log,        P.Device.PageSetup,
                     s.TemplatesDir, s.ResultsDir, s.LprQueueDir, s.PageMargin, P.ImageProbe};
    const TComposeResult composed = ComposeReport(job, name);
    CurrentDocPath = composed.CurrentDocPath;
    switch (composed.Exit) {
    case TComposeExit::EmbeddedNotWritten: return TJobExit::EmbeddedNotWritten;
    case TComposeExit::DocumentNotLoaded: return TJobExit::DocumentNotLoaded;
    case TComposeExit::EngineFailed:
        P.Log.loginfo(composed.Failure);
        return TJobExit::EngineFailed;
    case TComposeExit::Completed: break;
    }
    Light(TLight::Convert, TLightColor::Off);
    OutputFileName = composed.OutputFileName;
    PrintPending = true;
    Light(TLight::Printing, TLightColor::Green);
    printingtimer.setInterval(kPrintingInterval);
    printingtimer.start();
    return TJobExit::Completed;
}

void TSpooler::printingtimerTimer()
{
    Light(TLight::Printing, PrintPending ? TLightColor::Red : TLightColor::Off);
    if (!SpoolBusy || !PrintPending)
        return;
    printingtimer.stop();
    BusySince = Now();
    const TJobSettings s = P.Settings();
    TPrintRunContext run {P.Engine,
                          P.Record,
                          P.Device,
                          P.Log,
                          s.LprQueueDir,
                          [this](std::string_view number) { return SelectPrinterByNumber(number); },
                          [this](std::string& first, std::string& other) { GetMacros(first, other); },
                          [this] { BusySince = Now(); },
                          P.DocumentViewShown,
                          P.ShowPrintDialog};
    bool done = false;
    try {
        done = PrintReport(run, OutputFileName);
    } catch (const std::exception& failure) {
        P.Log.loginfo(failure.what());
    }
    if (!PendingRequest.empty()) {
        if (!done)
            P.Log.loginfo("Spooler file " + PendingRequest + " stays in the spool folder and will be printed again.");
        else if (!DeleteFileAt(s.SpoolDir + PendingRequest) && FileExists(s.SpoolDir + PendingRequest))
            P.Log.loginfo("Spooler file " + PendingRequest + " could not be deleted; it will be printed again.");
        PendingRequest.clear();
    }
    PrintPending = false;
    SpoolBusy = false;
    Light(TLight::Printing, TLightColor::Off);
    Light(TLight::Spool, TLightColor::Off);
}
