// Where the package keeps the server's home, and how a printorb-tool command
// is written so that it finds the home it is meant for.
#pragma once

#include "util/serverhome.h"

#include <string>


// /var/lib/printorb/, with a trailing slash. PRINTORB_PKG_ROOT, for tests
// only, stands for / (as it does for the maintainer scripts).
std::string PackageHome();

// " --home HOME" for a command about that home, empty for the package's home,
// which the tool finds by itself.
std::string ToolHomeOption(const std::string& home);
