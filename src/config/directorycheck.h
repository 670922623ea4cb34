// The folders the server cannot work without: the spool, results and
// templates folders, checked at start-up and before a test print, with the
// operator asked to create each one that is missing.
#pragma once

#include "config/serverconfig.h"
#include "util/prompts.h"

#include <string_view>

// Asks whether to create the folder; true when it exists afterwards.
bool AskCreateDirectory(TPrompts& prompts, std::string_view caption, std::string_view what, std::string_view dir);
// true when all three exist (or the operator had them created).
bool CheckDirectories(const TServerConfig& config, TPrompts& prompts);
