#include "print/printrun.h"

#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <stdexcept>

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

bool SaveAs(TPrintRunContext& c, const TSaveKind& kind, const std::string& name)
{
    const std::string path = name.substr(std::string_view(kind.Prefix).size());
    // The Word and RTF failure lines end in two blanks, as operators know them.
    const std::string tail = kind.Format == DocumentEngine::PdfFormat ? "" : "  ";
    try {
        if (c.Engine.SaveDocument(ToUnicode(path), -1, kind.Format, false) != 0) {
            c.Log.loginfo(kind.Done + std::string(1, Q) + path + Q);
            return true;
        }
        c.Log.loginfo(kind.Failed + std::string(1, Q) + path + Q + tail);
        if (!c.Engine.LastError().isEmpty())
            c.Log.loginfo(FromUnicode(c.Engine.LastError()));
    } catch (const std::exception& failure) {
        c.Log.loginfo(kind.Raised + std::string(failure.what()));
    }
    return false;
}

bool IsPageFileOverlay(std::string_view overlay)
{
    return StartsWith(overlay, "HP OVERLAY") || StartsWith(overlay, "MERGE MACRO");
}

TPrinterDC& Context(TPrinterDevice& device)
{
    if (TPrinterDC* dc = device.PrinterDC())
        return *dc;
    throw std::runtime_error("there is no printer device to print on");
}

void Check(bool done, TPrinterDC& dc)
{
    if (!done)
        throw std::runtime_error(dc.LastError());
}

void PrintOnePage(TPrintRunContext& c, TPrinterDC& dc, int page)
{
    Check(dc.StartPage(), dc);
    c.Engine.SetPrintDevice(dc.Painter());
    struct TClearDevice {
        DocumentEngine& Engine;
        ~TClearDevice() { Engine.SetPrintDevice(nullptr); }
    } clear {c.Engine};
    c.Engine.PrintPage(page);
    Check(dc.EndPage(), dc);
}

bool PrintPages(TPrintRunContext& c, const std::string& outputFileName)
{
    TReportRecord& r = c.Record;
    if (c.DocumentViewShown && c.DocumentViewShown()) {
        r.PrintMask.clear();
        if (c.ShowPrintDialog)
            c.ShowPrintDialog();  // its answer changes nothing
    }
    std::string first, other;
    c.GetMacros(first, other);
    const int pages = c.Engine.CurrentPages();
    const bool fax = r.IsFax;
    const TJobPageSetup& setup = c.Device.PageSetup;
    auto setupDevice = [&]() -> TOutcome {
        c.SelectPrinterByNumber(r.PrinterNumber);
        const TResult<TDeviceReady> ready =
            c.Device.SetupPrinterDevice(first, other, r.PaperTray, setup.PageLandscape, setup.PagePaperSize);
        if (!ready)
            return ready.Failure();
        return TOutcome::Done();
    };
    const std::string documentName = r.GetReqCode() + " " + r.GetProcCode() + " Page ";
    int page = 0;
    int pageFiles = 0;
    try {
        TOutcome result;
        if (fax) {
            result = setupDevice();
            if (TPrinterDC* dc = c.Device.PrinterDC())
                Check(dc->StartDoc({}), *dc);
        }
        for (page = 1; page <= pages; ++page) {
            struct TReleaseAfterPage {
                TPrinterDevice& Device;
                bool Fax;
                ~TReleaseAfterPage()
                {
                    if (!Fax)
                        Device.ReleasePrinterDC();
                }
            } release {c.Device, fax};
            if (page >= 2)
                first = other;
            if (!fax)
                result = setupDevice();
            if (!result) {
                c.Log.loginfo("Failed to set printer information ERROR: " + result.Reason());
                first.clear();
            }
            if (fax && !c.Device.PrinterDC())
                continue;  // the set-up failure is logged for every page; the document fails below
            const TDocInfo info {documentName + std::to_string(page),
                                 IsPageFileOverlay(first) ? PageFileName(c.LprQueueDir, outputFileName, first, page)
                                                          : std::string()};
            TPrinterDC& dc = Context(c.Device);
            pageFiles += info.Output.empty() ? 0 : 1;
            if (!fax)
                Check(dc.StartDoc(info), dc);
            PrintOnePage(c, dc, page);
            if (!fax)
                Check(dc.EndDoc(), dc);
            if (c.PageDone)
                c.PageDone();
        }
        if (fax) {
            TPrinterDC& dc = Context(c.Device);
            Check(dc.EndDoc(), dc);
            c.Device.ReleasePrinterDC();
        }
    } catch (const std::exception& failure) {
        c.Device.ReleasePrinterDC();
        const std::string what = fax ? "The fax document " : "Page " + std::to_string(page) + " of ";
        c.Log.loginfo(what + r.GetReqCode() + " " + r.GetProcCode() + " was not printed: " + failure.what());
        return false;
    }
    // Where the pages went, for the operator.
    std::string done = "Printed " + r.GetReqCode() + " " + r.GetProcCode() + ":";
    if (pages > pageFiles)
        done += " " + std::to_string(pages - pageFiles) + " page(s) on " + c.Device.Printing.CurrentPrinter;
    if (pageFiles > 0)
        done += std::string(pages > pageFiles ? "," : "") + " " + std::to_string(pageFiles) +
                " page file(s) for the LPR queue";
    c.Log.loginfo(done);
    return true;
}

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

bool PrintReport(TPrintRunContext& c, std::string& OutputFileName)
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
    return PrintPages(c, OutputFileName);
}
