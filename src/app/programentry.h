// What the two server programs share before and after the server runs: the
// command line (only --help and --version), the server's home, the Qt
// settings both need, and SIGTERM/SIGINT turned into an orderly stop.
#pragma once

#include "util/environment.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

// The usage text of a server program: how it runs and how it stops are its own.
std::string ServerUsage(const std::string& program, const std::string& runs, const std::string& stops);

// -1 when the program is to run; otherwise the exit status after --help,
// --version or a wrong argument (usage on standard error, 2).
int HandleArguments(int argc, char* argv[], const char* program, const std::string& usage);

// PRINTORB_HOME, else the program's own folder (after the application
// exists), made the working folder: relative names in requests (a PDFDOC
// without a folder) land in the server's home, as when the program ran
// from its own folder.
std::string EnterServerHome(const TProgramEnvironment& env);

// The application-wide settings of both programs, before the application
// object is made: 96 dots per inch, the runtime folder, the stop point.
void PrepareServerApplication(const TProgramEnvironment& env);
// After it is made: the name and the window font the system's pages use.
void NameServerApplication();

// SIGTERM and SIGINT end the program as closing the window would: the
// handler only notes the signal; once Watch has been called the event loop
// calls onStop. A signal that comes during the start-up waits until then.
class TTerminationSignals : public QObject {
public:
    TTerminationSignals();
    ~TTerminationSignals() override;
    // false when the signal pipe could not be made.
    bool Installed() const { return FInstalled; }
    void Watch(std::function<void()> onStop);

private:
    std::function<void()> FOnStop;
    std::unique_ptr<QSocketNotifier> FNotifier;
    bool FInstalled = false;
};
