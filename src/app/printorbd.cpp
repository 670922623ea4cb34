// printorbd: the print server unattended, without a window. It links Qt Core
// and Gui only (the offscreen platform draws the reports); its home, log,
// behaviour and exit statuses are those of printorb without a display.
#include "app/printserver.h"
#include "app/programentry.h"

#include <QDir>
#include <QGuiApplication>

namespace {

const char* kUsage =
    "usage: printorbd [--help | --version]\n"
    "The print server of the laboratory's result reports, unattended. It reads printserver.inf from\n"
    "its home, the directory named by PRINTORB_HOME or else the program's own directory, and writes\n"
    "its log spoolerLog.txt there and to standard error. Message boxes count as OK, questions as No.\n"
    "Exit status: 0 on SIGTERM/SIGINT, 1 when the start-up refuses to run, 2 for a wrong command line.\n";

}  // namespace

int main(int argc, char* argv[])
{
    if (const int status = HandleArguments(argc, argv, "printorbd", kUsage); status >= 0)
        return status;
    // Never a window: fonts and drawing need only the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareServerApplication();
    QGuiApplication app(argc, argv);
    NameServerApplication();
    TTerminationSignals terminate;
    if (!terminate.Installed())
        return 1;

    const std::string home = ServerHome();
    QDir::setCurrent(QString::fromStdString(home));
    TPrintServer server(home);
    server.Log().SetMirrorToStderr(true);
    TJobPipeline& pipeline = server.Pipeline();
    pipeline.SpoolTimer.start();  // ticks from the start, as with the window
    if (!server.StartUp())
        return 1;

    terminate.Watch([] { QCoreApplication::quit(); });
    const int status = QCoreApplication::exec();
    pipeline.SpoolTimer.stop();
    server.SpoolerLink().Close();
    server.loginfo("Print server closed.");
    return status;
}
