#include "delivery/lprqueue.h"

#include "delivery/pcloverlay.h"
#include "delivery/rawprinter.h"
#include "util/fileutil.h"
#include "util/spoolfiles.h"
#include "util/textutil.h"

#include <QDateTime>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr std::uint64_t kMaxPrinterFileBytes = 512ull * 1024 * 1024;

bool IsWholeNumber(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The FTP route's own copy of the prepared file, named by the time of the attempt.
std::string FtpCopyName(const std::string& tempDir)
{
    return tempDir + "ftpprnfile" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyMMddhhmmsszzz")).toStdString() + ".prn";
}

}  // namespace

TLprQueue::TLprQueue(const TServerConfig& config, TLogger& log, TIndicators& indicators)
    : FConfig(config), FLog(log), FIndicators(indicators)
{
}

void TLprQueue::DispatchLprQueue()
{
    struct TLightsOff {
        TIndicators& Indicators;
        ~TLightsOff() { Indicators.SetLight(TLight::LPR, TLightColor::Off); }
    } lightsOff {FIndicators};
    FIndicators.SetLight(TLight::LPR, TLightColor::Green);
    if (LprQueueFiles.empty())
        ListSpoolFiles(FConfig.LprQueueDir + "*.prn", LprQueueFiles);
    FIndicators.SetLPRQueue(static_cast<unsigned>(LprQueueFiles.size()));
    if (LprQueueFiles.empty()) {
        FIndicators.SetLight(TLight::Convert, TLightColor::Off);
        return;
    }
    for (int pass = 0; !LprQueueFiles.empty() && pass < kPassesPerTick; ++pass)
        Attempt(TextBefore(LprQueueFiles.front(), ";"));
}

void TLprQueue::PrepareCopy(const std::string& name, const std::string& overlay)
{
    const std::string queued = FConfig.LprQueueDir + name;
    const std::string prepared = FConfig.TempDir + name;
    // The overlay step's result is deliberately not examined: without the
    // prepared copy the routes below fail and the file stays queued.
    if (IsWholeNumber(overlay))
        static_cast<void>(InsertMacroCall(queued, prepared, overlay));
    else if (!overlay.empty() && FileExists(FConfig.OverlayDir + overlay))
        static_cast<void>(MergeOverlayFile(queued, prepared, FConfig.OverlayDir + overlay));
    else
        static_cast<void>(InsertMacroCall(queued, prepared, ""));
}

void TLprQueue::Attempt(const std::string& name)
{
    const std::string printer = NthField(name, '_', 2);
    PrepareCopy(name, TextBefore(name, "_"));

    const std::string prepared = FConfig.TempDir + name;
    const bool spooled = SendViaSpooler ? SendViaSpooler(prepared) : ::SendViaSpooler(prepared, FConfig);
    if (spooled) {
        FLog.loginfo("Sent Job via windows Spooler.");
        Delivered(name);
        return;
    }

    const std::string host = FConfig.HostOf(printer);
    if (host.empty()) {
        FLog.loginfo("NO IP address assigned for Printer " + printer + " with Overlay Request");
        if (Beep)
            Beep();
        return;
    }

    const TResult<std::string> bytes = ReadFileBytes(prepared, kMaxPrinterFileBytes);
    if (!bytes)
        throw std::runtime_error("Cannot open " + prepared);
    const std::string ftpCopy = FtpCopyName(FConfig.TempDir);
    // Not examined: a missing copy makes the FTP route report "-1 Data file does not exist.".
    static_cast<void>(WriteFileAtomic(ftpCopy, *bytes));
    struct TRemoveCopy {
        const std::string& Path;
        ~TRemoveCopy() { DeleteFileAt(Path); }
    } removeCopy {ftpCopy};

    if (SendOverNetwork(name, host, *bytes, ftpCopy))
        Delivered(name);
    if (Pause)
        Pause(500);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

TLpdResult TLprQueue::SendByLpd(const std::string& host, const std::string& bytes)
{
    Lpd.NextJob();
    Lpd.StatusText.clear();
    Lpd.DataDelay = FConfig.DataDelay;
    FIndicators.SetLight(TLight::LPR, TLightColor::Red);
    struct TLightOff {
        TIndicators& Indicators;
        ~TLightOff() { Indicators.SetLight(TLight::LPR, TLightColor::Off); }
    } lightOff {FIndicators};
    std::istringstream data(bytes);
    try {
        return Lpd.Send(host, "", "printorb", "printorb", kLpdDomain, data);
    } catch (...) {
        if (!Lpd.Detail.empty())
            FLog.loginfo("LPD to " + Lpd.Detail);
        throw;
    }
}

bool TLprQueue::SendOverNetwork(const std::string& name, const std::string& host, const std::string& bytes,
                                const std::string& ftpCopy)
{
    const TLpdResult lpd = SendByLpd(host, bytes);
    if (lpd == TLpdResult::Delivered) {
        FLog.loginfo("Sent LPD Job " + name + " OK");
        return true;
    }
    FLog.loginfo("LPD Print result was " + std::to_string(Code(lpd)) + " " + Lpd.StatusText);
    // Where and why, for whoever reads the log.
    FLog.loginfo("LPD to " + Lpd.Detail);
    if (!FailoverApplies(lpd) || !FConfig.FtpFailover())
        return false;

    if (!Ftp.IsFree()) {
        FLog.loginfo("ERROR: FTP Printer already connected.");
        FLog.loginfo("FTP Print result was " + std::to_string(Code(lpd)) + " " + Ftp.StatusText);
        return false;
    }
    const TFtpResult ftp = Ftp.Send(host, ftpCopy, "printorb", "", "");
    if (ftp == TFtpResult::Delivered) {
        FLog.loginfo("Sent FTP Job " + name + " OK");
        return true;
    }
    FLog.loginfo("FTP Print result was " + std::to_string(Code(ftp)) + " " + Ftp.StatusText);
    if (!Ftp.Detail.empty())
        FLog.loginfo("FTP failover: " + Ftp.Detail);
    return false;
}

void TLprQueue::Delivered(const std::string& name)
{
    LprQueueFiles.erase(LprQueueFiles.begin());
    if (!DeleteFileAt(FConfig.LprQueueDir + name))
        FLog.loginfo("The delete operation failed on " + name);
    DeleteFileAt(FConfig.TempDir + name);
}
