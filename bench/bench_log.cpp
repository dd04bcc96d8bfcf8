// What one line of the activity log costs: time stamp, formats, insertion and the immediate repaint,
// on a shown panel.

#include "log/UI_LogPanel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextBrowser>
#include <QWindow>

#include <benchmark/benchmark.h>

namespace {

// A shown panel of a usual size, with some lines already in it as after a while of serving.
UI_LogPanel &panel(const char *mode)
{
    static UI_LogPanel *shown = nullptr;
    if (!shown) {
        shown = new UI_LogPanel(QStringLiteral("Detailed"));
        shown->resize(800, 300);
        shown->show();
        // Unexposed, a window skips its repaints.
        QElapsedTimer waited;
        waited.start();
        while (!shown->windowHandle()->isExposed() && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        for (int line = 0; line < 1000; ++line)
            shown->appendLog(QStringLiteral("Question for warm.up.test"), 4, false);
    }
    shown->setStatus(QString::fromLatin1(mode));
    return *shown;
}

// An answered query in Detailed or Brief: a question line and an answer line.
void BM_AnsweredQueryLines(benchmark::State &state, const char *mode)
{
    UI_LogPanel &log = panel(mode);
    for (auto _ : state) {
        log.appendLog(QStringLiteral("Question for ads.example.test"), 4, false);
        log.appendLog(QStringLiteral("Answered with 127.0.0.1"), 5, false);
    }
}
BENCHMARK_CAPTURE(BM_AnsweredQueryLines, detailed, "Detailed");
BENCHMARK_CAPTURE(BM_AnsweredQueryLines, brief, "Brief");

// An unanswered query: one detailed-only line, dropped in Brief.
void BM_UnansweredQueryLine(benchmark::State &state, const char *mode)
{
    UI_LogPanel &log = panel(mode);
    for (auto _ : state)
        log.appendLog(QStringLiteral("Question for nowhere.invalid"), 4, true);
}
BENCHMARK_CAPTURE(BM_UnansweredQueryLine, detailed, "Detailed");
BENCHMARK_CAPTURE(BM_UnansweredQueryLine, brief, "Brief");
BENCHMARK_CAPTURE(BM_UnansweredQueryLine, off, "Off");

// The parts of one line on their own.
void BM_TimeStampText(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")));
}
BENCHMARK(BM_TimeStampText);

void BM_RepaintAlone(benchmark::State &state)
{
    UI_LogPanel &log = panel("Detailed");
    for (auto _ : state)
        log.repaint();
}
BENCHMARK(BM_RepaintAlone);

} // namespace
