// printorbd run as a process on a home of the test's: a letterhead, a
// template, the tag file and settings the test adds to; its log, its
// journal through printorb-tool, and files dropped into its spool folder.
#pragma once

#include "app/serverfixture.h"
#include "util/fileutil.h"

#include <QProcess>

#include <csignal>

struct TDaemonHome : TTestHome {
    static constexpr const char* kRequest = "HV_TEMPLATE~LH^HV_REQCODE~R1^HV_PROCCODE~P1^HV_PRINTER~1^HV_PATSUR~SMITH";

    // settings: the lines after the critical ones; without PRINTER1 the
    // server prints on Laser-A.
    explicit TDaemonHome(const std::string& extra = "", bool noSettle = true)
    {
        WriteFile(Dir / "tags.txt", "3|PATSUR\r\n");
        WriteFile(Dir / "templates/LH.doc", "{\\rtf1 Laboratory\\par}");
        WriteFile(Dir / "templates/P1.tpl", "{\\rtf1 Result for <<PATSUR>>\\par}");
        std::string critical = Critical();
        if (!noSettle)
            critical = critical.substr(0, critical.find("SETTLESECONDS=0\r\n"));
        WriteSettings(critical + (extra.find("PRINTER1=") == std::string::npos ? "PRINTER1=Laser-A\r\n" : "") + extra);
    }
    ~TDaemonHome() { Stop(); }
    bool Start(const std::vector<std::string>& environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("PRINTORB_HOME", QString::fromStdString(Dir.Path()));
        for (const std::string& setting : environment) {
            const auto eq = setting.find('=');
            env.insert(QString::fromStdString(setting.substr(0, eq)), QString::fromStdString(setting.substr(eq + 1)));
        }
        Server.setProcessEnvironment(env);
        Server.setStandardErrorFile(QString::fromStdString(Dir / "stderr.txt"), QIODevice::Append);
        const QString server = QString::fromStdString(BinaryDir() + "/bin/printorbd");
        if (RunAs.empty()) {
            Server.start(server, {});
        } else {
            QStringList args;
            for (std::size_t i = 1; i < RunAs.size(); ++i)
                args << QString::fromStdString(RunAs[i]);
            Server.start(QString::fromStdString(RunAs[0]), args << server);
        }
        return Server.waitForStarted(5000);
    }
    void Stop()
    {
        if (Server.state() == QProcess::NotRunning)
            return;
        Server.terminate();
        if (!Server.waitForFinished(10000)) {
            Server.kill();
            Server.waitForFinished(5000);
        }
    }
    std::string LogText() const { return ReadFile(Dir / "spoolerLog.txt"); }
    bool WaitForLog(const std::string& text, int timeoutMs = 30000) const
    {
        return WaitFor([&] { return LogText().find(text) != std::string::npos; }, timeoutMs);
    }
    int LogCount(const std::string& text) const
    {
        const std::string log = LogText();
        int count = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }
    void Drop(const std::string& name, const std::string& text) { WriteFile(Dir / ("spool/" + name), text); }
    bool InSpool(const std::string& name) const { return FileExists(Dir / ("spool/" + name)); }
    TProgramRun Tool(const std::vector<std::string>& args) const
    {
        std::vector<std::string> all = args;
        all.push_back("--home");
        all.push_back(Dir.Path());
        return RunProgram("printorb-tool", all);
    }
    QProcess Server;
    // A command that runs the server as another user (setpriv ... --), when not empty.
    std::vector<std::string> RunAs;
};
