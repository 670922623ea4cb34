// A request's result text with its light markup, rendered run by run into
// the selection of the active part.
#pragma once

#include "platform/docengine/documentengine.h"

#include <string_view>

// Replaces the selection; false when a placeholder field could not be made
// (the rest of the text is then not shown).
bool RenderResultText(DocumentEngine& engine, std::string_view text, std::string_view fontName,
                      std::string_view sizeText);
