// printorb-tool web-password: the status page's password, kept in the
// settings only as its salted hash.
#include "config/settingkeys.h"
#include "config/settingseditor.h"
#include "tool/commands.h"
#include "util/codepage.h"
#include "util/packagehome.h"
#include "web/webauth.h"

#include <iostream>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMinPasswordLength = 8;

// One line from standard input; typed without echo at a terminal.
std::string ReadLine(const char* prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    termios saved {};
    if (terminal) {
        std::cerr << prompt << std::flush;
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::cerr << '\n';
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace

int WebPasswordCommand(const TCommandLine& line)
{
    const std::string path = line.Home() + kSettingsFileName;
    struct stat before {};
    if (::lstat(NativePath(path).c_str(), &before) != 0)
        return ExitFailed("no settings: " + path + ": no such file (use --home DIR or PRINTORB_HOME)");
    if (S_ISLNK(before.st_mode))
        return ExitFailed(path + " is a link: set the password in the file it points to with --home");
    TSettingsEditor settings;
    if (const TOutcome loaded = settings.Load(path); !loaded)
        return ExitFailed("no settings: " + loaded.Reason());

    std::string said;
    if (line.Has("--remove")) {
        settings.SetValue(keys::WebPassword, "");
        said = "WEBPASSWORD removed from " + path + ": the status page may then listen on a loopback address only.";
    } else {
        const std::string password = ReadLine("New password for the status page: ");
        if (password.size() < kMinPasswordLength)
            return ExitFailed("the password needs at least " + std::to_string(kMinPasswordLength) + " characters");
        if (::isatty(STDIN_FILENO) && ReadLine("The same again: ") != password)
            return ExitFailed("the two passwords differ; nothing was changed");
        const TResult<std::string> hash = HashWebPassword(password);
        if (!hash)
            return ExitFailed(hash.Reason());
        settings.SetValue(keys::WebPassword, *hash);
        said = "WEBPASSWORD set in " + path + " (an Argon2id hash).";
    }
    if (const TOutcome saved = settings.Save(path); !saved)
        return ExitFailed("cannot write " + path + ": " + saved.Reason());
    // The new file keeps the old one's owner and mode: the server's user must read it.
    if (::chown(NativePath(path).c_str(), before.st_uid, before.st_gid) != 0 ||
        ::chmod(NativePath(path).c_str(), before.st_mode & 07777) != 0)
        std::cerr << "printorb-tool: " << path << " could not keep its owner and mode\n";
    std::cout << said << " Restart the server for the status page to use it (sudo systemctl restart printorb).\n";
    return kExitOk;
}
