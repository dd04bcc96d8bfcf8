// The main of the benchmarks that need widgets: a QApplication around Google Benchmark's run.
#include <QApplication>

#include <benchmark/benchmark.h>

int main(int argc, char **argv)
{
    // Offscreen unless a platform is chosen: under xvfb-run with "xcb" a repaint paints for real.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
