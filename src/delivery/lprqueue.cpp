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
#include <set>
#include <sstream>
#include <thread>

namespace {

constexpr std::uint64_t kMaxPrinterFileBytes = 512ull * 1024 * 1024;
constexpr std::int64_t kRepeatedFailureMs = 3600 * 1000;

// "HOST" or "HOST:PORT" (an LPD service on another port than 515); an
// IPv6 address without brackets has colons of its own and no port.
std::pair<std::string, int> LpdHostAndPort(const std::string& value, int defaultPort)
{
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || value.find(':') != colon)
        return {value, defaultPort};
    const std::string port = value.substr(colon + 1);
    const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
        return {value, defaultPort};
    return {value.substr(0, colon), std::stoi(port)};
}

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
    // Listed anew each round: a printer that holds its files must not keep
    // the files that came later for other printers out of sight.
    ListSpoolFiles(FConfig.LprQueueDir + "*.prn", LprQueueFiles);
    FIndicators.SetLPRQueue(static_cast<unsigned>(LprQueueFiles.size()));
    // A printer whose files were all taken away by hand is no longer waited for.
    if (Outages && LprQueueFiles.size() < static_cast<std::size_t>(kMaxListedFiles)) {
        std::set<std::string> queued;
        for (const std::string& entry : LprQueueFiles)
            queued.insert(OutageKey(NthField(TextBefore(entry, ";"), '_', 2)));
        for (const TOutage& outage : Outages->All())
            if (outage.Key.starts_with("lpr:") && queued.count(outage.Key) == 0)
                Outages->Forget(outage.Key, "no file waits for it in the LPR queue");
    }
    if (LprQueueFiles.empty()) {
        FIndicators.SetLight(TLight::Convert, TLightColor::Off);
        return;
    }
    // Each printer's files go in their order; a printer whose head file
    // cannot go holds only its own, until its next try is due.
    QElapsedTimer round;
    round.start();
    std::set<std::string> held;
    int attempts = 0;
    const std::vector<std::string> listed = LprQueueFiles;
    for (const std::string& entry : listed) {
        const std::string name = TextBefore(entry, ";");
        const std::string printer = NthField(name, '_', 2);
        if (held.count(printer) != 0)
            continue;
        if (Outages && !Outages->ProbeDue(OutageKey(printer))) {
            held.insert(printer);
            continue;
        }
        if (attempts >= (SendAll ? kMaxAttemptsPerRound : kPassesPerTick) || round.elapsed() >= kRoundMs)
            break;
        if (TextAfter(entry, ";") == "0") {
            if (FEmpty.insert(name).second)
                FLog.logwarning("The queued file " + name + " is empty; it is not sent (nothing in it is a page).");
            continue;
        }
        FEmpty.erase(name);
        const bool delivered = TryFile(name, printer);
        if (!delivered)
            held.insert(printer);
        if (!delivered || !SendAll)
            ++attempts;
        if (OnAttempt)
            OnAttempt();
    }
}

std::string TLprQueue::OutageKey(const std::string& printer)
{
    return "lpr:" + printer;
}

bool TLprQueue::TryFile(const std::string& name, const std::string& printer)
{
    FNotes.clear();
    FFailure.clear();
    const bool delivered = Attempt(name);
    const std::string key = OutageKey(printer);
    const TOutage* outage = Outages ? Outages->Find(key) : nullptr;
    if (delivered || FFailure.empty()) {
        for (const TNote& note : FNotes)
            FLog.logline(note.Severity, note.Line);
        if (delivered && Outages)
            Outages->Up(key);
        return delivered;
    }
    // A failure is logged in full when it begins and when it changes; a
    // repeat is only counted.
    if (!outage || outage->Reason != FFailure)
        for (const TNote& note : FNotes)
            FLog.logline(note.Severity, note.Line);
    if (!outage && FBeep && Beep)
        Beep();
    if (Outages) {
        std::size_t waiting = 0;
        for (const std::string& entry : LprQueueFiles)
            waiting += NthField(TextBefore(entry, ";"), '_', 2) == printer ? 1 : 0;
        const std::string host = FConfig.HostOf(printer);
        Outages->Down(key, "printer " + printer + (host.empty() ? "" : " (" + host + ")") + " of the LPR queue",
                      FFailure,
                      std::to_string(waiting) + " queued file(s) for it wait, the other printers' files go on",
                      nullptr);
    }
    return false;
}

void TLprQueue::Note(TSeverity severity, std::string line)
{
    FNotes.push_back({severity, std::move(line)});
}

TOutcome TLprQueue::PrepareCopy(const std::string& name, const std::string& overlay)
{
    const std::string queued = FConfig.LprQueueDir + name;
    const std::string prepared = FConfig.TempDir + name;
    // A copy that was not written whole is never sent: it would print a
    // part of a page, or nothing, and count as delivered.
    DeleteFileAt(prepared);
    TOutcome made;
    if (IsWholeNumber(overlay))
        made = InsertMacroCall(queued, prepared, overlay);
    else if (!overlay.empty() && FileExists(FConfig.OverlayDir + overlay))
        made = MergeOverlayFile(queued, prepared, FConfig.OverlayDir + overlay);
    else
        made = InsertMacroCall(queued, prepared, "");
    return made;
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

bool TLprQueue::Attempt(const std::string& name)
{
    FBeep = false;
    const std::string fileId = FileIdentity(FConfig.LprQueueDir + name);
    if (Journal && !fileId.empty() && Journal->Delivered(name, fileId)) {
        Note(TSeverity::Info,
             "The queued file " + name + " was delivered before; it is removed without being sent again.");
        Delivered(name);
        return true;
    }
    if (const TOutcome prepared = PrepareCopy(name, TextBefore(name, "_")); !prepared) {
        FFailure = "the copy with its overlay could not be made: " + prepared.Reason();
        Note(TSeverity::Error, "The queued file " + name + " stays queued: " + FFailure);
        return false;
    }
    if (SendBySpooler(name, fileId)) {
        Delivered(name);
        return true;
    }

    const std::string printer = NthField(name, '_', 2);
    const std::string host = FConfig.HostOf(printer);
    if (host.empty()) {
        FFailure = "NO IP address assigned for Printer " + printer + " with Overlay Request";
        Note(TSeverity::Error, FFailure);
        FBeep = true;
        return false;
    }

    const std::string prepared = FConfig.TempDir + name;
    const TResult<std::string> bytes = ReadFileBytes(prepared, kMaxPrinterFileBytes);
    if (!bytes) {
        // This file stays queued, the other printers go on.
        FFailure = "Cannot open " + prepared;
        Note(TSeverity::Error, FFailure);
        return false;
    }
    const std::string ftpCopy = FtpCopyName(FConfig.TempDir);
    // Not examined: a missing copy makes the FTP route report "-1 Data file does not exist.".
    static_cast<void>(WriteFileAtomic(ftpCopy, *bytes));
    struct TRemoveCopy {
        const std::string& Path;
        ~TRemoveCopy() { DeleteFileAt(Path); }
    } removeCopy {ftpCopy};

    const TResult<bool> sent = SendOverNetwork(name, fileId, host, *bytes, ftpCopy);
    if (!sent) {
        // This file stays queued, the other printers go on.
        FFailure = sent.Reason();
        Note(TSeverity::Error, FFailure);
        return false;
    }
    const bool delivered = *sent;
    if (delivered)
        Delivered(name);
    else if (FFailure.empty())
        FFailure = "not delivered";
    if (Pause)
        Pause(500);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return delivered;
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
    Note(TSeverity::Info, "Sent Job via windows Spooler.");
    Note(TSeverity::Info, name + " sent raw through CUPS to " + *spooled);
    return true;
}

TResult<TLpdResult> TLprQueue::SendByLpd(const std::string& host, const std::string& bytes)
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
    // A port given with the host is this delivery's only.
    const auto [name, port] = LpdHostAndPort(host, Lpd.Client.Port);
    struct TRestorePort {
        TsbLPD& Lpd;
        int Port;
        ~TRestorePort() { Lpd.Client.Port = Port; }
    } restore {Lpd, Lpd.Client.Port};
    Lpd.Client.Port = port;
    TResult<TLpdResult> sent = Lpd.Send(name, "", "printorb", "printorb", kLpdDomain, data);
    if (!sent && !Lpd.Detail.empty())
        Note(TSeverity::Error, "LPD to " + Lpd.Detail);
    return sent;
}

TResult<bool> TLprQueue::SendOverNetwork(const std::string& name, const std::string& fileId, const std::string& host,
                                         const std::string& bytes, const std::string& ftpCopy)
{
    QElapsedTimer timer;
    timer.start();
    const TResult<TLpdResult> sent = SendByLpd(host, bytes);
    if (!sent)
        return sent.Failure();
    const TLpdResult lpd = *sent;
    const auto size = static_cast<std::int64_t>(bytes.size());
    const auto [lpdHost, lpdPort] = LpdHostAndPort(host, Lpd.Client.Port);
    Record({name, fileId, "lpd", lpdHost, lpdPort, Code(lpd),
            lpd == TLpdResult::Delivered ? std::string() : Lpd.StatusText + "; " + Lpd.Detail,
            lpd == TLpdResult::Delivered ? size : 0, timer.elapsed()});
    if (lpd == TLpdResult::Delivered) {
        Note(TSeverity::Info, "Sent LPD Job " + name + " OK");
        Note(TSeverity::Info, name + " sent to " + lpdHost + ":" + std::to_string(lpdPort) + " by LPD");
        return true;
    }
    FFailure = "LPD Print result was " + std::to_string(Code(lpd)) + " " + Lpd.StatusText;
    Note(TSeverity::Error, FFailure);
    // Where and why, for whoever reads the log.
    Note(TSeverity::Error, "LPD to " + Lpd.Detail);
    if (!FailoverApplies(lpd) || !FConfig.FtpFailover())
        return false;
    return SendByFailover(name, fileId, lpdHost, lpd, size, ftpCopy);
}

bool TLprQueue::SendByFailover(const std::string& name, const std::string& fileId, const std::string& host,
                               TLpdResult lpd, std::int64_t bytes, const std::string& ftpCopy)
{
    if (!Ftp.IsFree()) {
        Note(TSeverity::Error, "ERROR: FTP Printer already connected.");
        FFailure = "FTP Print result was " + std::to_string(Code(lpd)) + " " + Ftp.StatusText;
        Note(TSeverity::Error, FFailure);
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    const TFtpResult ftp = Ftp.Send(host, ftpCopy, "printorb", "", "");
    if (ftp == TFtpResult::Delivered) {
        Record({name, fileId, Ftp.Route, host, Ftp.RoutePort, 0, "", bytes, timer.elapsed()});
        Note(TSeverity::Info, "Sent FTP Job " + name + " OK");
        Note(TSeverity::Info, name + " sent to " + host + ":" + std::to_string(Ftp.RoutePort) +
                                  (Ftp.Route == "raw" ? " raw" : " by FTP"));
        return true;
    }
    Record({name, fileId, "ftp", host, Ftp.Ftp.Port, Code(ftp), Ftp.StatusText + "; " + Ftp.Detail, 0,
            timer.elapsed()});
    FFailure = "FTP Print result was " + std::to_string(Code(ftp)) + " " + Ftp.StatusText;
    Note(TSeverity::Error, FFailure);
    if (!Ftp.Detail.empty())
        Note(TSeverity::Error, "FTP failover: " + Ftp.Detail);
    return false;
}

void TLprQueue::Delivered(const std::string& name)
{
    std::erase_if(LprQueueFiles, [&](const std::string& entry) { return TextBefore(entry, ";") == name; });
    if (!DeleteFileAt(FConfig.LprQueueDir + name))
        Note(TSeverity::Error, "The delete operation failed on " + name);
    DeleteFileAt(FConfig.TempDir + name);
}
