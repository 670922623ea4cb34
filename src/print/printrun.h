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
#include "util/outputfile.h"
#include "util/result.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What a job has output in earlier attempts, and each output as it happens.
// The job journal behind it lets a retry go on where the last attempt
// stopped: a page the print system took, a page file written or a document
// saved is never output again. Without one every attempt outputs everything.
class TOutputJournal {
public:
    virtual ~TOutputJournal() = default;
    // Page n (a fax's one document is page 0) with that title: sent or
    // written in an earlier attempt.
    virtual bool PageDone(int page, const std::string& title, const std::string& pageFile) = 0;
    // Recorded before the page goes to the printer or into its page file;
    // false when it could not be: then the page does not go.
    virtual bool PageSending(int page, const std::string& title, const std::string& printer,
                             const std::string& pageFile) = 0;
    // The print system took it as job cupsJob, or its page file exists.
    virtual void PageSent(int page, const std::string& title, int cupsJob, const std::string& pageFile) = 0;
    virtual bool DocumentSaved(const std::string& path) = 0;
    // Likewise before a document is saved.
    virtual bool DocumentSaving(const std::string& path) = 0;
    virtual void DocumentWasSaved(const std::string& path) = 0;
};

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
    TOutputJournal* Journal = nullptr;
    // Why a document the request names may not be written there (the
    // server's own files and folders); empty when it may. Unset: any path.
    // A check before the write; ProtectedPlaces also holds during it.
    std::function<std::string(const std::string& path)> RefuseOutput = nullptr;
    // The server's own files and folders, checked on the very folder a saved
    // document is written into, so that no link changed after a check can
    // lead the write there. Empty: any path.
    TProtectedPlaces ProtectedPlaces = {};
    std::string RequestName = {};  // the spool file, for the refusal's log line
};

// Outputs the report. OutputFileName is what the job sequence decided (a
// "pdf_" name is escaped here). Done when the whole output exists: the file
// saved whole on disk, every page's job accepted or page file written; the
// failure is the log line that said why not, of the kind of what failed (a
// saved document's full folder an outage, a refused path final).
TOutcome PrintReport(TPrintRunContext& context, std::string& OutputFileName);

// Why an output did not go: the journal could not record it first.
TFailure NotRecorded(std::string_view what);

// The path a "pdf_", "msword_" or "rtf_" output name is saved under, as the
// print run saves it; empty for a report that is printed.
std::string SavedDocumentPath(std::string_view outputFileName);
// An overlay text that makes the page a page file for the LPR queue.
bool IsPageFileOverlay(std::string_view overlay);

// The page file of a page whose overlay text is HP or merge: the overlay
// part, "_", and the output name's rest with "-" and the page number before
// its extension.
std::string PageFileName(std::string_view lprQueueDir, std::string_view outputFileName, std::string_view overlay,
                         int page);
// The page file a page with that overlay text is written to; empty when
// the page goes to the printer.
std::string PageFileFor(std::string_view lprQueueDir, std::string_view outputFileName, std::string_view overlay,
                        int page);

// What the print run does with a composed report: the document it saves,
// or the printer its pages go to and the pages written as page files for
// the LPR queue instead. The print run takes the overlays from here.
struct TOutputPlan {
    std::string OutputFileName;  // as the job decided ("pdf_", "msword_", "rtf_" names are saved)
    std::string SavedDocument;   // the file the report is saved as; empty when it is printed
    std::string Printer;         // the printer its pages go to; empty when none could be chosen
    std::string FirstOverlay;    // the overlay texts of the first page and the others
    std::string OtherOverlay;
    bool Fax = false;            // every page in one print job
    int Pages = 0;               // counted for a printed report only
    std::vector<std::string> PageFiles;  // each page's page file; empty for a page that is printed
};

// The plan for a report of that many pages, with the overlays looked up for its printer.
TOutputPlan PlanPrintRun(const TReportRecord& record, std::string outputFileName, std::string_view lprQueueDir,
                         std::string printer, std::string firstOverlay, std::string otherOverlay, int pages);
