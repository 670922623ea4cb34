// libFuzzer: the RTF reader takes any bytes without crash, hang or runaway
// memory, and what it read can be laid out, drawn and written back.
#include "platform/docengine/documentengine.h"
#include "platform/docengine/rtfreader.h"
#include "fuzzsupport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdlib>

#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    return InitializeOffscreenQt(argc, argv);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (!RefuseNonRtf(bytes, QStringLiteral("input")).isEmpty())
        return 0;
    // The engine's whole path: the file read, its pages cut and drawn, the
    // document written back as RTF; the two files go when the process ends.
    static const struct TFiles {
        QString In = QDir::tempPath() + QStringLiteral("/fuzz_rtf_%1.rtf").arg(getpid());
        QString Out = QDir::tempPath() + QStringLiteral("/fuzz_rtf_%1_out.rtf").arg(getpid());
        ~TFiles()
        {
            QFile::remove(In);
            QFile::remove(Out);
        }
    } files;
    const QString& file = files.In;
    {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            abort();
        out.write(bytes);
    }
    DocumentEngine engine;
    if (!engine.LoadDocument(file))
        return 0;  // refused before reading: nothing of the engine ran
    const int pages = engine.CurrentPages();
    QImage page(80, 100, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    engine.DrawPage(painter, 1);
    if (pages > 1)
        engine.DrawPage(painter, pages);
    painter.end();
    static_cast<void>(engine.SaveDocument(files.Out, DocumentEngine::WordFormat));
    return 0;
}
