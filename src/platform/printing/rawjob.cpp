#include "platform/printing/rawjob.h"

#include "util/codepage.h"

#include <cups/cups.h>

using TState = TRAWPrinter::TState;

TRAWPrinter::~TRAWPrinter()
{
    if (FState != TState::Closed)
        AbortDoc();
}

bool TRAWPrinter::DefaultPrinterName()
{
    PrinterName = TPrintingLayer().SystemDefaultPrinter();
    return !PrinterName.empty();
}

bool TRAWPrinter::BeginDoc()
{
    if (FState == TState::Closed) {
        if (PrinterName.empty())
            DefaultPrinterName();
        if (!PrinterName.empty()) {
            if (THttpConnection http = ConnectScheduler()) {
                const std::string name = ToUnicode(PrinterName).toStdString();
                // Opening the printer: the queue must exist (names compare without case).
                if (cups_dest_t* dest = cupsGetNamedDest(http.get(), name.c_str(), nullptr)) {
                    FDestination = dest->name;
                    cupsFreeDests(1, dest);
                    FHttp = std::move(http);
                    FState = TState::PrinterOpen;
                }
            }
        }
    }
    if (FState == TState::PrinterOpen) {
        const std::string title = ToUnicode(DocumentTitle).toStdString();
        FJob = CreateJobOn(FHttp.get(), FDestination, title);
        if (FJob > 0)
            FState = TState::DocumentStarted;
    }
    if (FState == TState::DocumentStarted) {
        const std::string title = ToUnicode(DocumentTitle).toStdString();
        if (cupsStartDocument(FHttp.get(), FDestination.c_str(), FJob, title.c_str(), CUPS_FORMAT_RAW, 1) ==
            HTTP_STATUS_CONTINUE)
            FState = TState::PageStarted;
    }
    return FState == TState::PageStarted;
}

std::size_t TRAWPrinter::Write(const void* buffer, std::size_t count)
{
    if (FState != TState::PageStarted)
        return 0;
    return cupsWriteRequestData(FHttp.get(), static_cast<const char*>(buffer), count) == HTTP_STATUS_CONTINUE ? count
                                                                                                              : 0;
}

bool TRAWPrinter::EndDoc()
{
    if (FState == TState::PageStarted)
        FState = TState::DocumentStarted;  // the page ends with the document's data
    if (FState == TState::DocumentStarted && cupsFinishDocument(FHttp.get(), FDestination.c_str()) == IPP_STATUS_OK)
        FState = TState::PrinterOpen;
    ClosePrinter();
    return FState == TState::Closed;
}

void TRAWPrinter::ClosePrinter()
{
    if (FState == TState::PrinterOpen) {
        FHttp.reset();
        FState = TState::Closed;
    }
}

bool TRAWPrinter::AbortDoc()
{
    if (FState == TState::DocumentStarted || FState == TState::PageStarted) {
        cupsCancelJob2(FHttp.get(), FDestination.c_str(), FJob, 0);
        FState = TState::PrinterOpen;
    }
    ClosePrinter();
    return FState == TState::Closed;
}
