// The main of the benchmarks that need widgets: a QApplication around Google Benchmark's run.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

int main(int argc, char **argv)
{
    // Offscreen unless a platform is chosen: under xvfb-run with "xcb" a repaint paints for real.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    // A folder of its own with a log/, as the program's: the log panel writes its lines there, never
    // into the folder the benchmark was started from (the source tree has a log/ folder too).
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir(folder.path()).mkdir(QStringLiteral("log")) ||
        !QDir::setCurrent(folder.path()))
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
