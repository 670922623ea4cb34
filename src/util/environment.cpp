#include "util/environment.h"

#include "util/textutil.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

extern char** environ;

namespace {

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// TEMP by any letter case, as on the original platform.
std::string TempByAnyCase()
{
    for (char** env = environ; env && *env; ++env) {
        const char* eq = std::strchr(*env, '=');
        if (eq && SameText(std::string_view(*env, static_cast<std::size_t>(eq - *env)), "TEMP") && eq[1])
            return eq + 1;
    }
    return {};
}

}  // namespace

TProgramEnvironment TProgramEnvironment::Read()
{
    TProgramEnvironment env;
    env.Home = Variable("PRINTORB_HOME");
    env.PackageRoot = Variable("PRINTORB_PKG_ROOT");
    env.StopAt = Variable("PRINTORB_STOP_AT");
    env.TmpDir = Variable("TMPDIR");
    env.Temp = TempByAnyCase();
    if (env.Temp.empty())
        env.Temp = env.TmpDir;
    env.RuntimeDir = Variable("XDG_RUNTIME_DIR");
    env.JournalStream = Variable("JOURNAL_STREAM");
    env.Display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    env.QtPlatform = std::getenv("QT_QPA_PLATFORM") != nullptr;
    return env;
}
