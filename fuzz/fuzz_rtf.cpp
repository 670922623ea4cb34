// libFuzzer: the RTF reader takes any bytes without crash, hang or runaway
// memory, and what it read can be laid out and written back.
#include "platform/docengine/documentengine.h"
#include "platform/docengine/rtfreader.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!RefuseNonRtf(bytes, QStringLiteral("input")).isEmpty())
        return 0;
    TLoadedDocument loaded;
    ReadRtf(bytes, loaded);
    (void)loaded.Main.Text();
    (void)loaded.Header.Text();
    return 0;
}
