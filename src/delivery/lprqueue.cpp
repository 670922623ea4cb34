#include "delivery/lprqueue.h"

#include "delivery/pcloverlay.h"
#include "delivery/rawprinter.h"
#include "util/fileutil.h"
#include "util/spoolfiles.h"
#include "util/textutil.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

constexpr std::uint64_t kMaxPrinterFileBytes = 512ull * 1024 * 1024;
constexpr std::int64_t kRepeatedFailureMs = 3600 * 1000;

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
    for (int pass = 0; !LprQueueFiles.empty() && pass < kPassesPerTick;) {
        const std::size_t before = LprQueueFiles.size();
        Attempt(TextBefore(LprQueueFiles.front(), ";"));
        if (!SendAll || LprQueueFiles.size() == before)
            ++pass;
    }
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

void TLprQueue::Record(TDeliveryAttempt attempt)
{
    if (!Journal)
        return;
    const std::string key = attempt.File + "\n" + attempt.Route;
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (attempt.Code != 0) {
        const auto last = FLastFailures.find(key);
        if (last != FLastFailures.end() && last->second.Code == attempt.Code && now - last->second.At < kRepeatedFailureMs)
            return;
        FLastFailures[key] = {attempt.Code, now};
    } else {
        FLastFailures.erase(key);
    }
    Journal->Attempted(attempt);
}

void TLprQueue::Attempt(const std::string& name)
{
    const std::string fileId = FileIdentity(FConfig.LprQueueDir + name);
    if (Journal && !fileId.empty() && Journal->Delivered(name, fileId)) {
        FLog.loginfo("The queued file " + name + " was delivered before; it is removed without being sent again.");
        Delivered(name);
        return;
    }
    PrepareCopy(name, TextBefore(name, "_"));
    if (SendBySpooler(name, fileId)) {
        Delivered(name);
        return;
    }

    const std::string printer = NthField(name, '_', 2);
    const std::string host = FConfig.HostOf(printer);
    if (host.empty()) {
        FLog.loginfo("NO IP address assigned for Printer " + printer + " with Overlay Request");
        if (Beep)
            Beep();
        return;
    }

    const std::string prepared = FConfig.TempDir + name;
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

    if (SendOverNetwork(name, fileId, host, *bytes, ftpCopy))
        Delivered(name);
    if (Pause)
        Pause(500);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

bool TLprQueue::SendBySpooler(const std::string& name, const std::string& fileId)
{
    const std::string prepared = FConfig.TempDir + name;
    QElapsedTimer timer;
    timer.start();
    const TResult<std::string> spooled = SendViaSpooler ? SendViaSpooler(prepared) : ::SendViaSpooler(prepared, FConfig);
    TDeliveryAttempt attempt {name, fileId, "spooler", spooled ? *spooled : FConfig.PrinterName(NthField(name, '_', 2)),
                              0, spooled ? 0 : -1, spooled.Reason(), 0, timer.elapsed()};
    if (!spooled) {
        Record(std::move(attempt));
        return false;
    }
    attempt.Bytes = static_cast<std::int64_t>(QFileInfo(QString::fromStdString(prepared)).size());
    Record(std::move(attempt));
    FLog.loginfo("Sent Job via windows Spooler.");
    FLog.loginfo(name + " sent raw through CUPS to " + *spooled);
    return true;
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

bool TLprQueue::SendOverNetwork(const std::string& name, const std::string& fileId, const std::string& host,
                                const std::string& bytes, const std::string& ftpCopy)
{
    QElapsedTimer timer;
    timer.start();
    const TLpdResult lpd = SendByLpd(host, bytes);
    const auto size = static_cast<std::int64_t>(bytes.size());
    Record({name, fileId, "lpd", host, Lpd.Client.Port, Code(lpd),
            lpd == TLpdResult::Delivered ? std::string() : Lpd.StatusText + "; " + Lpd.Detail,
            lpd == TLpdResult::Delivered ? size : 0, timer.elapsed()});
    if (lpd == TLpdResult::Delivered) {
        FLog.loginfo("Sent LPD Job " + name + " OK");
        FLog.loginfo(name + " sent to " + host + ":" + std::to_string(Lpd.Client.Port) + " by LPD");
        return true;
    }
    FLog.loginfo("LPD Print result was " + std::to_string(Code(lpd)) + " " + Lpd.StatusText);
    // Where and why, for whoever reads the log.
    FLog.loginfo("LPD to " + Lpd.Detail);
    if (!FailoverApplies(lpd) || !FConfig.FtpFailover())
        return false;
    return SendByFailover(name, fileId, host, lpd, size, ftpCopy);
}

bool TLprQueue::SendByFailover(const std::string& name, const std::string& fileId, const std::string& host,
                               TLpdResult lpd, std::int64_t bytes, const std::string& ftpCopy)
{
    if (!Ftp.IsFree()) {
        FLog.loginfo("ERROR: FTP Printer already connected.");
        FLog.loginfo("FTP Print result was " + std::to_string(Code(lpd)) + " " + Ftp.StatusText);
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    const TFtpResult ftp = Ftp.Send(host, ftpCopy, "printorb", "", "");
    if (ftp == TFtpResult::Delivered) {
        Record({name, fileId, Ftp.Route, host, Ftp.RoutePort, 0, "", bytes, timer.elapsed()});
        FLog.loginfo("Sent FTP Job " + name + " OK");
        FLog.loginfo(name + " sent to " + host + ":" + std::to_string(Ftp.RoutePort) +
                     (Ftp.Route == "raw" ? " raw" : " by FTP"));
        return true;
    }
    Record({name, fileId, "ftp", host, Ftp.Ftp.Port, Code(ftp), Ftp.StatusText + "; " + Ftp.Detail, 0,
            timer.elapsed()});
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
