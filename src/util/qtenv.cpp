#include "util/qtenv.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

void PrepareQtEnvironment()
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const char* tmp = std::getenv("TMPDIR");
        const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/printorb-runtime-" + std::to_string(::getuid());
        ::mkdir(dir.c_str(), 0700);
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 077) == 0)
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
    }
}
