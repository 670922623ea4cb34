// Composing a request into a report: letterhead, body (result text, embedded
// document or template), merge and finishing, images and markers; and the
// name of what the print run will produce.
#pragma once

#include "platform/docengine/documentengine.h"
#include "platform/imaging/imagecomponent.h"
#include "print/pagesetup.h"
#include "request/reportrecord.h"
#include "util/logger.h"
#include "util/outputfile.h"
#include "util/result.h"

#include <string>
#include <string_view>
#include <vector>

// What a job needs from the server.
struct TJobContext {
    DocumentEngine& Engine;
    TReportRecord& Record;
    const std::vector<std::string>& TagList;
    TLogger& Log;
    TJobPageSetup& PageSetup;
    std::string TemplatesDir;
    std::string ResultsDir;  // where the document a request carries is written
    std::string PageMargin;  // the pagemargin setting
    TImageComponent& ImageProbe;  // learns the size of request images
    // The server's own files and folders, which the document a request
    // carries is never written onto. Empty: any path.
    TProtectedPlaces ProtectedPlaces = {};
};

enum class TComposeExit {
    Completed,           // the report waits for the print run
    EmbeddedNotWritten,  // the decoded document could not be written
    DocumentNotLoaded,   // the template or decoded document could not be loaded
    EngineFailed,        // the merge failed (a tags.txt key that is no number), or composing threw
};

struct TComposeResult {
    TComposeExit Exit = TComposeExit::Completed;
    std::string CurrentDocPath;
    std::string Failure;  // why it did not complete, as logged (the merge's reason for EngineFailed)
    // The same failure with its kind: a full results folder is an outage, a
    // refused path final, anything else a fault.
    TFailure Cause = {};
};

// A4 portrait with the configured margins (millimetres: left, right, top, bottom).
void ResetPageSetup(DocumentEngine& engine, std::string_view pageMargin);
// A fresh document for the next job: emptied, A4 portrait with the margins.
void StartReport(DocumentEngine& engine, std::string_view pageMargin);

// A request that names neither a report (both codes) nor scanned images.
bool IsUnprintable(const TReportRecord& record);
std::string UnprintableMessage(std::string_view spoolName);

// The composing steps of a job whose request is parsed into the record, whose
// printer is chosen and whose document is fresh: letterhead, body, merge and
// finishing, images and markers. spoolName is the request file's name.
TComposeResult ComposeReport(TJobContext& job, std::string_view spoolName);

// The name of the output the print run produces for the record.
std::string OutputFileNameFor(const TReportRecord& record, std::string_view lprQueueDir, std::string_view spoolName);
