// LibreOffice converting an RTF file to PDF in a fresh soffice process, the
// yardstick the engine's benchmarks are measured against.
#pragma once

#include <benchmark/benchmark.h>

#include <QProcess>
#include <QStandardPaths>
#include <QString>

inline void ConvertWithLibreOffice(benchmark::State& state, const QString& rtf, const QString& workDir)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        state.SkipWithError("soffice is not installed (apt-get install libreoffice-writer-nogui)");
        return;
    }
    const QString profile = QStringLiteral("-env:UserInstallation=file://") + workDir + QStringLiteral("/lo-profile");
    for (auto _ : state) {
        QProcess process;
        process.start(soffice, {profile, "--headless", "--convert-to", "pdf", "--outdir", workDir + "/lo", rtf});
        process.waitForFinished(120000);
    }
}
