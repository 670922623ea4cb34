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
    std::string why;
    const std::shared_ptr<TPrinterHandle> printer = Printing.OpenPrinter(device, why);
    if (!printer)
        return Fail("Could not get printer " + device, why);
    TDevMode mode;
    if (!printer->DocumentProperties(mode))
        return Fail("No document properties");
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
    FPrinterDC = printer->CreateDC(mode, why);
    if (!FPrinterDC) {
        Printing.Forget();
        return Fail("Device Context did not create " + why);
    }
    return ready;
}

std::string TPrinterDevice::ListPrinterTrays()
{
    const std::string device = CurrentDevice();
    std::string why;
    const std::shared_ptr<TPrinterHandle> printer = device.empty() ? nullptr : Printing.OpenPrinter(device, why);
    std::string list;
    if (printer)
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
