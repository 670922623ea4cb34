// The main of the benchmarks that draw documents: offscreen, 96 dpi, a
// temporary folder for their files, then Google Benchmark's own run.
#pragma once

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QTemporaryDir>

#include <functional>

inline int RunDocumentBenchmarks(int argc, char** argv, QTemporaryDir*& dir, const std::function<void()>& prepare = {})
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication::setAttribute(Qt::AA_Use96Dpi);
    QGuiApplication app(argc, argv);
    QTemporaryDir folder;
    dir = &folder;
    if (prepare)
        prepare();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
