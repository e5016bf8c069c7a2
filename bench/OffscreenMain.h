#pragma once

#include <QByteArray>
#include <benchmark/benchmark.h>

// main() of a benchmark program that needs a Qt application: fonts and widgets on the offscreen
// platform, so that no display is needed, then Google Benchmark's own run.
template<typename Application> int runOffscreenBenchmarks(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
