// The raw spooler route of the LPR queue: a printer file handed unchanged to
// the CUPS queue its printer number names (TRAWPrinter).
#pragma once

#include "config/serverconfig.h"

#include <string>
#include <string_view>

// The queued file at path to the printer that the settings name for its
// printer number (the second "_" field of its name), else the default
// printer: the CUPS printer that took it, once it took every byte. An empty
// file is no job: it fails (final, as no retry fills it) before the
// scheduler is asked.
TResult<std::string> SendViaSpooler(const std::string& path, const TServerConfig& config);
