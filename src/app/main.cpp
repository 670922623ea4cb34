// printorb: the operator window over the print server. Without a display it
// runs unattended on the offscreen platform, as printorbd does.
#include "app/mainwindow.h"
#include "app/programentry.h"

#include <QApplication>
#include <QDir>

#include <iostream>

namespace {

const char* kUsage =
    "usage: printorb [--help | --version]\n"
    "The print server of the laboratory's result reports. It reads printserver.inf from its home,\n"
    "the directory named by PRINTORB_HOME or else the program's own directory, and writes its log\n"
    "spoolerLog.txt there. With a display the operator window opens; without one it runs unattended\n"
    "and its log also goes to standard error (printorbd does the same without the window's libraries).\n"
    "Exit status: 0 when closed (or on SIGTERM/SIGINT), 1 when the start-up refuses to run,\n"
    "2 for a wrong command line.\n";

}  // namespace

int main(int argc, char* argv[])
{
    if (const int status = HandleArguments(argc, argv, "printorb", kUsage); status >= 0)
        return status;
    PrepareServerApplication();
    QApplication app(argc, argv);
    NameServerApplication();
    QApplication::setQuitOnLastWindowClosed(true);
    // SIGTERM and SIGINT close the window as the operator would.
    TTerminationSignals terminate;
    if (!terminate.Installed())
        return 1;

    // Relative names in requests (a PDFDOC without a folder) land in the
    // server's home, as when the program ran from its own folder.
    const std::string home = ServerHome();
    QDir::setCurrent(QString::fromStdString(home));
    TPrintServerForm form(home);
    if (!form.StartedUp()) {
        // Unattended, the log already went to standard error.
        if (TPrintServerForm::HasDisplay())
            std::cerr << "printorb: "
                      << (form.Server().StartUpFailure().empty() ? "the start-up refused to run"
                                                                 : form.Server().StartUpFailure())
                      << " (see " << home << "/spoolerLog.txt)\n";
        return 1;
    }
    terminate.Watch([&form] { form.close(); });
    form.show();
    return app.exec();
}
