// A device context: the document being printed on one printer, with the
// device mode it was made from. Pages are painted with QPainter in device
// units, 300 to the inch, from the top-left corner of the physical page.
// With no output file the document becomes one PDF job of the print system,
// with the device mode as job options; with an output file its pages are
// written to that file as PCL 5 (appearing whole or not at all).
#pragma once

#include "platform/printing/devmode.h"
#include "util/result.h"

#include <QByteArray>
#include <QImage>
#include <QSizeF>
#include <QPainter>

#include <memory>
#include <string>
#include <utility>
#include <vector>

class TPdfDevice;
class TPrintingLayer;

struct TDocInfo {
    std::string DocName;
    std::string Output;  // empty: the printer itself
};

// What the print system knows of a printer for this document.
struct TDeviceCaps {
    std::string Destination;  // the queue name
    std::string TrayChoice;   // InputSlot keyword of the device mode's tray; empty for the printer's own
    int PclSource = 0;        // the tray's PCL paper source
    // Unprintable margins of the paper, in device units (portrait).
    int MarginLeft = 0;
    int MarginTop = 0;
};

class TPrinterDC {
public:
    static constexpr int kDpi = 300;

    TPrinterDC(TPrintingLayer& layer, TDevMode mode, TDeviceCaps caps);
    ~TPrinterDC();
    TPrinterDC(const TPrinterDC&) = delete;
    TPrinterDC& operator=(const TPrinterDC&) = delete;

    const TDevMode& DevMode() const { return FMode; }
    const TDeviceCaps& Caps() const { return FCaps; }
    bool Landscape() const { return FMode.Orientation() == TDevMode::DMORIENT_LANDSCAPE; }
    int PhysicalWidth() const;
    int PhysicalHeight() const;
    int PhysicalOffsetX() const { return Landscape() ? FCaps.MarginTop : FCaps.MarginLeft; }
    int PhysicalOffsetY() const { return Landscape() ? FCaps.MarginLeft : FCaps.MarginTop; }

    // A page file's full folder fails as an outage; everything else here as
    // a fault.
    TOutcome StartDoc(const TDocInfo& info);
    TOutcome StartPage();
    QPainter* Painter() { return FPainter.get(); }
    TOutcome EndPage();
    TOutcome EndDoc();
    void AbortDoc();
    // The print system's number of the job the last EndDoc handed over; 0
    // for a printer file or an empty document.
    int JobId() const { return FJobId; }

    // The options a PDF job of this device mode carries.
    std::vector<std::pair<std::string, std::string>> JobOptions() const;

private:
    TPrintingLayer& FLayer;
    TDevMode FMode;
    TDeviceCaps FCaps;
    TDocInfo FDoc;
    bool FInDoc = false;
    bool FInPage = false;
    int FPages = 0;
    // PDF job
    std::unique_ptr<TPdfDevice> FPdfDevice;
    QSizeF FPageSize;
    // PCL file
    QImage FPageImage;
    std::string FPcl;
    std::unique_ptr<QPainter> FPainter;
    int FJobId = 0;
};
