#pragma once

#include <QApplication>
#include <benchmark/benchmark.h>

// Widgets need an application; offscreen, so the benchmarks run without a screen.
inline int runWidgetBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
