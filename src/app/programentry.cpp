#include "app/programentry.h"

#include "util/qtenv.h"
#include "util/version.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>
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

int HandleArguments(int argc, char* argv[], const char* program, const char* usage)
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

std::string ServerHome()
{
    if (const char* home = std::getenv("PRINTORB_HOME"); home && *home)
        return home;
    return QCoreApplication::applicationDirPath().toStdString();
}

void PrepareServerApplication()
{
    PrepareQtEnvironment();
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
