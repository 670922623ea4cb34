#include "util/packagehome.h"

#include "util/fileutil.h"

#include <cstdlib>

std::string PackageHome()
{
    std::string root = std::getenv("PRINTORB_PKG_ROOT") ? std::getenv("PRINTORB_PKG_ROOT") : "";
    while (root.ends_with('/'))
        root.pop_back();
    return root + "/var/lib/printorb/";
}

std::string ToolHomeOption(const std::string& home)
{
    const std::string dir = IncludeTrailingSlash(home);
    if (dir == PackageHome())
        return {};
    // Quoted for the shell when it must be.
    if (dir.find_first_of(" \t'\"$`\\;&|<>()*?[]#~") == std::string::npos)
        return " --home " + dir;
    std::string quoted = "'";
    for (const char c : dir)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return " --home " + quoted + "'";
}
