#include "print/printrun.h"

#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/outputfile.h"
#include "util/stoppoint.h"
#include "util/textutil.h"

#include <exception>

namespace {

constexpr char Q = '"';

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string RestoreSeparators(std::string_view name)
{
    return ReplaceAll(ReplaceAll(ReplaceAll(name, "%5C", "\\"), "%2F", "/"), "%3A", ":");
}

struct TSaveKind {
    const char* Prefix;
    int Format;
    const char* Done;
    const char* Failed;
    const char* Raised;
};

constexpr TSaveKind kPdf {"pdf_", DocumentEngine::PdfFormat, "PDF Document created as ", "PDF Document creation FAILED ",
                          "PDF create - "};
constexpr TSaveKind kWord {"msword_", DocumentEngine::WordFormat, "MS Word Doc created as ",
                           "MS Word Doc creation FAILED ", "MS Word create - "};
constexpr TSaveKind kRtf {"rtf_", DocumentEngine::WordFormat, "RTF Doc created as ", "RTF Doc creation FAILED ",
                          "RTF create - "};

// Why the path is refused before anything is recorded or written; empty when
// it is not. The write checks again on the folder it opens.
std::string RefusalOf(const TPrintRunContext& c, const std::string& path)
{
    if (c.RefuseOutput)
        if (std::string refused = c.RefuseOutput(path); !refused.empty())
            return refused;
    if (c.ProtectedPlaces.Empty())
        return {};
    const TOutcome checked = c.ProtectedPlaces.Check(path);
    return !checked && checked.Kind() == TFailureKind::Final ? checked.Reason() : std::string();
}

TOutcome SaveAs(TPrintRunContext& c, const TSaveKind& kind, const std::string& name)
{
    const std::string path = name.substr(std::string_view(kind.Prefix).size());
    // Saved in an earlier attempt: not saved again.
    if (c.Journal && c.Journal->DocumentSaved(path))
        return TOutcome::Done();
    // The Word and RTF failure lines end in two blanks, as operators know them.
    const std::string tail = kind.Format == DocumentEngine::PdfFormat ? "" : "  ";
    const auto refuse = [&](const std::string& why) -> TOutcome {
        const std::string line = kind.Failed + std::string(1, Q) + path + Q + ": refused for spooler file " +
                                 c.RequestName + " (" + c.Record.GetReqCode() + "): " + why;
        c.Log.logerror(line);
        return FailFinal(line);
    };
    if (const std::string refused = RefusalOf(c, path); !refused.empty())
        return refuse(refused);
    if (c.Journal && !c.Journal->DocumentSaving(path))
        return NotRecorded(path);
    const TResult<QByteArray> bytes = c.Engine.DocumentBytes(ToUnicode(path), kind.Format);
    if (!bytes) {
        c.Log.logerror(kind.Raised + bytes.Reason());
        return Fail(kind.Raised + bytes.Reason());
    }
    const TOutcome written = WriteOutputFile(
        path, std::string_view(bytes->constData(), static_cast<std::size_t>(bytes->size())), c.ProtectedPlaces);
    if (written) {
        if (c.Journal)
            c.Journal->DocumentWasSaved(path);
        c.Log.loginfo(kind.Done + std::string(1, Q) + path + Q);
        return TOutcome::Done();
    }
    if (written.Kind() == TFailureKind::Final)
        return refuse(written.Reason());
    const std::string failed = kind.Failed + std::string(1, Q) + path + Q;
    c.Log.logerror(failed + tail);
    const std::string why = "Could not save " + path + ": " + written.Reason();
    c.Log.logerror(why);
    return Reworded(written.Failure(), failed + ": " + why);
}

}  // namespace

TFailure NotRecorded(std::string_view what)
{
    return FailOutage(std::string(what) + " was not output: the journal cannot record it", "journal");
}

bool IsPageFileOverlay(std::string_view overlay)
{
    return StartsWith(overlay, "HP OVERLAY") || StartsWith(overlay, "MERGE MACRO");
}

namespace {

// The pages of a composed report printed one by one, each its own print job
// (or its own page file when its overlay asks for one); a fax job prints
// every page as one document. Pages done in an earlier attempt are skipped.
class TPageRun {
public:
    TPageRun(TPrintRunContext& c, const std::string& outputFileName)
        : C(c), R(c.Record), FOutputFileName(outputFileName), FFax(c.Record.IsFax)
    {
    }

    TOutcome Run()
    {
        if (C.DocumentViewShown && C.DocumentViewShown()) {
            R.PrintMask.clear();
            if (C.ShowPrintDialog)
                C.ShowPrintDialog();  // its answer changes nothing
        }
        C.GetMacros(FFirst, FOther);
        FPages = C.Engine.CurrentPages();
        const TOutcome printed = FFax ? PrintFax() : PrintPages();
        if (!printed) {
            C.Device.ReleasePrinterDC();
            const std::string what = FFax ? "The fax document " : "Page " + std::to_string(FPage) + " of ";
            const std::string line = what + Codes() + " was not printed: " + printed.Reason();
            C.Log.logerror(line);
            return Reworded(printed.Failure(), line);
        }
        C.Log.loginfo(Summary());
        return TOutcome::Done();
    }

private:
    std::string Codes() const { return R.GetReqCode() + " " + R.GetProcCode(); }
    std::string Title(int page) const { return Codes() + " Page " + std::to_string(page); }
    // A fax is one job; it has a title of its own, so it can be found again.
    std::string FaxTitle() const { return Codes() + " Fax"; }

    // The device for the job's printer with this page's overlays; a failure
    // is logged and the page goes out without its overlay.
    void SetupDevice()
    {
        C.SelectPrinterByNumber(R.PrinterNumber);
        const TJobPageSetup& setup = C.Device.PageSetup;
        FSetup = TOutcome::Done();
        if (const TResult<TDeviceReady> ready =
                C.Device.SetupPrinterDevice(FFirst, FOther, R.PaperTray, setup.PageLandscape, setup.PagePaperSize);
            !ready)
            FSetup = ready.Failure();
    }
    void LogSetupFailure()
    {
        if (FSetup)
            return;
        C.Log.logerror("Failed to set printer information ERROR: " + FSetup.Reason());
        FFirst.clear();
    }

    static TResult<TPrinterDC*> Context(TPrinterDevice& device)
    {
        if (TPrinterDC* dc = device.PrinterDC())
            return dc;
        return Fail("there is no printer device to print on");
    }

    TOutcome DrawPage(TPrinterDC& dc, int page)
    {
        if (const TOutcome started = dc.StartPage(); !started)
            return started;
        C.Engine.SetPrintDevice(dc.Painter());
        struct TClearDevice {
            DocumentEngine& Engine;
            ~TClearDevice() { Engine.SetPrintDevice(nullptr); }
        } clear {C.Engine};
        if (const TOutcome drawn = C.Engine.PrintPage(page); !drawn)
            return drawn;
        return dc.EndPage();
    }

    // The pages one by one; the first that fails ends the run.
    TOutcome PrintPages()
    {
        for (FPage = 1; FPage <= FPages; ++FPage)
            if (const TOutcome printed = PrintPage(); !printed)
                return printed;
        return TOutcome::Done();
    }

    // One page as its own document: to the printer, or into its page file.
    TOutcome PrintPage()
    {
        if (FPage >= 2)
            FFirst = FOther;
        const std::string title = Title(FPage);
        const std::string pageFile = PageFileFor(C.LprQueueDir, FOutputFileName, FFirst, FPage);
        if (C.Journal && C.Journal->PageDone(FPage, title, pageFile)) {
            ++FDoneBefore;
            return TOutcome::Done();
        }
        struct TReleaseAfterPage {
            TPrinterDevice& Device;
            ~TReleaseAfterPage() { Device.ReleasePrinterDC(); }
        } release {C.Device};
        SetupDevice();
        LogSetupFailure();
        // Without its overlay (a failed set-up) the page goes to the printer.
        const std::string output = IsPageFileOverlay(FFirst) ? pageFile : std::string();
        const TResult<TPrinterDC*> context = Context(C.Device);
        if (!context)
            return context.Failure();
        TPrinterDC& dc = **context;
        if (C.Journal && !C.Journal->PageSending(FPage, title, dc.Caps().Destination, output))
            return NotRecorded("the page");
        TOutcome printed = dc.StartDoc({title, output});
        if (printed)
            printed = DrawPage(dc, FPage);
        if (printed)
            printed = dc.EndDoc();
        if (!printed)
            return printed;
        if (output.empty())
            StopPoint("page-accepted");  // the scheduler has the page; the journal not yet
        if (C.Journal)
            C.Journal->PageSent(FPage, title, dc.JobId(), output);
        ++(output.empty() ? FPrinted : FPageFiles);
        FPrinter = dc.Caps().Destination;
        if (C.PageDone)
            C.PageDone();
        return TOutcome::Done();
    }

    // Every page as one document without name or output file; the set-up is
    // done once and its failure logged for every page.
    TOutcome PrintFax()
    {
        const std::string title = FaxTitle();
        if (C.Journal && C.Journal->PageDone(0, title, std::string())) {
            FDoneBefore = FPages;
            return TOutcome::Done();
        }
        SetupDevice();
        TPrinterDC* dc = C.Device.PrinterDC();
        if (dc) {
            if (C.Journal && !C.Journal->PageSending(0, title, dc->Caps().Destination, std::string()))
                return NotRecorded("the fax document");
            if (const TOutcome started = dc->StartDoc({title, {}}); !started)
                return started;
        }
        for (FPage = 1; FPage <= FPages; ++FPage) {
            LogSetupFailure();
            if (!dc)
                continue;  // the document fails below
            if (const TOutcome drawn = DrawPage(*dc, FPage); !drawn)
                return drawn;
            ++FPrinted;
            if (C.PageDone)
                C.PageDone();
        }
        const TResult<TPrinterDC*> context = Context(C.Device);
        if (!context)
            return context.Failure();
        TPrinterDC& doc = **context;
        if (const TOutcome ended = doc.EndDoc(); !ended)
            return ended;
        if (C.Journal)
            C.Journal->PageSent(0, title, doc.JobId(), std::string());
        FPrinter = doc.Caps().Destination;
        C.Device.ReleasePrinterDC();
        return TOutcome::Done();
    }

    // Where the pages went, for the operator.
    std::string Summary() const
    {
        std::string done = "Printed " + Codes() + ":";
        if (FPrinted > 0)
            done += " " + std::to_string(FPrinted) + " page(s) on " + FPrinter;
        if (FPageFiles > 0)
            done += std::string(FPrinted > 0 ? "," : "") + " " + std::to_string(FPageFiles) +
                    " page file(s) for the LPR queue";
        if (FDoneBefore > 0)
            done += std::string(FPrinted + FPageFiles > 0 ? "," : "") + " " + std::to_string(FDoneBefore) +
                    " page(s) done in an earlier attempt";
        return done;
    }

    TPrintRunContext& C;
    TReportRecord& R;
    const std::string& FOutputFileName;
    const bool FFax;
    std::string FFirst, FOther;
    int FPages = 0;
    int FPage = 0;
    TOutcome FSetup;
    int FPrinted = 0;
    int FPageFiles = 0;
    int FDoneBefore = 0;
    std::string FPrinter;
};

}  // namespace

std::string PageFileName(std::string_view lprQueueDir, std::string_view outputFileName, std::string_view overlay,
                         int page)
{
    const std::string file = ExtractFileName(outputFileName);
    const std::string ext = ExtractFileExt(file);
    const std::string base = file.substr(0, file.size() - ext.size());
    return std::string(lprQueueDir) + TextAfter(overlay, "-") + "_" +
           TextAfter(base + "-" + std::to_string(page) + ext, "_");
}

std::string PageFileFor(std::string_view lprQueueDir, std::string_view outputFileName, std::string_view overlay,
                        int page)
{
    return IsPageFileOverlay(overlay) ? PageFileName(lprQueueDir, outputFileName, overlay, page) : std::string();
}

TOutputPlan PlanPrintRun(const TReportRecord& record, std::string outputFileName, std::string_view lprQueueDir,
                         std::string printer, std::string firstOverlay, std::string otherOverlay, int pages)
{
    TOutputPlan plan {.OutputFileName = std::move(outputFileName),
                      .SavedDocument = {},
                      .Printer = std::move(printer),
                      .FirstOverlay = std::move(firstOverlay),
                      .OtherOverlay = std::move(otherOverlay),
                      .Fax = record.IsFax,
                      .Pages = pages,
                      .PageFiles = {}};
    plan.SavedDocument = SavedDocumentPath(plan.OutputFileName);
    // A fax is one print job of every page, whatever its overlays.
    for (int page = 1; page <= pages && plan.SavedDocument.empty(); ++page)
        plan.PageFiles.push_back(plan.Fax ? std::string()
                                          : PageFileFor(lprQueueDir, plan.OutputFileName,
                                                        page == 1 ? plan.FirstOverlay : plan.OtherOverlay, page));
    return plan;
}

std::string SavedDocumentPath(std::string_view name)
{
    if (StartsWith(name, kPdf.Prefix))
        return RestoreSeparators(EscapeFileName(name)).substr(std::string_view(kPdf.Prefix).size());
    for (const TSaveKind* kind : {&kWord, &kRtf})
        if (StartsWith(name, kind->Prefix))
            return RestoreSeparators(name).substr(std::string_view(kind->Prefix).size());
    return {};
}

TOutcome PrintReport(TPrintRunContext& c, std::string& OutputFileName)
{
    if (StartsWith(OutputFileName, kPdf.Prefix)) {
        OutputFileName = RestoreSeparators(EscapeFileName(OutputFileName));
        return SaveAs(c, kPdf, OutputFileName);
    }
    if (StartsWith(OutputFileName, kWord.Prefix)) {
        OutputFileName = RestoreSeparators(OutputFileName);
        return SaveAs(c, kWord, OutputFileName);
    }
    if (StartsWith(OutputFileName, kRtf.Prefix)) {
        OutputFileName = RestoreSeparators(OutputFileName);
        return SaveAs(c, kRtf, OutputFileName);
    }
    return TPageRun(c, OutputFileName).Run();
}
