// A spool home for the job pipeline's tests: spool, results, templates and
// LPR queue folders, a letterhead and a template, settings the test can
// change, and a pipeline built over them. Ticks and print runs are called
// directly, never waited for.
#pragma once

#include "spool/pipeline.h"
#include "support/readrows.h"
#include "support/recordinglog.h"
#include "support/testsettings.h"
#include "support/testsupport.h"
#include "util/fileutil.h"

#include <QDateTime>
#include <gtest/gtest.h>
#include <memory>

// A window that is watched or not, and counts what jobs ask of it.
struct TTestWindow : TJobWindow {
    bool ViewShown = false;
    int Dialogs = 0;
    int Beeps = 0;
    void Repaint() override {}
    bool DocumentViewShown() const override { return ViewShown; }
    void ShowPrintDialog(std::string_view, std::string_view) override { ++Dialogs; }
    void Beep() override { ++Beeps; }
};

struct TSpoolHome {
    TTempDir Dir;
    TTestSettings Settings;
    TRecordingLog Log;
    TIndicators Indicators;
    TTestWindow Window;
    bool Configured = Configure();
    TJobPipeline Pipeline {Settings.Config, Log, Indicators};
    DocumentEngine& Engine = Pipeline.Engine();
    TReportRecord& Record = Pipeline.Record();
    TPrintingLayer& Printing = Pipeline.Printing();
    int Dispatches = 0;  // LPR queue rounds
    // The pipeline's time, moved on by the tests; it starts with the real one,
    // which the print system's and the files' times follow.
    std::int64_t Clock = QDateTime::currentMSecsSinceEpoch();

    TSpoolHome()
    {
        for (const char* sub : {"spool/temp", "results", "templates", "images", "lpd"})
            EXPECT_TRUE(ForceDir(Dir / sub));
        WriteFile(Dir / "tags.txt", "3|PATSUR\r\n");
        WriteFile(Dir / "templates/LH.doc",
                  "{\\rtf1{\\header Lab <<PATSUR>>\\par}\\paperw11906\\paperh16838 letterhead body\\par}");
        WriteFile(Dir / "templates/P1.tpl", "{\\rtf1 Template for <<PATSUR>>\\par}");
        Pipeline.SetWindow(&Window);
        Pipeline.SetClock([this] { return Clock; });
        Pipeline.PrepareJobs();
        Record.DrawDynamicRange = nullptr;
        Pipeline.LprQueue().Pause = [](int) {};
        Indicators.OnLightChanged = [this](TLight light) {
            if (light == TLight::LPR && Indicators.Light(light) == TLightColor::Green)
                ++Dispatches;
        };
    }
    bool Configure()
    {
        TServerConfig& c = Settings.Config;
        c.ProgramDir = Dir.Path();
        c.TempDir = Dir / "temp/";
        c.SpoolDir = Dir / "spool/";
        c.ResultsDir = Dir / "results/";
        c.TemplatesDir = Dir / "templates/";
        c.OverlayDir = Dir / "overlays/";
        c.LprQueueDir = Dir / "lpd/";
        c.ImageDirs = {Dir / "images/"};
        c.DefaultPrinterNumber = "1";
        c.SettingsScore = 7;
        c.JobRetryDelaySeconds = 0;  // a failed job is due again at once unless a test says otherwise
        c.SettleSeconds = 0;         // files are written whole before a test ticks, unless it says otherwise
        return true;
    }
    TJobPipeline& S() { return Pipeline; }
    // The private scheduler, started on first use; the tests' own CUPS_SERVER otherwise.
    TCupsPeer& Cups()
    {
        if (!FCups)
            FCups = std::make_unique<TCupsPeer>();
        return *FCups;
    }
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
    TJournal& Journal() { return Pipeline.Journal(); }
    // The newest job of a spool file.
    std::optional<TJobRow> JobOf(const std::string& name)
    {
        for (const TJobRow& job : Read(Journal().Jobs({})))
            if (job.SpoolFile == name)
                return job;
        return std::nullopt;
    }
    // A tick, then the print run when the tick left a composed report.
    void TickAndPrint()
    {
        S().SpoolTimerTimer();
        if (S().State().PrintPending)
            S().printingtimerTimer();
    }

private:
    std::unique_ptr<TCupsPeer> FCups;
};
