// The server panel's reload (rules, the count of rules that never match, the rule table's reset)
// against loading the rules alone: what a reload adds in time and memory while queries wait.

#include "bench/BenchData.h"
#include "dns/UI_ServerPanel.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/RecordingLog.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

namespace {

void reload(benchmark::State &state, bool withTable)
{
    FakePlatform platform;
    platform.hostsFile = generated(int(state.range(0)), 16, 0) + QStringLiteral(".hosts");
    RecordingLog log;
    std::size_t heap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = mallinfo2().uordblks;
        auto *panel = new UI_ServerPanel(log, platform, nullptr, 0);
        HostRules rules;
        state.ResumeTiming();
        if (withTable)
            panel->loadHosts();
        else
            loadSystemHostsRules(rules, platform.hostsFile);
        state.PauseTiming();
        heap = mallinfo2().uordblks - before;
        delete panel;
        rules.clear();
        state.ResumeTiming();
    }
    state.counters["heap_MB"] = double(heap) / (1 << 20);
}

void BM_RulesOnly(benchmark::State &state)
{
    reload(state, false);
}
BENCHMARK(BM_RulesOnly)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_LoadHostsWithTable(benchmark::State &state)
{
    reload(state, true);
}
BENCHMARK(BM_LoadHostsWithTable)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace
