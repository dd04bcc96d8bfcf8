// What one line of the activity log costs: time stamp, escaping, the record kept for the panel and
// for the file, and the repaint (at most every 30 ms), on a shown panel and on a hidden one (the
// program in the tray); and the parts of a line on their own.

#include "log/LogLine.h"
#include "log/UI_LogPanel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWindow>

#include <benchmark/benchmark.h>

namespace {

// A panel of a usual size, shown or hidden, with some lines already in it as after a while of
// serving; its lines go to disk in log/ of the benchmark's own folder, as the program's do.
UI_LogPanel &panel(const char *mode, bool shown = true)
{
    static UI_LogPanel *panels[2] = {nullptr, nullptr};
    UI_LogPanel *&made = panels[shown];
    if (!made) {
        made = new UI_LogPanel(QStringLiteral("Detailed"));
        made->resize(800, 300);
        if (shown) {
            made->show();
            // Unexposed, a window skips its repaints.
            QElapsedTimer waited;
            waited.start();
            while (!made->windowHandle()->isExposed() && waited.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        for (int line = 0; line < 1000; ++line)
            made->appendLog(QStringLiteral("Question for warm.up.test"), 4, false);
    }
    made->setStatus(QString::fromLatin1(mode));
    return *made;
}

// An answered query in Detailed or Brief: a question line and an answer line.
void BM_AnsweredQueryLines(benchmark::State &state, const char *mode, bool shown)
{
    UI_LogPanel &log = panel(mode, shown);
    for (auto _ : state) {
        log.appendLog(QStringLiteral("Question for ads.example.test"), 4, false);
        log.appendLog(QStringLiteral("Answered with 127.0.0.1"), 5, false);
    }
}
BENCHMARK_CAPTURE(BM_AnsweredQueryLines, detailed, "Detailed", true);
BENCHMARK_CAPTURE(BM_AnsweredQueryLines, detailed_hidden, "Detailed", false);
BENCHMARK_CAPTURE(BM_AnsweredQueryLines, brief, "Brief", true);

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

// The parts of one line on their own: the time, and its text as the file holds it (written by the
// journal's thread).
void BM_TimeStamp(benchmark::State &state)
{
    LogClock clock;
    for (auto _ : state)
        benchmark::DoNotOptimize(clock.localMsecs());
}
BENCHMARK(BM_TimeStamp);

void BM_LineAsWritten(benchmark::State &state)
{
    const LogLine line{LogClock().localMsecs(), 4, QStringLiteral("Question for ads.example.test")};
    QByteArray file;
    for (auto _ : state) {
        line.appendTo(file);
        if (file.size() > (1 << 20))
            file.clear();
    }
}
BENCHMARK(BM_LineAsWritten);

void BM_RepaintAlone(benchmark::State &state)
{
    UI_LogPanel &log = panel("Detailed");
    for (auto _ : state)
        log.repaint();
}
BENCHMARK(BM_RepaintAlone);

} // namespace
