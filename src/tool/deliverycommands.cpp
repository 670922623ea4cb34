// Testing a printer route from a shell, as the LPR queue would use it:
//   printorb-tool lpd HOST[:PORT] FILE [--queue Q]
//   printorb-tool ftp HOST FILE [--raw-port N] [--ftp-port N]
//   printorb-tool overlay FILE OUT (--macro N | --merge OVERLAY)
#include "delivery/ftpuploader.h"
#include "delivery/lpdclient.h"
#include "delivery/lprqueue.h"
#include "delivery/pcloverlay.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

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

int Report(int code, const std::string& status)
{
    std::cout << code << " " << Printable(status) << '\n';
    return code == 0 ? 0 : 1;
}

}  // namespace

int LpdCommand(const TArgs& args)
{
    const TArgs rest = Positionals(args, {"--queue"});
    if (rest.size() != 2) {
        std::cerr << "usage: printorb-tool lpd HOST[:PORT] FILE [--queue Q]\n";
        return 2;
    }
    TsbLPD lpd;
    const std::string host = TextBefore(rest[0], ":");
    if (rest[0].find(':') != std::string::npos)
        lpd.Client.Port = StrToIntDef(TextAfter(rest[0], ":"), 515);
    std::ifstream file(NativePath(rest[1]), std::ios::binary);
    if (!file) {
        std::cerr << "Cannot read " << rest[1] << '\n';
        return 1;
    }
    lpd.NextJob();
    try {
        const int code = lpd.Send(host, OptionValue(args, "--queue"), "printorb", "printorb", kLpdDomain, file);
        return Report(code, lpd.StatusText);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}

int FtpCommand(const TArgs& args)
{
    const TArgs rest = Positionals(args, {"--raw-port", "--ftp-port"});
    if (rest.size() != 2) {
        std::cerr << "usage: printorb-tool ftp HOST FILE [--raw-port N] [--ftp-port N]\n";
        return 2;
    }
    TsbprinterFTP ftp;
    if (const std::string port = OptionValue(args, "--raw-port"); !port.empty())
        ftp.RawPort = StrToIntDef(port, 9100);
    if (const std::string port = OptionValue(args, "--ftp-port"); !port.empty())
        ftp.Ftp.Port = StrToIntDef(port, 21);
    const int code = ftp.Send(rest[0], rest[1], "printorb", "", "");
    return Report(code, ftp.StatusText);
}

int OverlayCommand(const TArgs& args)
{
    const TArgs rest = Positionals(args, {"--macro", "--merge"});
    const std::string macro = OptionValue(args, "--macro");
    const std::string merge = OptionValue(args, "--merge");
    if (rest.size() != 2 || macro.empty() == merge.empty()) {
        std::cerr << "usage: printorb-tool overlay FILE OUT (--macro N | --merge OVERLAY)\n";
        return 2;
    }
    const std::string result = macro.empty() ? MergeOverlayFile(rest[0], rest[1], merge) : InsertMacroCall(rest[0], rest[1], macro);
    std::cout << (result.empty() ? std::string("OK") : Printable(result)) << '\n';
    return result.empty() ? 0 : 1;
}
