#include "print/printdevice.h"

#include "util/codepage.h"

std::string TPrinterDevice::CurrentDevice() const
{
    return Printing.CurrentPrinter.empty() ? Printing.SystemDefaultPrinter() : Printing.CurrentPrinter;
}

TResult<TDeviceReady> TPrinterDevice::SetupPrinterDevice(std::string_view first, std::string_view other,
                                                         std::string_view tray, bool landscape, int paperCode)
{
    // No stale context outlives a new set-up, whatever its result.
    ReleasePrinterDC();
    TDeviceReady ready;
    const std::string device = CurrentDevice();
    if (device.empty())
        return Fail("No printer selected.");
    const TResult<std::shared_ptr<TPrinterHandle>> opened = Printing.OpenPrinter(device);
    if (!opened)
        return Fail("Could not get printer " + device, opened.Reason());
    const std::shared_ptr<TPrinterHandle>& printer = *opened;
    TDevMode mode = printer->DocumentProperties();
    mode.WriteSlot(TDevMode::kFirstOverlaySlot, first);
    mode.WriteSlot(TDevMode::kOtherOverlaySlot, other);
    mode.SetOrientation(landscape ? TDevMode::DMORIENT_LANDSCAPE : TDevMode::DMORIENT_PORTRAIT);
    mode.SetPaperSize(paperCode == 0 ? kPaperA4 : paperCode);
    std::vector<std::string> bins;
    for (const TTray& t : printer->Trays())
        bins.push_back(t.Name);
    if (const int position = MatchTray(bins, tray); position > 0) {
        mode.SetDefaultSource(position);
        ready.TraySet = true;
    }
    printer->MergeDocumentProperties(mode);
    TResult<std::unique_ptr<TPrinterDC>> dc = printer->CreateDC(mode);
    if (!dc) {
        Printing.Forget();
        return Fail("Device Context did not create " + dc.Reason());
    }
    FPrinterDC = std::move(dc).Value();
    return ready;
}

std::string TPrinterDevice::ListPrinterTrays()
{
    const std::string device = CurrentDevice();
    std::string list;
    // No printer, no trays: the list is empty.
    if (const auto printer = device.empty() ? nullptr : Printing.OpenPrinter(device).ValueOr(nullptr))
        for (const TTray& t : printer->Trays())
            list += t.Name + "\r\n";
    return list;
}

void PrintWholeDocuments(DocumentEngine& engine, TPrintingLayer& printing, TLogger& log)
{
    engine.PrintHandler = [&printing, &log](DocumentEngine& document, const QString& jobName) {
        const TResult<int> job = printing.PrintPdf({}, FromUnicode(jobName), document.PdfBytes(jobName).toStdString());
        if (!job)
            log.logerror(job.Reason());
        return job.Ok();
    };
}
