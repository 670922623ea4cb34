// The names of printserver.inf's settings, each written once, and the small
// rules for reading them.
#pragma once

#include <string>
#include <string_view>

namespace keys {

inline constexpr const char* Results = "RESULTS";
inline constexpr const char* Spooler = "SPOOLER";
inline constexpr const char* Templates = "TEMPLATES";
inline constexpr const char* DefLetterhead = "DEFLETTERHEAD";
inline constexpr const char* Overlay = "OVERLAY";
inline constexpr const char* PageMargin = "pagemargin";
inline constexpr const char* LpdDataDelay = "LPDDATADELAY";
inline constexpr const char* FtpFailover = "FTPFAILOVER";
inline constexpr const char* SpoolServer = "SPOOLSERVER";
inline constexpr const char* AutoScanSubDir = "AUTOSCANSUBDIR";
inline constexpr const char* ImagesPrefix = "IMAGES";  // IMAGES, IMAGES2, ... in file order
inline constexpr const char* DefaultPrinter = "PRINTER";
inline constexpr const char* JobRetries = "JOBRETRIES";
inline constexpr const char* JobRetryDelay = "JOBRETRYDELAY";
inline constexpr const char* TempDays = "TEMPDAYS";
inline constexpr const char* JournalDays = "JOURNALDAYS";
inline constexpr const char* DrainBacklog = "DRAINBACKLOG";
inline constexpr const char* SettleSeconds = "SETTLESECONDS";
inline constexpr const char* QueueHours = "QUEUEHOURS";
inline constexpr const char* WebStatus = "WEBSTATUS";      // ADDRESS:PORT of the status page
inline constexpr const char* WebPassword = "WEBPASSWORD";  // its password's salted hash

// "PRINTER<n>": the printer name of printer number n.
inline std::string Printer(std::string_view number)
{
    return "PRINTER" + std::string(number);
}

// "HOSTIP-<n>": the network host of printer number n.
inline std::string HostIp(std::string_view number)
{
    return "HOSTIP-" + std::string(number);
}

}  // namespace keys

// A yes/no setting is on when its trimmed value begins with Y or T, in
// either case ("TRUE", "Yes", "t").
bool SettingIsOn(std::string_view value);
// How a yes/no setting is written back.
inline const char* SettingText(bool on)
{
    return on ? "TRUE" : "FALSE";
}
