// A request's result text with its light markup, rendered run by run in
// place of a range of a part.
#pragma once

#include "platform/docengine/documentengine.h"

#include <string_view>

// Replaces [start, start + length) of the part; false when a placeholder
// field could not be made (the rest of the text is then not shown).
bool RenderResultText(DocumentEngine& engine, int part, int start, int length, std::string_view text,
                      std::string_view fontName, std::string_view sizeText);
