// Scanned-image printing: the images of a request's scan id, each printed as
// a one-page document on the request's printer, fitted to the printable
// area; a notice page when there is none.
#pragma once

#include "platform/docengine/documentengine.h"
#include "platform/imaging/imagecomponent.h"
#include "print/printdevice.h"
#include "print/printrun.h"
#include "util/logger.h"

#include <functional>
#include <string>
#include <vector>

struct TScanContext {
    std::string ScanId;
    std::string PaperTray;
    const std::vector<std::string>& ImageDirs;
    std::string AutoScanSubDir;
    TImageComponent& MultiImage;
    TPrinterDevice& Device;
    DocumentEngine& Engine;
    TLogger& Log;
    std::function<void(std::string& first, std::string& other)> GetMacros;
    // Images printed in an earlier attempt are not printed again.
    TOutputJournal* Journal = nullptr;
};

// Prints every image file of the scan id, or the notice page. Done when
// every document was accepted by the printer; else why not.
TOutcome PrintScanJob(TScanContext& context);

// The picture on the device context as one document of one page, named
// "ImagePrint: " and the name.
TOutcome PrintLoadedImage(TPrinterDC& dc, const QImage& picture, const std::string& name);

// Draws the picture into a rectangle (device units from the printable
// area's corner); a width or height below 1 means the picture's own size.
void StretchImageToPrinter(TPrinterDC& dc, const QImage& picture, int x, int y, int width, int height);

// The size a picture prints at in a printable area, keeping its shape.
QSize FitToPrintable(int printableWidth, int printableHeight, int pictureWidth, int pictureHeight);
