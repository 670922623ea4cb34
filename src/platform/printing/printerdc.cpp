#include "platform/printing/printerdc.h"

#include "platform/pdf/pdfdevice.h"
#include "platform/printing/pclraster.h"
#include "platform/printing/printinglayer.h"
#include "util/codepage.h"
#include "util/fileutil.h"

#include <QPageLayout>

namespace {

int Dots(int tenthMm)
{
    return static_cast<int>(static_cast<long long>(tenthMm) * TPrinterDC::kDpi / 254);
}

// PCL 5 places its logical page about a quarter inch in from the left edge
// of the paper; the raster starts there.
int PclLogicalOffset(const TPaper& paper, bool landscape)
{
    if (paper.Metric)
        return landscape ? 59 : 71;
    return landscape ? 60 : 75;
}

QPageSize PageSizeOf(const TPaper& paper)
{
    switch (paper.Code) {
    case kPaperLetter: return QPageSize(QPageSize::Letter);
    case kPaperLegal: return QPageSize(QPageSize::Legal);
    case kPaperA3: return QPageSize(QPageSize::A3);
    case kPaperA5: return QPageSize(QPageSize::A5);
    default: return QPageSize(QPageSize::A4);
    }
}

}  // namespace

TPrinterDC::TPrinterDC(TPrintingLayer& layer, TDevMode mode, TDeviceCaps caps)
    : FLayer(layer), FMode(std::move(mode)), FCaps(std::move(caps))
{
}

TPrinterDC::~TPrinterDC()
{
    AbortDoc();
}

int TPrinterDC::PhysicalWidth() const
{
    const TPaper& paper = PaperOf(FMode.PaperSize());
    return Dots(Landscape() ? paper.HeightTenthMm : paper.WidthTenthMm);
}

int TPrinterDC::PhysicalHeight() const
{
    const TPaper& paper = PaperOf(FMode.PaperSize());
    return Dots(Landscape() ? paper.WidthTenthMm : paper.HeightTenthMm);
}

std::vector<std::pair<std::string, std::string>> TPrinterDC::JobOptions() const
{
    std::vector<std::pair<std::string, std::string>> options;
    options.emplace_back("media", PaperOf(FMode.PaperSize()).PwgName);
    if (!FCaps.TrayChoice.empty())
        options.emplace_back("InputSlot", FCaps.TrayChoice);
    const std::string first = FMode.Slot(TDevMode::kFirstOverlaySlot);
    const std::string other = FMode.Slot(TDevMode::kOtherOverlaySlot);
    if (!first.empty())
        options.emplace_back("overlay-first-page", ToUnicode(first).toStdString());
    if (!other.empty())
        options.emplace_back("overlay-other-pages", ToUnicode(other).toStdString());
    return options;
}

TOutcome TPrinterDC::StartDoc(const TDocInfo& info)
{
    if (FInDoc)
        return Fail("a document is already started on this device");
    FDoc = info;
    FPages = 0;
    FPcl.clear();
    if (FDoc.Output.empty()) {
        // Pages are painted in their own orientation; no rotation is asked of the printer.
        QSizeF points = PageSizeOf(PaperOf(FMode.PaperSize())).size(QPageSize::Point);
        if (Landscape())
            points.transpose();
        FPageSize = points * kDpi / 72.0;
        FPdfDevice = std::make_unique<TPdfDevice>(FPageSize, kDpi);
        FPdfDevice->SetCreator(QStringLiteral("PrintORB"));
        FPdfDevice->SetTitle(ToUnicode(FDoc.DocName));
    }
    FInDoc = true;
    return TOutcome::Done();
}

TOutcome TPrinterDC::StartPage()
{
    if (!FInDoc)
        return Fail("no document is started");
    if (FInPage)
        return Fail("a page is already started");
    if (FPdfDevice) {
        if (FPages == 0)
            FPainter = std::make_unique<QPainter>(FPdfDevice.get());
        else
            FPdfDevice->NewPage(FPageSize);
        if (!FPainter->isActive())
            return Fail("the PDF writer could not be painted on");
    } else {
        const TPaper& paper = PaperOf(FMode.PaperSize());
        const int offset = PclLogicalOffset(paper, Landscape());
        FPageImage = QImage(PhysicalWidth() - 2 * offset, PhysicalHeight(), QImage::Format_Mono);
        if (FPageImage.isNull())
            return Fail("no memory for the page raster");
        FPageImage.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        FPageImage.fill(0);
        const int dotsPerMeter = qRound(kDpi / 0.0254);
        FPageImage.setDotsPerMeterX(dotsPerMeter);
        FPageImage.setDotsPerMeterY(dotsPerMeter);
        FPainter = std::make_unique<QPainter>(&FPageImage);
        if (!FPainter->isActive())
            return Fail("the page raster could not be painted on");
        FPainter->translate(-offset, 0);
    }
    FInPage = true;
    return TOutcome::Done();
}

TOutcome TPrinterDC::EndPage()
{
    if (!FInPage)
        return Fail("no page is started");
    FInPage = false;
    ++FPages;
    if (!FPdfDevice) {
        FPainter->end();
        FPainter.reset();
        TPclPageSetup setup;
        setup.PaperCode = FMode.PaperSize();
        setup.Landscape = Landscape();
        setup.Source = FCaps.PclSource;
        FPcl += PclPage(FPageImage, setup);
        FPageImage = QImage();
    }
    return TOutcome::Done();
}

TOutcome TPrinterDC::EndDoc()
{
    FJobId = 0;
    if (!FInDoc)
        return Fail("no document is started");
    if (FInPage)
        if (const TOutcome ended = EndPage(); !ended)
            return ended;
    FInDoc = false;
    if (FPdfDevice) {
        if (FPainter)
            FPainter->end();
        FPainter.reset();
        const QByteArray pdf = FPdfDevice->Bytes();
        FPdfDevice.reset();
        if (FPages == 0)
            return TOutcome::Done();  // nothing to print
        const TResult<int> job = FLayer.PrintPdf(FCaps.Destination, FDoc.DocName,
                                                 std::string(pdf.constData(), static_cast<std::size_t>(pdf.size())),
                                                 JobOptions());
        if (!job)
            return TFailure {job.Reason(), {}, job.Kind()};
        FJobId = *job;
        return TOutcome::Done();
    }
    const TOutcome written = WriteFileAtomic(FDoc.Output, FPcl);
    FPcl.clear();
    if (!written)
        return TFailure {"cannot write " + FDoc.Output + ": " + written.Reason(), {}, written.Kind()};
    return TOutcome::Done();
}

void TPrinterDC::AbortDoc()
{
    if (FPainter)
        FPainter->end();
    FPainter.reset();
    FPdfDevice.reset();
    FPcl.clear();
    FPageImage = QImage();
    FInDoc = false;
    FInPage = false;
}
