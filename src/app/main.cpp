// PrintORB: the program entry. Only --help and --version; PRINTORB_HOME
// names the server's home instead of the program's own directory.
#include "app/mainwindow.h"
#include "util/qtenv.h"
#include "util/version.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

const char* kUsage =
    "usage: printorb [--help | --version]\n"
    "The print server of the laboratory's result reports. It reads printserver.inf from its home,\n"
    "the directory named by PRINTORB_HOME or else the program's own directory, and writes its log\n"
    "spoolerLog.txt there. With a display the operator window opens; without one it runs unattended\n"
    "and its log also goes to standard error.\n"
    "Exit status: 0 when closed (or on SIGTERM/SIGINT), 1 when the start-up refuses to run,\n"
    "2 for a wrong command line.\n";

std::string ProgramDirectory()
{
    if (const char* home = std::getenv("PRINTORB_HOME"); home && *home)
        return home;
    return QCoreApplication::applicationDirPath().toStdString();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc > 1) {
        const std::string arg = argv[1];
        if (argc == 2 && (arg == "--help" || arg == "-h")) {
            std::cout << kUsage;
            return 0;
        }
        if (argc == 2 && arg == "--version") {
            std::cout << "printorb " << kProgramVersion << '\n';
            return 0;
        }
        const bool known = arg == "--help" || arg == "-h" || arg == "--version";
        std::cerr << "printorb: " << (known ? std::string("too many arguments") : "unknown argument '" + arg + "'")
                  << '\n'
                  << kUsage;
        return 2;
    }
    PrepareQtEnvironment();
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tova/Scrib ORB Print Server"));
    QApplication::setQuitOnLastWindowClosed(true);
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    // SIGTERM and SIGINT close the window as the operator would.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return 1;
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    // Relative names in requests (a PDFDOC without a folder) land in the
    // server's home, as when the program ran from its own folder.
    const std::string home = ProgramDirectory();
    QDir::setCurrent(QString::fromStdString(home));
    TPrintServerForm form(home);
    if (!form.StartedUp()) {
        // Unattended, the log already went to standard error.
        if (TPrintServerForm::HasDisplay())
            std::cerr << "printorb: " << (form.Server().StartUpFailure().empty() ? "the start-up refused to run"
                                                                              : form.Server().StartUpFailure())
                      << " (see " << home << "/spoolerLog.txt)\n";
        return 1;
    }

    QSocketNotifier terminate(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&terminate, &QSocketNotifier::activated, &form, [&form] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(gSignalPipe[0], &byte, 1);
        form.close();
    });

    form.show();
    return app.exec();
}
