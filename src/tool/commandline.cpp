#include "tool/commandline.h"

#include "printers/printertable.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/packagehome.h"
#include "util/textutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

TCommandLine::TCommandLine(const TCommand& command, const TArgs& args, TProgramEnvironment env) : FEnv(std::move(env))
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (Contains(command.ValueOptions, arg)) {
                if (i + 1 >= args.size())
                    throw TUsageError(arg + " needs a value");
                FValues[arg] = args[++i];
            } else if (Contains(command.FlagOptions, arg)) {
                FFlags[arg] = true;
            } else {
                throw TUsageError("unknown option " + arg);
            }
        } else {
            FArgs.push_back(arg);
        }
    }
    if (FArgs.size() < command.MinArgs || FArgs.size() > command.MaxArgs)
        throw TUsageError(FArgs.size() < command.MinArgs ? "missing arguments" : "too many arguments");
}

std::string TCommandLine::Value(const std::string& option, const std::string& fallback) const
{
    const auto it = FValues.find(option);
    return it == FValues.end() ? fallback : it->second;
}

int TCommandLine::Number(const std::string& option, int fallback, int min, int max) const
{
    const auto it = FValues.find(option);
    if (it == FValues.end())
        return fallback;
    const std::string& text = it->second;
    const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const auto value = digits ? TryStrToInt(text) : std::nullopt;
    if (!value || *value < min || *value > max)
        throw TUsageError(option + " wants a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                          ", not '" + text + "'");
    return *value;
}

int TCommandLine::TimeoutMs(const std::string& option, int fallbackMs) const
{
    if (!Has(option))
        return fallbackMs;
    return Number(option, 0, 1, 3600) * 1000;
}

std::string TCommandLine::Home() const
{
    std::string home = Value("--home");
    if (home.empty())
        home = FEnv.Home;
    if (home.empty()) {
        // A home beside the tool (a build, the demo), else the package's.
        const std::string beside = IncludeTrailingSlash(QCoreApplication::applicationDirPath().toStdString());
        home = FileExists(beside + kSettingsFileName) ? beside : PackageHome(FEnv.PackageRoot);
    }
    return IncludeTrailingSlash(home);
}

namespace {

// A home the caller may not read is the usual case of a user outside the
// server's group: say whose it is rather than suggest another home.
std::string WhyNotReadable(const TServerHome& home)
{
    struct stat st {};
    if (::access(home.Settings().c_str(), R_OK) == 0 || errno != EACCES)
        return " (use --home DIR or PRINTORB_HOME)";
    const bool folder = ::access(home.Folder().c_str(), X_OK) != 0;
    const std::string what = folder ? home.Folder() : home.Settings();
    if (::stat(what.c_str(), &st) != 0)
        return " (use --home DIR or PRINTORB_HOME)";
    return " (" + what + " is " + UserAndGroup(st.st_uid, st.st_gid) + " " + OctalMode(st.st_mode) +
           "; run printorb-tool as root, as its owner or as a member of its group)";
}

}  // namespace

TResult<TServerConfig> TCommandLine::HomeConfig() const
{
    const TServerHome home(Home());
    TSettings settings;
    if (const TOutcome loaded = settings.LoadFromFile(home.Settings()); !loaded)
        return Fail("no settings: " + loaded.Reason() + WhyNotReadable(home));
    TServerStart start = HomeStart(home.Folder(), PackageHome(FEnv.PackageRoot));
    start.DefaultPrinterNumber = DefaultPrinterNumber(settings);
    return TServerConfig::Read(settings, start);
}

int ParsePort(const std::string& text, const std::string& what)
{
    const bool digits = !text.empty() && text.size() <= 5 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int port = digits ? std::atoi(text.c_str()) : 0;
    if (port < 1 || port > 65535)
        throw TUsageError(what + " must be a port from 1 to 65535, not '" + text + "'");
    return port;
}

void TStderrLog::logline(TSeverity, std::string_view message)
{
    std::cerr << ToUnicode(message).toStdString() << '\n';
}

int ExitFailed(const std::string& message)
{
    std::cerr << "printorb-tool: " << message << '\n';
    return kExitFailed;
}

std::string CannotRead(const std::string& path)
{
    const TOutcome readable = CheckReadableFile(path);
    return readable ? std::string() : "cannot read " + readable.Reason();
}

bool OutputFolderExists(const std::string& path)
{
    const QFileInfo info(QString::fromStdString(path));
    return info.absoluteDir().exists();
}
