// A spool home for the job pipeline's tests: spool, results, templates and
// LPR queue folders, a letterhead and a template, and a spooler built over
// them. Ticks and print runs are called directly, never waited for.
#pragma once

#include "print/printhome.h"
#include "spool/spooler.h"

#include <QDir>
#include <memory>

struct TSpoolHome : TPrintHome {
    TIndicators Indicators;
    std::vector<std::string> TagList;
    TImageComponent ImageProbe;
    TImageComponent MultiImage;
    TJobSettings Job;
    int Dispatches = 0;
    int Aborts = 0;
    std::unique_ptr<TSpooler> Spooler;

    TSpoolHome()
    {
        for (const char* sub : {"spool/temp", "results", "templates", "images"})
            EXPECT_TRUE(ForceDir(Dir / sub));
        WriteFile(Dir / "tags.txt", "3|PATSUR\r\n");
        WriteFile(Dir / "templates/LH.doc",
                  "{\\rtf1{\\header Lab <<PATSUR>>\\par}\\paperw11906\\paperh16838 letterhead body\\par}");
        WriteFile(Dir / "templates/P1.tpl", "{\\rtf1 Template for <<PATSUR>>\\par}");
        Job = {Dir.Path(),  Dir / "spool/", Dir / "results/", Dir / "templates/", Dir / "overlays/",
               Dir / "lpd/", "",             {Dir / "images/"}, "",             "1",
               7};
        Spooler = std::make_unique<TSpooler>(TSpoolerParts {
            Log, Indicators, Engine, Record, TagList, Device, ImageProbe, MultiImage, Overlays, [this] { return Job; },
            [this](std::string_view key) { return SettingValue(key); }, [this] { ++Dispatches; },
            [this] { ++Aborts; }, nullptr, [this] { return ViewShown; }, [this] { ++Dialogs; }});
    }
    TSpooler& S() { return *Spooler; }
    void Drop(const std::string& name, const std::string& bytes) { WriteFile(Dir / ("spool/" + name), bytes); }
    bool InSpool(const std::string& name) const { return FileExists(Dir / ("spool/" + name)); }
    std::vector<std::string> Found() const
    {
        std::vector<std::string> names;
        for (const std::string& line : Log.Lines)
            if (line.rfind("Found file ", 0) == 0)
                names.push_back(line.substr(11));
        return names;
    }
    // A tick, then the print run when the tick left a composed report.
    void TickAndPrint()
    {
        S().SpoolTimerTimer();
        if (S().PrintPending)
            S().printingtimerTimer();
    }
};
