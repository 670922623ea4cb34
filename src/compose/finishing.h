// Finishing a composed report: tags merged in header, main text and footer,
// the page count, the validation line or interim notice, and the cuts at
// marker lines.
#pragma once

#include "platform/docengine/documentengine.h"
#include "request/reportrecord.h"
#include "util/result.h"

#include <string>
#include <vector>

// Fails when the main text's merge does (a bad tags.txt key).
TOutcome FinishReport(DocumentEngine& engine, TReportRecord& record, const std::vector<std::string>& tagList);

// Start, end and approval cuts of the main text.
void ApplyTextMarkers(DocumentEngine& engine, const TReportRecord& record);
