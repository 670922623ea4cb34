#include "util/qtenv.h"

#include <QByteArray>
#include <QtGlobal>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

void PrepareQtEnvironment(const TProgramEnvironment& env)
{
    if (!env.Display && !env.QtPlatform)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (env.RuntimeDir.empty()) {
        const std::string dir = (env.TmpDir.empty() ? std::string("/tmp") : env.TmpDir) + "/printorb-runtime-" +
                                std::to_string(::getuid());
        ::mkdir(dir.c_str(), 0700);
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0 && st.st_uid == ::getuid() && (st.st_mode & 077) == 0)
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir));
    }
}
