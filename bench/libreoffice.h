// LibreOffice converting RTF files to PDF, the yardstick the engine's
// benchmarks are measured against: one file in a fresh soffice process, or
// many files in one soffice process (a warm word processor).
#pragma once

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <string>

inline constexpr const char* kNoSoffice = "soffice is not installed (apt-get install libreoffice-writer-nogui)";

inline QString SofficePath()
{
    return QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

// A private profile, so no soffice the user runs takes the conversion over.
inline QString SofficeProfileArgument(const QString& workDir)
{
    return QStringLiteral("-env:UserInstallation=file://") + workDir + QStringLiteral("/lo-profile");
}

struct SofficeRun {
    double ms = 0;
    int pdfs = 0;  // PDFs that exist in the output folder afterwards
    QString error;
};

// One soffice process converting every file in rtfs into an emptied outDir,
// timed from start to exit. Only PDFs that really start as PDFs are counted.
inline SofficeRun ConvertBatchWithLibreOffice(const QString& soffice, const QString& profileArgument,
                                              const QStringList& rtfs, const QString& outDir, int timeoutMs)
{
    SofficeRun run;
    QDir(outDir).removeRecursively();
    QDir().mkpath(outDir);
    QStringList args{profileArgument, "--headless", "--convert-to", "pdf", "--outdir", outDir};
    args += rtfs;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer timer;
    timer.start();
    process.start(soffice, args);
    const bool finished = process.waitForFinished(timeoutMs);
    run.ms = timer.nsecsElapsed() / 1e6;
    if (!finished) {
        process.kill();
        process.waitForFinished(10000);
        run.error = QStringLiteral("soffice did not finish within %1 s").arg(timeoutMs / 1000);
    } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        run.error = QStringLiteral("soffice exited with %1: %2")
                        .arg(process.exitCode())
                        .arg(QString::fromLocal8Bit(process.readAll()).trimmed().left(200));
    }
    for (const QString& name : QDir(outDir).entryList({QStringLiteral("*.pdf")}, QDir::Files)) {
        QFile pdf(QDir(outDir).filePath(name));
        if (pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-")
            ++run.pdfs;
    }
    return run;
}

// One file in a fresh soffice process per iteration. The first run, which
// makes the private profile, is not counted; a run that makes no PDF ends
// the benchmark with the reason.
inline void ConvertWithLibreOffice(benchmark::State& state, const QString& rtf, const QString& workDir)
{
    const QString soffice = SofficePath();
    if (soffice.isEmpty()) {
        state.SkipWithError(kNoSoffice);
        return;
    }
    static std::string failure;
    const QString profile = SofficeProfileArgument(workDir);
    const QString out = workDir + QStringLiteral("/lo");
    auto made = [&](const SofficeRun& run) {
        if (run.error.isEmpty() && run.pdfs == 1)
            return true;
        failure = ("LibreOffice made no PDF of " + rtf + (run.error.isEmpty() ? QString() : ": " + run.error))
                      .toStdString();
        state.SkipWithError(failure.c_str());
        return false;
    };
    if (!made(ConvertBatchWithLibreOffice(soffice, profile, {rtf}, out, 120000)))
        return;
    for (auto _ : state)
        if (!made(ConvertBatchWithLibreOffice(soffice, profile, {rtf}, out, 120000)))
            break;
}
