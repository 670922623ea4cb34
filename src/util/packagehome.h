// Where the package keeps the server's home, and how a printorb-tool command
// is written so that it finds the home it is meant for.
#pragma once

#include "util/serverhome.h"

#include <string>
#include <string_view>


// /var/lib/printorb/, with a trailing slash, below packageRoot (PRINTORB_PKG_ROOT,
// which stands for / in tests, as it does for the maintainer scripts).
std::string PackageHome(std::string_view packageRoot);

// " --home HOME" for a command about that home, empty for the package's home
// (packageHome), which the tool finds by itself.
std::string ToolHomeOption(const std::string& home, const std::string& packageHome);
