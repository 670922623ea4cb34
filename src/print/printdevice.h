// Printer device setup: the current printer given the job's page settings
// (orientation, paper, tray, the two overlay names) in its device mode, the
// device context the print run draws on, and the printer's tray names.
#pragma once

#include "platform/docengine/documentengine.h"
#include "platform/printing/printinglayer.h"
#include "print/pagesetup.h"
#include "util/logger.h"
#include "util/result.h"

#include <memory>
#include <string>
#include <string_view>

// A device set up for a job. A tray the printer does not know leaves its
// own default tray in use.
struct TDeviceReady {
    bool TraySet = false;
};

class TPrinterDevice {
public:
    explicit TPrinterDevice(TPrintingLayer& printing) : Printing(printing) {}

    // On success PrinterDC is the new context; a failure says which step
    // (shown as "ERROR: " and the reason).
    TResult<TDeviceReady> SetupPrinterDevice(std::string_view first, std::string_view other, std::string_view tray,
                                             bool landscape, int paperCode);
    void ReleasePrinterDC() { FPrinterDC.reset(); }
    TPrinterDC* PrinterDC() const { return FPrinterDC.get(); }
    // The current printer's tray names, each followed by CR LF.
    std::string ListPrinterTrays();

    TPrintingLayer& Printing;
    TJobPageSetup PageSetup;  // of the current job; before any job portrait, paper code 0

private:
    // The current printer, or the system default when none is selected.
    std::string CurrentDevice() const;

    std::unique_ptr<TPrinterDC> FPrinterDC;
};

// Documents the engine prints as a whole (the Missing Image page) go to the
// current printer as one PDF job; a refusal is logged and fails the print.
void PrintWholeDocuments(DocumentEngine& engine, TPrintingLayer& printing, TLogger& log);
