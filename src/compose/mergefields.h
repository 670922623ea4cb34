// Template tags "<<tag>>" in a part of the document become fields filled from
// the report record: by name, by number through tags.txt, or as editable
// placeholders. Works through the document engine's value operations only.
#pragma once

#include "platform/docengine/documentengine.h"
#include "request/reportrecord.h"
#include "util/result.h"

#include <string>
#include <vector>

// The text for the key of a tags.txt line; keys 6 to 9 lay out the patient
// address so that a missing second line closes the gap.
std::string TagValue(const TReportRecord& record, int key);

// Merges every tag of a part. In the main text (header/footer mode off)
// fields stay editable or locked by kind; a tags.txt line whose key is not a
// number ends the merge there, failed.
TOutcome MergeFields(DocumentEngine& engine, int part, const TReportRecord& record,
                     const std::vector<std::string>& tagList, bool headerFooterMode);

// The inner texts of the tags of a text, in order, paired as the merge pairs
// "<<" and ">>" (an unbalanced "<<" is no tag).
std::vector<std::string> TagsInText(std::string_view text);
// The tags of every part of a document: headers, main text, footers.
std::vector<std::string> DocumentTags(const DocumentEngine& engine);
// Whether the tag file gives a tag its value: a numbered tag within the
// list, a named tag whose name a line carries; empty and user placeholders
// need none.
bool TagFileKnows(std::string_view inner, const std::vector<std::string>& tagList);
