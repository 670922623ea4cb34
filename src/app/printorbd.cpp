// printorbd: the print server unattended, without a window. It links Qt Core
// and Gui only (the offscreen platform draws the reports); its home, log,
// behaviour and exit statuses are those of printorb without a display.
#include "app/printserver.h"
#include "app/programentry.h"

#include <QGuiApplication>


int main(int argc, char* argv[])
{
    const std::string usage = ServerUsage("printorbd",
                                          "It runs unattended: its log also goes to standard\n"
                                          "error, message boxes count as OK, questions as No.",
                                          "on SIGTERM/SIGINT");
    if (const int status = HandleArguments(argc, argv, "printorbd", usage); status >= 0)
        return status;
    // Never a window: fonts and drawing need only the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareServerApplication();
    QGuiApplication app(argc, argv);
    NameServerApplication();
    TTerminationSignals terminate;
    if (!terminate.Installed())
        return 1;
    TPrintServer server(EnterServerHome());
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
