// Testing a printer route from a shell, as the LPR queue would use it:
//   printorb-tool lpd HOST[:PORT] FILE [--queue Q] [--connect-timeout S] [--timeout S]
//   printorb-tool ftp HOST FILE [--raw-port N] [--ftp-port N] [--connect-timeout S] [--timeout S]
//   printorb-tool overlay FILE OUT (--macro N | --merge OVERLAY)
#include "delivery/ftpuploader.h"
#include "delivery/lpdclient.h"
#include "delivery/lprqueue.h"
#include "delivery/overlaylookup.h"
#include "delivery/pcloverlay.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <algorithm>
#include <fstream>
#include <iostream>

namespace {

// Status texts can be a single control character (a refusal byte).
std::string Printable(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return ToUnicode(out).toStdString();
}

// The result line on standard output; where and why on standard error.
int Report(int code, const std::string& status, const std::string& detail)
{
    std::cout << code << " " << Printable(status) << '\n';
    if (code != 0 && !detail.empty())
        std::cerr << "printorb-tool: " << Printable(detail) << '\n';
    return code == 0 ? kExitOk : kExitFailed;
}

}  // namespace

int LpdCommand(const TCommandLine& line)
{
    TsbLPD lpd;
    const std::string& target = line.Arg(0);
    const std::string host = TextBefore(target, ":");
    if (host.empty())
        throw TUsageError("no host in '" + target + "'");
    if (target.find(':') != std::string::npos)
        lpd.Client.Port = ParsePort(TextAfter(target, ":"), "the LPD port");
    lpd.Client.ConnectTimeoutMs = line.TimeoutMs("--connect-timeout", lpd.Client.ConnectTimeoutMs);
    lpd.Client.TransferTimeoutMs = line.TimeoutMs("--timeout", lpd.Client.TransferTimeoutMs);
    lpd.AckWaitMs = std::min(lpd.AckWaitMs, lpd.Client.TransferTimeoutMs);
    if (const std::string unreadable = CannotRead(line.Arg(1)); !unreadable.empty())
        return ExitFailed(unreadable);
    std::ifstream file(NativePath(line.Arg(1)), std::ios::binary);
    if (!file)
        return ExitFailed("cannot read " + line.Arg(1));
    lpd.NextJob();
    const TResult<TLpdResult> result = lpd.Send(host, line.Value("--queue"), "printorb", "printorb", kLpdDomain, file);
    if (!result)
        return ExitFailed(lpd.Detail.empty() ? result.Reason() : lpd.Detail);
    return Report(Code(*result), lpd.StatusText, lpd.Detail);
}

int FtpCommand(const TCommandLine& line)
{
    TsbprinterFTP ftp;
    ftp.RawPort = line.Has("--raw-port") ? ParsePort(line.Value("--raw-port"), "--raw-port") : 9100;
    ftp.Ftp.Port = line.Has("--ftp-port") ? ParsePort(line.Value("--ftp-port"), "--ftp-port") : 21;
    ftp.RawClient.ConnectTimeoutMs = line.TimeoutMs("--connect-timeout", ftp.RawClient.ConnectTimeoutMs);
    ftp.Ftp.ConnectTimeout = ftp.RawClient.ConnectTimeoutMs;
    ftp.Ftp.ConnectRetries = 1;
    ftp.RawClient.TransferTimeoutMs = line.TimeoutMs("--timeout", ftp.RawClient.TransferTimeoutMs);
    ftp.Ftp.StallTimeout = ftp.RawClient.TransferTimeoutMs;
    if (const std::string unreadable = CannotRead(line.Arg(1)); !unreadable.empty())
        return ExitFailed(unreadable);
    const TFtpResult result = ftp.Send(line.Arg(0), line.Arg(1), "printorb", "", "");
    return Report(Code(result), ftp.StatusText, ftp.Detail);
}

int OverlayCommand(const TCommandLine& line)
{
    const std::string macro = line.Value("--macro");
    const std::string merge = line.Value("--merge");
    if (line.Has("--macro") == line.Has("--merge"))
        throw TUsageError("give either --macro N or --merge OVERLAY");
    const std::string& in = line.Arg(0);
    const std::string& out = line.Arg(1);
    if (line.Has("--macro")) {
        // The queue calls macros by number only; anything else would put a
        // broken command into the printer's data.
        const bool digits = !macro.empty() && macro.size() <= 5 &&
                            macro.find_first_not_of("0123456789") == std::string::npos;
        if (!digits || std::stoi(macro) > 32767)
            throw TUsageError("--macro wants a macro number from 0 to 32767, not '" + macro + "'");
    }
    for (const std::string& input : {in, merge})
        if (!input.empty())
            if (const std::string unreadable = CannotRead(input); !unreadable.empty())
                return ExitFailed(unreadable);
    if (!OutputFolderExists(out))
        return ExitFailed("the folder of " + out + " does not exist");
    const TResult<std::string> bytes = ReadFileBytes(in, 512ull * 1024 * 1024);
    if (!bytes)
        return ExitFailed("cannot read " + bytes.Reason());
    if (line.Has("--macro") && bytes->find(kOverlayInsertionMark) == std::string::npos)
        return ExitFailed(in + " has no insertion mark (ESC*p6815Y): a macro call would not be placed");
    if (line.Has("--merge")) {
        const TResult<std::string> overlay = ReadFileBytes(merge, 512ull * 1024 * 1024);
        if (!overlay)
            return ExitFailed("cannot read " + overlay.Reason());
        for (const auto& [path, data] : {std::pair {merge, *overlay}, std::pair {in, *bytes}})
            if (const std::string why = NotAMergeablePage(data); !why.empty())
                return ExitFailed(path + " is not a PCL page that can be merged: " + why);
    }
    const TOutcome result = line.Has("--macro") ? InsertMacroCall(in, out, macro) : MergeOverlayFile(in, out, merge);
    if (!result)
        return ExitFailed(Printable(ErrorText(result.Failure())));
    std::cout << "OK\n";
    return kExitOk;
}
