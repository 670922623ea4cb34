#include "delivery/lprqueue.h"
#include "config/settingkeys.h"

#include "delivery/pcloverlay.h"
#include "delivery/rawprinter.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/spoolfiles.h"
#include "util/textutil.h"

#include <QDateTime>

#include <chrono>
#include <sstream>
#include <thread>

namespace {

bool IsWholeNumber(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool FailoverOn(const TLprQueueContext& c)
{
    return SettingIsOn(c.SettingValue(keys::FtpFailover));
}

// The head entry is delivered: the entry goes, and both copies of the file.
void Delivered(TLprQueue& queue, TLprQueueContext& c, const std::string& name)
{
    queue.LprQueueFiles.erase(queue.LprQueueFiles.begin());
    if (!DeleteFileAt(c.LprQueueDir + name))
        c.Log.loginfo("The delete operation failed on " + name);
    DeleteFileAt(c.TempDir + name);
}

}  // namespace

void TLprQueue::DispatchLprQueue(TLprQueueContext& c)
{
    struct TLightsOff {
        TIndicators& Indicators;
        ~TLightsOff() { Indicators.SetLight(TLight::LPR, TLightColor::Off); }
    } lightsOff {c.Indicators};
    c.Indicators.SetLight(TLight::LPR, TLightColor::Green);
    if (LprQueueFiles.empty())
        ListSpoolFiles(c.LprQueueDir + "*.prn", LprQueueFiles);
    c.Indicators.SetLPRQueue(static_cast<unsigned>(LprQueueFiles.size()));
    if (LprQueueFiles.empty()) {
        c.Indicators.SetLight(TLight::Convert, TLightColor::Off);
        return;
    }

    for (int pass = 0; !LprQueueFiles.empty() && pass < kPassesPerTick; ++pass) {
        const std::string name = TextBefore(LprQueueFiles.front(), ";");
        const std::string first = TextBefore(name, "_");
        const std::string printer = NthField(name, '_', 2);

        // The overlay step's result is deliberately not examined: without the
        // prepared copy the routes below fail and the file stays queued.
        if (IsWholeNumber(first))
            static_cast<void>(InsertMacroCall(c.LprQueueDir + name, c.TempDir + name, first));
        else if (!first.empty() && FileExists(c.OverlayDir + first))
            static_cast<void>(MergeOverlayFile(c.LprQueueDir + name, c.TempDir + name, c.OverlayDir + first));
        else
            static_cast<void>(InsertMacroCall(c.LprQueueDir + name, c.TempDir + name, ""));

        const bool spooled = c.SendViaSpooler ? c.SendViaSpooler(c.TempDir + name)
                                              : SendViaSpooler(c.TempDir + name, c.SettingValue);
        if (spooled) {
            c.Log.loginfo("Sent Job via windows Spooler.");
            Delivered(*this, c, name);
            continue;
        }

        const std::string host = c.SettingValue(keys::HostIp(printer));
        if (host.empty()) {
            c.Log.loginfo("NO IP address assigned for Printer " + printer + " with Overlay Request");
            if (c.Beep)
                c.Beep();
            continue;
        }

        std::string bytes;
        if (!ReadFileBytes(c.TempDir + name, bytes, 512ull * 1024 * 1024))
            throw std::runtime_error("Cannot open " + c.TempDir + name);
        const std::string ftpCopy = c.TempDir + "ftpprnfile" +
                                    QDateTime::currentDateTime().toString(QStringLiteral("yyMMddhhmmsszzz")).toStdString() +
                                    ".prn";
        // Not examined: a missing copy makes the FTP route report "-1 Data file does not exist.".
        static_cast<void>(WriteFileAtomic(ftpCopy, bytes));
        struct TRemoveCopy {
            const std::string& Path;
            ~TRemoveCopy() { DeleteFileAt(Path); }
        } removeCopy {ftpCopy};

        c.Lpd.NextJob();
        c.Lpd.StatusText.clear();
        c.Indicators.SetLight(TLight::LPR, TLightColor::Red);
        int code;
        {
            std::istringstream data(bytes);
            try {
                code = c.Lpd.Send(host, "", "printorb", "printorb", kLpdDomain, data);
            } catch (...) {
                c.Indicators.SetLight(TLight::LPR, TLightColor::Off);
                if (!c.Lpd.Detail.empty())
                    c.Log.loginfo("LPD to " + c.Lpd.Detail);
                throw;
            }
            c.Indicators.SetLight(TLight::LPR, TLightColor::Off);
        }

        if (code == 0) {
            c.Log.loginfo("Sent LPD Job " + name + " OK");
            Delivered(*this, c, name);
        } else {
            c.Log.loginfo("LPD Print result was " + std::to_string(code) + " " + c.Lpd.StatusText);
            // Where and why, for whoever reads the log.
            c.Log.loginfo("LPD to " + c.Lpd.Detail);
            if (code < -3 && FailoverOn(c)) {
                if (!c.Ftp.IsFree())
                    c.Log.loginfo("ERROR: FTP Printer already connected.");
                else
                    code = c.Ftp.Send(host, ftpCopy, "printorb", "", "");
                if (code == 0) {
                    c.Log.loginfo("Sent FTP Job " + name + " OK");
                    Delivered(*this, c, name);
                } else {
                    c.Log.loginfo("FTP Print result was " + std::to_string(code) + " " + c.Ftp.StatusText);
                    if (!c.Ftp.Detail.empty())
                        c.Log.loginfo("FTP failover: " + c.Ftp.Detail);
                }
            }
        }
        if (c.Pause)
            c.Pause(500);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}
