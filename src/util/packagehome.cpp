#include "util/packagehome.h"

#include "util/fileutil.h"

std::string PackageHome(std::string_view packageRoot)
{
    std::string root(packageRoot);
    while (root.ends_with('/'))
        root.pop_back();
    return root + "/var/lib/printorb/";
}

std::string ToolHomeOption(const std::string& home, const std::string& packageHome)
{
    const std::string dir = IncludeTrailingSlash(home);
    if (dir == packageHome)
        return {};
    // Quoted for the shell when it must be.
    if (dir.find_first_of(" \t'\"$`\\;&|<>()*?[]#~") == std::string::npos)
        return " --home " + dir;
    std::string quoted = "'";
    for (const char c : dir)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return " --home " + quoted + "'";
}
