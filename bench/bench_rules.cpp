// findAnswer, building a reply, and loading hosts files, on rule sets from generate.py.

#include "bench/BenchData.h"
#include "dns/DnsMessage.h"
#include "dns/HostRule.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <map>

namespace {

struct RuleSet {
    HostRules rules;
    QList<QByteArray> names;
};

// Rule sets stay loaded across benchmarks: a million rules take a while to load.
const RuleSet &ruleSet(int rules, int unindexed)
{
    static std::map<std::pair<int, int>, RuleSet> sets;
    RuleSet &set = sets[{rules, unindexed}];
    if (set.names.isEmpty()) {
        const QString prefix = generated(rules, unindexed, 0);
        loadSystemHostsRules(set.rules, prefix + QStringLiteral(".hosts"));
        set.names = queryNames(prefix);
    }
    return set;
}

// Looks up the first `distinct` names of the query file in turn (all of them when 0).
void lookUp(benchmark::State &state, int unindexed, qsizetype distinct = 0)
{
    const RuleSet &set = ruleSet(int(state.range(0)), unindexed);
    const qsizetype names = distinct > 0 ? qMin(distinct, set.names.size()) : set.names.size();
    quint16 rdlength = 0;
    QByteArray rdata;
    qsizetype next = 0;
    qint64 answered = 0;
    for (auto _ : state) {
        answered += set.rules.findAnswer(set.names[next], rdlength, rdata);
        next = next + 1 == names ? 0 : next + 1;
    }
    state.counters["answered"] = benchmark::Counter(double(answered), benchmark::Counter::kAvgIterations);
}

// Exact and suffix rules only: every lookup is a handful of hash probes.
void BM_FindAnswerIndexed(benchmark::State &state)
{
    lookUp(state, 0);
}
BENCHMARK(BM_FindAnswerIndexed)->Arg(100)->Arg(10000)->Arg(100000)->Arg(1000000);

// The same on 1,000 names asked again and again, as a machine's own traffic repeats itself: what
// stays is the work of a lookup, without the memory misses of 100,000 different names in a table
// larger than the cache.
void BM_FindAnswerIndexedRepeated(benchmark::State &state)
{
    lookUp(state, 0, 1000);
}
BENCHMARK(BM_FindAnswerIndexedRepeated)->Arg(100)->Arg(10000)->Arg(100000)->Arg(1000000);

// With 16 rules outside the index (25 of the 100): names that no indexed rule answers early pay for
// testing them with QRegExp.
void BM_FindAnswerWithUnindexed(benchmark::State &state)
{
    lookUp(state, 16);
}
BENCHMARK(BM_FindAnswerWithUnindexed)->Arg(100)->Arg(10000)->Arg(100000)->Arg(1000000);

QByteArray queryFor(const QByteArray &name)
{
    // ID 0x1234, RD, one question.
    QByteArray datagram = QByteArray::fromHex("123401000001000000000000");
    DnsMessage::encodeName(name, datagram);
    datagram.append("\x00\x01\x00\x01", 4); // A, IN
    return datagram;
}

// Parsing a query datagram and writing its reply, lookup included, at 10,000 rules.
void BM_BuildReply(benchmark::State &state)
{
    const RuleSet &set = ruleSet(10000, 0);
    QList<QByteArray> datagrams;
    for (qsizetype at = 0; at < 1000; ++at)
        datagrams << queryFor(set.names[at]);
    qsizetype next = 0;
    for (auto _ : state) {
        DnsMessage message(datagrams[next]);
        benchmark::DoNotOptimize(message.buildReply(set.rules));
        next = next + 1 == datagrams.size() ? 0 : next + 1;
    }
}
BENCHMARK(BM_BuildReply);

// A hosts file of N lines, half of them plain lines that yield no rule, read and indexed.
void BM_LoadHosts(benchmark::State &state)
{
    const int lines = int(state.range(0));
    const QString path = generated(lines / 2, 16, 1.0) + QStringLiteral(".hosts");
    std::size_t heap = 0;
    int rules = 0;
    for (auto _ : state) {
        state.PauseTiming();
        HostRules loaded;
        const std::size_t before = mallinfo2().uordblks;
        state.ResumeTiming();
        loadSystemHostsRules(loaded, path);
        state.PauseTiming();
        heap = mallinfo2().uordblks - before;
        rules = loaded.size();
        loaded.clear();
        state.ResumeTiming();
    }
    state.counters["rules"] = rules;
    state.counters["heap_bytes_per_rule"] = rules ? double(heap) / rules : 0;
}
BENCHMARK(BM_LoadHosts)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
