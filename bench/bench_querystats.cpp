// What the server's live counts cost: answered() and passedOn() on every question, lastHour() once
// a second.

#include "dns/QueryStats.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

QByteArray hostName(qsizetype number)
{
    return "host" + QByteArray::number(number) + ".example.com";
}

// Counts the names of `asked` (a power of two of them) in turn, one a call, all in one minute;
// gives the names held at the end.
std::size_t askInTurn(benchmark::State &state, const QList<QByteArray> &asked)
{
    QueryStats stats;
    stats.setMinute(1);
    qsizetype next = 0;
    for (auto _ : state) {
        stats.answered(asked[next]);
        next = (next + 1) & (asked.size() - 1);
    }
    return stats.trackedNames();
}

// N names in lower case, asked as a machine's own traffic is: a few often, most rarely (Zipf). 100
// names all stay in the minute's summary, so each call finds its name; of 1,000 about a fifth of the
// calls ask one that is not held.
// The second argument asks every name in upper case.
void BM_AnsweredSkewed(benchmark::State &state)
{
    QList<QByteArray> names;
    for (qsizetype number = 0; number < state.range(0); ++number)
        names << (state.range(1) ? hostName(number).toUpper() : hostName(number));
    std::vector<double> weights;
    for (qsizetype number = 0; number < names.size(); ++number)
        weights.push_back(1.0 / double(number + 1));
    std::mt19937 random(1);
    std::discrete_distribution<qsizetype> pick(weights.begin(), weights.end());
    QList<QByteArray> asked;
    for (int question = 0; question < 1 << 16; ++question)
        asked << names[pick(random)];
    state.counters["names"] = double(askInTurn(state, asked));
}
BENCHMARK(BM_AnsweredSkewed)->Args({100, 0})->Args({1000, 0})->Args({100, 1})->Args({1000, 1});

// A flood of names never asked twice: every call finds a full minute, and one in 257 clears it out.
void BM_AnsweredFlood(benchmark::State &state)
{
    QList<QByteArray> asked;
    for (qsizetype number = 0; number < 1 << 20; ++number)
        asked << hostName(number);
    askInTurn(state, asked);
}
BENCHMARK(BM_AnsweredFlood);

void BM_PassedOn(benchmark::State &state)
{
    QueryStats stats;
    stats.setMinute(1);
    for (auto _ : state) {
        stats.passedOn();
        benchmark::ClobberMemory(); // one increment per call, not one sum for the loop
    }
    benchmark::DoNotOptimize(stats.lastHour(0).totalPassed);
}
BENCHMARK(BM_PassedOn);

// Every minute of the hour full, with names of its own: the most a merge can meet.
void BM_LastHourFull(benchmark::State &state)
{
    QueryStats stats;
    for (qint64 minute = 1; minute <= QueryStats::minutes; ++minute) {
        stats.setMinute(minute);
        for (int name = 0; name < QueryStats::namesPerMinute; ++name)
            stats.answered(hostName(minute * QueryStats::namesPerMinute + name));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(stats.lastHour());
    state.counters["names"] = double(stats.trackedNames());
}
BENCHMARK(BM_LastHourFull)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
