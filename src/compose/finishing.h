// Finishing a composed report: tags merged in header, main text and footer,
// the page count, the validation line or interim notice, and the cuts at
// marker lines.
#pragma once

#include "platform/docengine/documentengine.h"
#include "request/reportrecord.h"

#include <string>
#include <vector>

// True when it completes; engine failures and a bad tags.txt key in the main
// text reach the caller as exceptions.
bool FinishReport(DocumentEngine& engine, TReportRecord& record, const std::vector<std::string>& tagList);

// Start, end and approval cuts of the main text, which must be active.
void ApplyTextMarkers(DocumentEngine& engine, const TReportRecord& record);
