// A server home in a temporary folder: printserver.inf written by the test,
// the three working directories present, scripted prompts, fixed printers.
#pragma once

#include "app/printserver.h"
#include "support/scriptedprompts.h"
#include "support/testsupport.h"

#include <QDir>
#include <memory>

class TTestHome {
public:
    TTestHome()
    {
        ForceDirs();
    }
    void ForceDirs()
    {
        for (const char* sub : {"spool", "results", "templates"})
            QDir().mkpath(QString::fromStdString(Dir / sub));
    }
    // Settings with the critical values pointing into the home, plus extra
    // lines. Files are written whole before the server looks: no settle time.
    std::string Critical() const
    {
        return "RESULTS=" + (Dir / "results") + "\r\nSPOOLER=" + (Dir / "spool") + "\r\nTEMPLATES=" + (Dir / "templates") +
               "\r\nDEFLETTERHEAD=LH\r\nSETTLESECONDS=0\r\n";
    }
    void WriteSettings(const std::string& text) { WriteFile(Dir / "printserver.inf", text); }
    std::string Settings() const { return ReadFile(Dir / "printserver.inf"); }

    std::unique_ptr<TPrintServer> MakeServer(std::vector<std::string> installed = {"Laser A", "Laser B", "Laser C"},
                                             const TProgramEnvironment& env = {})
    {
        auto server = std::make_unique<TPrintServer>(Dir.Path(), env);
        server->SetPrompts(Prompts);
        server->SetInstalledPrinters([installed] { return installed; });
        return server;
    }

    bool LogHas(TPrintServer& server, const std::string& text) const
    {
        for (const TEventLog::TWindowLine& line : server.Log().WindowLines())
            if (line.Text.find(text) != std::string::npos)
                return true;
        return false;
    }

    TTempDir Dir;
    TScriptedPrompts Prompts;
};
