// PrintORB: the program entry. No command-line arguments; PRINTORB_HOME
// names the server's home instead of the program's own directory.
#include "app/mainwindow.h"
#include "util/qtenv.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>
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

std::string ProgramDirectory()
{
    if (const char* home = std::getenv("PRINTORB_HOME"); home && *home)
        return home;
    return QCoreApplication::applicationDirPath().toStdString();
}

}  // namespace

int main(int argc, char* argv[])
{
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
    if (!form.StartedUp())
        return 1;

    QSocketNotifier terminate(gSignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&terminate, &QSocketNotifier::activated, &form, [&form] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(gSignalPipe[0], &byte, 1);
        form.close();
    });

    form.show();
    return app.exec();
}
