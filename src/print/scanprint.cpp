#include "print/scanprint.h"

#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <cmath>

QSize FitToPrintable(int printableWidth, int printableHeight, int pictureWidth, int pictureHeight)
{
    int w = printableWidth;
    int h = printableHeight;
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return {w, h};
    const double r = static_cast<double>(pictureWidth) / pictureHeight;
    if (w / r <= h)
        h = static_cast<int>(std::trunc(w / r));
    else
        w = static_cast<int>(std::trunc(h * r));
    return {w, h};
}

void StretchImageToPrinter(TPrinterDC& dc, const QImage& picture, int x, int y, int width, int height)
{
    if (width < 1 || height < 1) {
        width = picture.width();
        height = picture.height();
    }
    QPainter* painter = dc.Painter();
    if (!painter)
        return;
    painter->save();
    // The printable area's corner is the origin, as on the printer's own device.
    painter->translate(dc.PhysicalOffsetX(), dc.PhysicalOffsetY());
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(QRect(x, y, width, height), picture);
    painter->restore();
}

TOutcome PrintLoadedImage(TPrinterDC& dc, const QImage& picture, const std::string& name)
{
    const QSize size = FitToPrintable(dc.PhysicalWidth() - 2 * dc.PhysicalOffsetX(),
                                      dc.PhysicalHeight() - 2 * dc.PhysicalOffsetY(), picture.width(), picture.height());
    TOutcome done = dc.StartDoc({"ImagePrint: " + name, ""});
    if (done)
        done = dc.StartPage();
    if (done) {
        StretchImageToPrinter(dc, picture, 0, 0, size.width(), size.height());
        done = dc.EndPage();
    }
    if (done)
        done = dc.EndDoc();
    if (!done)
        dc.AbortDoc();
    return done;
}

namespace {

// The images of a scan id as its folder holds them; the folder ends in "/".
std::vector<std::string> ScanFiles(const TScanContext& c, std::string& folder)
{
    std::vector<std::string> files;
    for (const std::string& dir : c.ImageDirs) {
        // The sub path begins with a separator; a folder that ends in one keeps it once.
        std::string sub = ScanSubPath(c.ScanId, c.AutoScanSubDir);
        if (!dir.empty() && dir.back() == '/' && !sub.empty() && sub.front() == '/')
            sub.erase(0, 1);
        folder = ExtractFileDir(dir + sub);
        files = ListedNames(ListFiles(folder + c.ScanId + "*.*", 0, 1));
        if (!files.empty())
            break;
    }
    return files;
}

// The notice page for a scan id without images, printed once.
TOutcome PrintMissingImagePage(TScanContext& c)
{
    c.Log.logerror("Image for " + c.ScanId + " was requested but it was " + "not present");
    if (c.Journal && c.Journal->PageDone(1, c.ScanId, std::string()))
        return TOutcome::Done();
    if (c.Journal && !c.Journal->PageSending(1, c.ScanId, c.Device.Printing.CurrentPrinter, std::string()))
        return NotRecorded("The Missing Image page for " + c.ScanId);
    DocumentEngine& e = c.Engine;
    e.ClearDocument();
    // A size and an alignment the engine always takes.
    static_cast<void>(e.SetFontSize(16));
    e.SetFontBold(1);
    static_cast<void>(e.SetAlignment(2));
    e.SetSelStart(1);
    e.SetSelText(ToUnicode("\r\n\r\n\r\n" + c.ScanId + "\r\n" + "Missing Image"));
    if (const TOutcome printed = e.PrintDocument(ToUnicode(c.ScanId)); !printed) {
        const std::string line = "The Missing Image page for " + c.ScanId + " was not printed: " + printed.Reason();
        c.Log.logerror(line);
        return Fail(line);
    }
    if (c.Journal)
        c.Journal->PageSent(1, c.ScanId, 0, std::string());
    return TOutcome::Done();
}

}  // namespace

TOutcome PrintScanJob(TScanContext& c)
{
    std::string folder;
    const std::vector<std::string> files = ScanFiles(c, folder);
    if (files.empty())
        return PrintMissingImagePage(c);

    TOutcome printed;
    int page = 0;
    for (const std::string& file : files) {
        ++page;
        const std::string title = "ImagePrint: " + folder + file;
        if (c.Journal && c.Journal->PageDone(page, title, std::string()))
            continue;  // printed in an earlier attempt
        c.MultiImage.SetImageName(folder + file);
        // A picture that does not decode is skipped: printing the one decoded
        // before it in its place would put the wrong scan on paper.
        if (!c.MultiImage.LastError().empty() || c.MultiImage.Picture().isNull()) {
            c.Log.logerror("The image " + folder + file + " could not be read: " +
                           (c.MultiImage.LastError().empty() ? std::string("no picture") : c.MultiImage.LastError()));
            continue;
        }
        std::string first, other;
        c.GetMacros(first, other);
        const TJobPageSetup& setup = c.Device.PageSetup;
        const TResult<TDeviceReady> ready =
            c.Device.SetupPrinterDevice(first, other, c.PaperTray, setup.PageLandscape, setup.PagePaperSize);
        TPrinterDC* dc = c.Device.PrinterDC();
        if (dc && c.Journal && !c.Journal->PageSending(page, title, dc->Caps().Destination, std::string())) {
            c.Device.ReleasePrinterDC();
            printed = NotRecorded("The image " + folder + file);
            break;
        }
        TOutcome done = ready ? Fail("there is no printer device to print on") : ready.Failure();
        if (dc)
            done = PrintLoadedImage(*dc, c.MultiImage.Picture(), c.MultiImage.ImageName());
        if (!done) {
            const std::string line = "The image " + c.MultiImage.ImageName() + " was not printed: " + done.Reason();
            c.Log.logerror(line);
            if (printed)
                printed = Fail(line);
        } else if (c.Journal) {
            c.Journal->PageSent(page, title, dc->JobId(), std::string());
        }
        c.Device.ReleasePrinterDC();
    }
    c.Log.loginfo("Printed image for " + c.ScanId);
    return printed;
}
