// A print home for the print-output tests: a private CUPS scheduler with the
// queues a test asks for, a driver-data file, a document engine with pages,
// and the print run's context over them.
#pragma once

#include "delivery/overlaylookup.h"
#include "platform/docengine/documentengine.h"
#include "print/printdevice.h"
#include "print/printrun.h"
#include "printers/printerselect.h"
#include "request/reportrecord.h"
#include "request/tagfile.h"
#include "support/testsupport.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "support/recordinglog.h"
#include "support/testsettings.h"

#include <QDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

struct TPrintHome {
    TTempDir Dir;
    TPrintingLayer Printing;
    TPrinterDevice Device {Printing};
    DocumentEngine Engine;
    TReportRecord Record;
    TRecordingLog Log;
    TOverlayLookup Overlays {Dir / "printerdriverdata.reg"};
    TTestSettings Settings;
    bool ViewShown = false;
    int Dialogs = 0;

    TPrintHome()
    {
        Record.DrawDynamicRange = nullptr;
        EXPECT_TRUE(ForceDir(Dir / "lpd"));
        EXPECT_TRUE(ForceDir(Dir / "overlays"));
        PrintWholeDocuments(Engine, Printing, Log);
    }
    // The private scheduler, started on first use.
    TCupsPeer& Cups()
    {
        if (!FCups)
            FCups = std::make_unique<TCupsPeer>();
        return *FCups;
    }
    // The request's printer made current, as the job sequence does before the print run.
    void Select() { SelectPrinterByNumber(Record.PrinterNumber, Settings.Config, Printing); }
    void Request(const std::string& text)
    {
        Record.ResetFields();
        ParseIntoRecord(Record, text);
    }
    // A report of that many pages, one numbered line at the top of each.
    void Pages(int pages)
    {
        Engine.ClearDocument();
        QString text;
        for (int page = 1; page <= pages; ++page) {
            text += QStringLiteral("Report page %1").arg(page);
            if (page < pages)
                text += QString(70, QLatin1Char('\n'));
        }
        Engine.SetSelText(text);
        ASSERT_EQ(Engine.CurrentPages(), pages);
    }
    void DriverData(const std::string& text) { WriteFile(Dir / "printerdriverdata.reg", "REGEDIT4\r\n\r\n" + text); }
    TPrintRunContext Context()
    {
        return {Engine,
                Record,
                Device,
                Log,
                Dir / "lpd/",
                [this](std::string_view n) { return SelectPrinterByNumber(n, Settings.Config, Printing); },
                [this](std::string& first, std::string& other) {
                    Overlays.GetMacros({Record.PrintMask, Record.PrintMask2, Record.PrnFileName, Record.PrnOtherFileName},
                                       Dir / "overlays/", Printing.CurrentPrinter, Log, first, other);
                },
                nullptr,
                [this] { return ViewShown; },
                [this] { ++Dialogs; }};
    }
    std::unique_ptr<TCupsPeer> FCups;

    std::vector<std::string> QueueFiles() const
    {
        std::vector<std::string> names;
        for (const QString& n : QDir(QString::fromStdString(Dir / "lpd")).entryList(QDir::Files, QDir::Name))
            names.push_back(n.toStdString());
        return names;
    }
};
