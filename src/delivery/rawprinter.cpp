#include "delivery/rawprinter.h"

#include "platform/printing/printinglayer.h"
#include "util/codepage.h"
#include "util/fileutil.h"
#include "util/textutil.h"

#include <cups/cups.h>

#include <cstdio>

TRAWPrinter::~TRAWPrinter()
{
    if (FState > 0)
        AbortDoc();
}

bool TRAWPrinter::DefaultPrinterName()
{
    PrinterName = TPrintingLayer().SystemDefaultPrinter();
    return !PrinterName.empty();
}

bool TRAWPrinter::BeginDoc()
{
    if (FState == 0) {
        if (PrinterName.empty())
            DefaultPrinterName();
        if (!PrinterName.empty()) {
            if (http_t* http = ConnectScheduler()) {
                const std::string name = ToUnicode(PrinterName).toStdString();
                // Opening the printer: the queue must exist (names compare without case).
                if (cups_dest_t* dest = cupsGetNamedDest(http, name.c_str(), nullptr)) {
                    FDestination = dest->name;
                    cupsFreeDests(1, dest);
                    FHttp = http;
                    FState = 1;
                } else {
                    httpClose(http);
                }
            }
        }
    }
    if (FState == 1) {
        const std::string title = ToUnicode(DocumentTitle).toStdString();
        FJob = cupsCreateJob(FHttp, FDestination.c_str(), title.c_str(), 0, nullptr);
        if (FJob > 0)
            FState = 2;
    }
    if (FState == 2) {
        const std::string title = ToUnicode(DocumentTitle).toStdString();
        if (cupsStartDocument(FHttp, FDestination.c_str(), FJob, title.c_str(), CUPS_FORMAT_RAW, 1) ==
            HTTP_STATUS_CONTINUE)
            FState = 3;
    }
    return FState == 3;
}

std::size_t TRAWPrinter::Write(const void* buffer, std::size_t count)
{
    if (FState != 3)
        return 0;
    return cupsWriteRequestData(FHttp, static_cast<const char*>(buffer), count) == HTTP_STATUS_CONTINUE ? count : 0;
}

bool TRAWPrinter::EndDoc()
{
    if (FState == 3)
        FState = 2;  // the page ends with the document's data
    if (FState == 2 && cupsFinishDocument(FHttp, FDestination.c_str()) == IPP_STATUS_OK)
        FState = 1;
    ClosePrinter();
    return FState == 0;
}

void TRAWPrinter::ClosePrinter()
{
    if (FState == 1) {
        httpClose(FHttp);
        FHttp = nullptr;
        FState = 0;
    }
}

bool TRAWPrinter::AbortDoc()
{
    if (FState == 2 || FState == 3) {
        cupsCancelJob2(FHttp, FDestination.c_str(), FJob, 0);
        FState = 1;
    }
    ClosePrinter();
    return FState == 0;
}

bool SendViaSpooler(const std::string& path, const std::function<std::string(std::string_view)>& settingValue)
{
    TRAWPrinter printer;
    const std::string name = ExtractFileName(path);
    printer.PrinterName = Trim(TextBefore(settingValue("PRINTER" + NthField(name, '_', 2)), "|"));
    std::FILE* file = std::fopen(NativePath(path).c_str(), "rb");
    if (!file) {
        printer.EndDoc();
        return false;
    }
    printer.DocumentTitle = name;
    if (!printer.BeginDoc()) {
        printer.EndDoc();
        std::fclose(file);
        return false;
    }
    // The bytes go over unchanged, in blocks (the spooler buffers the job anyway).
    char block[65536];
    std::size_t got;
    std::size_t total = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        printer.Write(block, got);
        total += got;
    }
    const bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (readFailed) {
        printer.AbortDoc();
        return false;
    }
    if (total == 0) {
        // The scheduler takes no empty document: there is nothing to print.
        printer.AbortDoc();
        return true;
    }
    return printer.EndDoc();
}
