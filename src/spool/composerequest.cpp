#include "spool/composerequest.h"

#include "printers/printerselect.h"
#include "request/tagfile.h"
#include "util/textutil.h"

#include <QElapsedTimer>

namespace {

// The print system as a fresh server meets it: asked, and nothing known down.
class TNoWatch : public TPrintSystemWatch {
public:
    std::optional<TFailure> KnownDown() override { return std::nullopt; }
    TFailure Down(const std::string& reason) override { return FailOutage(reason, "cups"); }
    std::optional<TFailure> PrinterDown(const std::string&) override { return std::nullopt; }
};

struct THeld {
    TRequestExit Exit;
    TFailure Failure;
};

// The record's printer made current, falling back to the default printer;
// what holds the request back when it cannot be printed now. A document that
// is only saved needs no printer.
std::optional<THeld> ChoosePrinter(TRequestContext& c, TPrintSystemWatch& watch)
{
    TReportRecord& r = c.Job.Record;
    TLogger& log = c.Job.Log;
    const bool savedOnly = !r.OutputDocument.empty() && r.ScanId.empty();
    // While the print system is down nobody asks it again.
    if (std::optional<TFailure> down = watch.KnownDown()) {
        if (savedOnly)
            return std::nullopt;
        return THeld {TRequestExit::PrintSystemDown, *down};
    }
    // Asked first, so that a silent print system is not taken for a printer
    // that does not exist.
    if (!savedOnly && !c.Printing.Destinations(TPrintingLayer::kDestinationsReuseMs).Answered)
        return THeld {TRequestExit::PrintSystemDown, watch.Down("it does not answer")};
    std::string fellBack;
    const std::string selected = SelectPrinterByNumber(r.PrinterNumber, c.Config, c.Printing, &fellBack);
    if (!selected.empty() && !fellBack.empty() && !savedOnly)
        log.logwarning("Printer " + Trim(r.PrinterNumber) + " " + fellBack + ", using the default printer " +
                       selected + ".");
    if (selected.empty()) {
        const std::string fallback = "Printer " + r.PrinterNumber + " does not exist, using default (printer " +
                                     c.Config.DefaultPrinterNumber + ").";
        if (savedOnly)
            log.loginfo(fallback);
        else
            log.logwarning(fallback);
        r.PrinterNumber = c.Config.DefaultPrinterNumber;
        if (SelectPrinterByNumber(r.PrinterNumber, c.Config, c.Printing).empty()) {
            // A print system that is down for a while must not send the
            // laboratory's requests to "unprintable".
            if (!savedOnly && !c.Printing.ListPrinters())
                return THeld {TRequestExit::PrintSystemDown, watch.Down("it does not answer")};
            if (!savedOnly) {
                log.logerror("No default printer!");
                return THeld {TRequestExit::NoPrinter, Fail("no printer could be selected")};
            }
            log.loginfo("No default printer!");
            return std::nullopt;
        }
    }
    if (savedOnly)
        return std::nullopt;
    if (std::optional<TFailure> down = watch.PrinterDown(c.Printing.CurrentPrinter))
        return THeld {TRequestExit::PrintSystemDown, *down};
    return std::nullopt;
}

// What the print run will output; the overlays are looked up (and their
// failures logged) only for a report that is printed on a chosen printer.
TOutputPlan PlanOutputs(TRequestContext& c, std::string_view spoolName, bool printerChosen)
{
    const TReportRecord& r = c.Job.Record;
    std::string name = OutputFileNameFor(r, c.Config.LprQueueDir, spoolName);
    if (!SavedDocumentPath(name).empty())
        return PlanPrintRun(r, std::move(name), c.Config.LprQueueDir, {}, {}, {}, 0);
    std::string first, other;
    if (printerChosen) {
        TOverlayRequest overlays {r.PrintMask, r.PrintMask2, r.PrnFileName, r.PrnOtherFileName};
        if (c.DocumentViewShown && c.DocumentViewShown())
            overlays.PrintMask.clear();
        c.Overlays.GetMacros(overlays, c.Config.OverlayDir, c.Printing.CurrentPrinter, c.Job.Log, first, other);
    }
    return PlanPrintRun(r, std::move(name), c.Config.LprQueueDir, printerChosen ? c.Printing.CurrentPrinter : "",
                        std::move(first), std::move(other), c.Job.Engine.CurrentPages());
}

}  // namespace

TComposedRequest ComposeRequest(TRequestContext& c, std::string_view spoolName)
{
    TComposedRequest result;
    TReportRecord& r = c.Job.Record;
    if (IsUnprintable(r)) {
        c.Job.Log.logerror(UnprintableMessage(spoolName));
        result.Exit = TRequestExit::Unprintable;
        return result;
    }
    TNoWatch noWatch;
    const std::optional<THeld> held = ChoosePrinter(c, c.Watch ? *c.Watch : noWatch);
    if (held) {
        result.Exit = held->Exit;
        result.Failure = held->Failure;
        if (!c.Preview)
            return result;
    }
    StartReport(c.Job.Engine, c.Config.PageMarginOrDefault());
    if (!r.ScanId.empty()) {
        result.Exit = TRequestExit::ScanImages;
        return result;
    }
    // Logged when the tags were read; the job's own output lacks them.
    if (c.TagsMissing && c.KeepWarning)
        c.KeepWarning(kTagFileMissing);
    QElapsedTimer composing;
    composing.start();
    result.Compose = ComposeReport(c.Job, spoolName);
    result.ComposeSeconds = static_cast<double>(composing.nsecsElapsed()) / 1e9;
    if (result.Compose.Exit != TComposeExit::Completed) {
        result.Exit = TRequestExit::NotComposed;
        result.Failure = Reworded(result.Compose.Cause, result.Compose.Failure);
        return result;
    }
    result.Composed = true;
    result.Plan = PlanOutputs(c, spoolName, !held);
    return result;
}
