// printorbd: the print server unattended, without a window. It links Qt Core
// and Gui only (the offscreen platform draws the reports); its home, log and
// behaviour are those of printorb without a display. Under systemd it says
// when it is ready, keeps the watchdog fed from the spool tick, and ends a
// refused start-up with EX_CONFIG so that the unit does not retry it.
#include "app/printserver.h"
#include "app/programentry.h"
#include "platform/servicenotify.h"

#include <QGuiApplication>

#include <string>

namespace {

// sysexits.h's EX_CONFIG: the settings are wrong, a restart would not help.
constexpr int kExitConfig = 78;
// EX_TEMPFAIL: another server has the home; the unit tries again later.
constexpr int kExitHomeTaken = 75;

std::string Usage()
{
    std::string usage = ServerUsage("printorbd",
                                    "It runs unattended: its log also goes to standard\n"
                                    "error, message boxes count as OK, questions as No.",
                                    "on SIGTERM/SIGINT");
    const std::string refused = "1 when the start-up refuses to run";
    if (const std::size_t at = usage.find(refused); at != std::string::npos)
        usage.replace(at, refused.size(),
                      "78 (EX_CONFIG) when the start-up refuses to run\n"
                      "(settings missing or wrong), 75 (EX_TEMPFAIL) when another server runs on\n"
                      "its home, 1 when it cannot start at all");
    return usage;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (const int status = HandleArguments(argc, argv, "printorbd", Usage()); status >= 0)
        return status;
    TProgramEnvironment env = TProgramEnvironment::Read();
    // Never a window: fonts and drawing need only the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    env.QtPlatform = true;
    InstallQtNoiseFilter();
    PrepareServerApplication(env);
    QGuiApplication app(argc, argv);
    NameServerApplication();
    TServiceNotifier service;
    TTerminationSignals terminate;
    if (!terminate.Installed())
        return 1;
    TPrintServer server(EnterServerHome(env), env);
    server.MirrorLogToStderr(true);
    TJobPipeline& pipeline = server.Pipeline();
    pipeline.SetAliveHook([&service] { service.Alive(); });
    pipeline.Start();  // ticks from the start, as with the window
    if (!server.StartUp()) {
        const std::string why = server.StartUpFailure();
        service.Status("Start-up refused: " + (why.empty() ? std::string("see the log") : why));
        return server.HomeTaken() ? kExitHomeTaken : kExitConfig;
    }
    service.Ready("Spooling from " + server.Config().SpoolDir);

    terminate.Watch([&service] {
        service.Stopping();
        QCoreApplication::quit();
    });
    const int status = QCoreApplication::exec();
    pipeline.Stop();
    pipeline.SetAliveHook(nullptr);
    server.SpoolerLink().Close();
    server.loginfo("Print server closed.");
    return status;
}
