#include "app/programentry.h"

#include "util/qtenv.h"
#include "util/stoppoint.h"
#include "util/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <csignal>
#include <iostream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

}  // namespace

std::string ServerUsage(const std::string& program, const std::string& runs, const std::string& stops)
{
    return "usage: " + program + " [--help | --version]\n"
           "The print server of the laboratory's result reports. It reads printserver.inf from its home,\n"
           "the directory named by PRINTORB_HOME or else the program's own directory, and writes its log\n"
           "spoolerLog.txt there. " + runs + "\n"
           "Exit status: 0 " + stops + ", 1 when the start-up refuses to run,\n"
           "2 for a wrong command line.\n";
}

int HandleArguments(int argc, char* argv[], const char* program, const std::string& usage)
{
    if (argc <= 1)
        return -1;
    const std::string arg = argv[1];
    if (argc == 2 && (arg == "--help" || arg == "-h")) {
        std::cout << usage;
        return 0;
    }
    if (argc == 2 && arg == "--version") {
        std::cout << program << ' ' << kProgramVersion << '\n';
        return 0;
    }
    const bool known = arg == "--help" || arg == "-h" || arg == "--version";
    std::cerr << program << ": " << (known ? std::string("too many arguments") : "unknown argument '" + arg + "'")
              << '\n'
              << usage;
    return 2;
}

std::string EnterServerHome(const TProgramEnvironment& env)
{
    const std::string home = !env.Home.empty() ? env.Home : QCoreApplication::applicationDirPath().toStdString();
    QDir::setCurrent(QString::fromStdString(home));
    return home;
}

void PrepareServerApplication(const TProgramEnvironment& env)
{
    ArmStopPoint(env.StopAt);
    PrepareQtEnvironment(env);
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
}

void NameServerApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tova/Scrib ORB Print Server"));
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QGuiApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
}

TTerminationSignals::TTerminationSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    FInstalled = true;
}

void TTerminationSignals::Watch(std::function<void()> onStop)
{
    FOnStop = std::move(onStop);
    FNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(gSignalPipe[0], &byte, 1);
        FOnStop();
    });
}

TTerminationSignals::~TTerminationSignals() = default;
