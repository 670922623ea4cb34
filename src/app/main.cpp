// printorb: the operator window over the print server. Without a display it
// runs unattended on the offscreen platform, as printorbd does.
#include "app/eventlog.h"
#include "app/mainwindow.h"
#include "app/programentry.h"

#include <QApplication>

#include <iostream>

int main(int argc, char* argv[])
{
    const std::string usage = ServerUsage(
        "printorb",
        "With a display the operator window opens; without one\n"
        "it runs unattended and its log also goes to standard error (printorbd does the same without\n"
        "the window's libraries).",
        "when closed (or on SIGTERM/SIGINT)");
    if (const int status = HandleArguments(argc, argv, "printorb", usage); status >= 0)
        return status;
    const TProgramEnvironment env = TProgramEnvironment::Read();
    PrepareServerApplication(env);
    InstallQtNoiseFilter();  // offscreen runs: the size-hints warning is no news
    QApplication app(argc, argv);
    NameServerApplication();
    QApplication::setQuitOnLastWindowClosed(true);
    // SIGTERM and SIGINT close the window as the operator would.
    TTerminationSignals terminate;
    if (!terminate.Installed())
        return 1;
    const std::string home = EnterServerHome(env);
    TPrintServerForm form(home, nullptr, env);
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
