// findAnswer, building a reply, and loading hosts files, on rule sets from generate.py.

#include "bench/BenchData.h"
#include "dns/DnsMessage.h"
#include "dns/HostRule.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <map>
#include <tuple>

namespace {

struct RuleSet {
    HostRules rules;
    QList<QByteArray> names;
};

// Rule sets stay loaded across benchmarks: a million rules take a while to load. The "regex" shape
// is matched in the Regular Expression mode.
const RuleSet &ruleSet(int rules, int unindexed, const QString &shape = QStringLiteral("plain"))
{
    static std::map<std::tuple<int, int, QString>, RuleSet> sets;
    RuleSet &set = sets[{rules, unindexed, shape}];
    if (set.names.isEmpty()) {
        const QString prefix = generated(rules, unindexed, 0, shape);
        loadSystemHostsRules(set.rules, prefix + QStringLiteral(".hosts"));
        if (shape == QStringLiteral("regex"))
            set.rules.setSyntax(QRegExp::RegExp);
        set.names = queryNames(prefix);
    }
    return set;
}

// Looks up the first `distinct` names of the query file in turn (all of them when 0).
void lookUp(benchmark::State &state, int unindexed, qsizetype distinct = 0,
            const QString &shape = QStringLiteral("plain"))
{
    const RuleSet &set = ruleSet(int(state.range(0)), unindexed, shape);
    const qsizetype names = distinct > 0 ? qMin(distinct, set.names.size()) : set.names.size();
    // A few names asked again and again measure the work of a lookup, not of a rule's first match
    // (which compiles its pattern): those are matched once beforehand, outside findAnswer.
    for (qsizetype at = 0; distinct > 0 && at < names; ++at)
        set.rules.firstMatch(set.names[at]);
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

// A fifth of the rules with the star inside the name: each found through the slices of its text.
// The second argument as in lookUp: 1,000 names measure the work without the cache misses (and
// what bench/instructions.sh counts).
void BM_FindAnswerMix(benchmark::State &state)
{
    lookUp(state, 0, state.range(1), QStringLiteral("mix"));
}
BENCHMARK(BM_FindAnswerMix)->ArgsProduct({{10000, 100000, 1000000}, {0, 1000}});

// Every rule a regular expression, half of them alternations. A rule compiles on its first match
// and stays compiled: with every name, the first pass pays for that.
void BM_FindAnswerRegex(benchmark::State &state)
{
    lookUp(state, 0, state.range(1), QStringLiteral("regex"));
}
BENCHMARK(BM_FindAnswerRegex)->ArgsProduct({{100, 10000, 100000}, {0, 1000}});

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

// A hosts file read and indexed: the time, and the heap it keeps per rule.
void load(benchmark::State &state, const QString &path)
{
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

// N lines, half of them plain lines that yield no rule.
void BM_LoadHosts(benchmark::State &state)
{
    load(state, generated(int(state.range(0)) / 2, 16, 1.0) + QStringLiteral(".hosts"));
}
BENCHMARK(BM_LoadHosts)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// N rules, a fifth of them filed by the slices of their text.
void BM_LoadMix(benchmark::State &state)
{
    load(state, generated(int(state.range(0)), 0, 0, QStringLiteral("mix")) + QStringLiteral(".hosts"));
}
BENCHMARK(BM_LoadMix)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
