// The print run: a composed report output once, as a PDF, Word or RTF file
// named by the request, or printed page by page on the job's printer, each
// page its own print job (a fax job one job for all pages). Pages that carry
// an HP or merge overlay are written as page files into the LPR queue
// directory instead, for the LPR queue to deliver.
#pragma once

#include "platform/docengine/documentengine.h"
#include "print/printdevice.h"
#include "request/reportrecord.h"
#include "util/logger.h"

#include <functional>
#include <string>
#include <string_view>

struct TPrintRunContext {
    DocumentEngine& Engine;
    TReportRecord& Record;
    TPrinterDevice& Device;
    TLogger& Log;
    std::string LprQueueDir;
    std::function<std::string(std::string_view number)> SelectPrinterByNumber;
    std::function<void(std::string& first, std::string& other)> GetMacros;
    std::function<void()> PageDone;           // after each page: the job is alive
    std::function<bool()> DocumentViewShown;  // the operator watches the document view
    std::function<void()> ShowPrintDialog;
};

// Outputs the report. OutputFileName is what the job sequence decided (a
// "pdf_" name is escaped here). true when the whole output exists: the file
// saved, every page's job accepted or page file written.
bool PrintReport(TPrintRunContext& context, std::string& OutputFileName);

// The page file of a page whose overlay text is HP or merge: the overlay
// part, "_", and the output name's rest with "-" and the page number before
// its extension.
std::string PageFileName(std::string_view lprQueueDir, std::string_view outputFileName, std::string_view overlay,
                         int page);
