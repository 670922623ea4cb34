// What every printorb-tool command shares: its options and arguments checked
// against what it declares, the server home, usage errors, logging to
// standard error and the exit codes (0 done, 1 failed, 2 wrong command line).
#pragma once

#include "config/serverconfig.h"
#include "util/environment.h"
#include "util/logger.h"

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using TArgs = std::vector<std::string>;

enum : int { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// A wrong command line: printed with the command's usage, exit 2.
class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TCommandLine;

struct TCommand {
    std::string Name;
    std::string Synopsis;  // after "printorb-tool NAME "
    std::string Summary;   // one line for the tool's own usage
    std::string Help;      // the command's --help, after the synopsis
    std::vector<std::string> ValueOptions;  // options that take a value
    std::vector<std::string> FlagOptions;   // options on their own
    std::size_t MinArgs = 0;
    std::size_t MaxArgs = 0;
    std::function<int(const TCommandLine&)> Run;
};

class TCommandLine {
public:
    // Raises TUsageError for an unknown option, a missing option value or a
    // wrong number of arguments.
    TCommandLine(const TCommand& command, const TArgs& args, TProgramEnvironment env = {});

    const TArgs& Args() const { return FArgs; }
    const std::string& Arg(std::size_t i) const { return FArgs.at(i); }
    bool Has(const std::string& option) const { return FValues.count(option) > 0 || FFlags.count(option) > 0; }
    std::string Value(const std::string& option, const std::string& fallback = {}) const;
    // A whole number within [min, max]; TUsageError otherwise.
    int Number(const std::string& option, int fallback, int min, int max) const;
    // A time-out given in seconds, as milliseconds.
    int TimeoutMs(const std::string& option, int fallbackMs) const;
    // The server home: --home DIR, else PRINTORB_HOME, else the tool's folder
    // when it holds the settings, else the package's home; with a trailing "/".
    std::string Home() const;
    // The home's settings as the server reads them, with the home's folders
    // and its default printer's number; fails when printserver.inf cannot be
    // read.
    TResult<TServerConfig> HomeConfig() const;

private:
    TProgramEnvironment FEnv;
    TArgs FArgs;
    std::map<std::string, std::string> FValues;
    std::map<std::string, bool> FFlags;
};

// A TCP port 1 to 65535 written in decimal; TUsageError naming what for.
int ParsePort(const std::string& text, const std::string& what);

// Log lines of the server's code, on standard error, whatever their severity.
struct TStderrLog : TLogger {
    void logline(TSeverity severity, std::string_view message) override;
};

// "printorb-tool: " + message on standard error; returns kExitFailed.
int ExitFailed(const std::string& message);
// Empty when the file can be read; else "cannot read PATH: REASON" (no such
// file, is a directory, permission denied), checked before anything is done.
std::string CannotRead(const std::string& path);
// The folder an output file goes into must exist: it is never created.
bool OutputFolderExists(const std::string& path);
