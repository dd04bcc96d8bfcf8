#include "dns/RuleIndex.h"

#include <QByteArray>
#include <QVarLengthArray>

#include <algorithm>
#include <limits>

const std::array<char, 256> RuleIndex::lowerTable = [] {
    std::array<char, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = char(QChar(ushort(byte)).toLower().unicode());
    return table;
}();

void RuleIndex::chooseLiterals(const LoweredTexts &required, std::string &literals,
                               std::vector<quint32> &slices) const
{
    constexpr std::size_t unsliceable = std::numeric_limits<std::size_t>::max();
    std::size_t bestCost = unsliceable;
    std::size_t bestShortest = 0;
    literals.clear();
    slices.clear();
    std::vector<quint32> chosen;
    for (const std::vector<std::string> &texts : required) {
        std::size_t cost = 0;
        std::size_t shortest = unsliceable;
        chosen.clear();
        for (const std::string &text : texts) {
            shortest = std::min(shortest, text.size());
            std::size_t shared = unsliceable;
            quint32 leastShared = 0;
            for (std::size_t at = 0; at + sliceLength <= text.size(); ++at) {
                const quint32 slice = sliceAt(text, at);
                const auto *filed = sliced.find(slice);
                const std::size_t count = filed ? filed->size() : 0;
                if (count < shared) {
                    shared = count;
                    leastShared = slice;
                }
            }
            if (shared == unsliceable) {
                cost = unsliceable;
            } else {
                chosen.push_back(leastShared);
                if (cost != unsliceable)
                    cost += shared + 1; // a slice more to file under costs as one more rule under it
            }
        }
        const bool better =
            cost != unsliceable ? cost < bestCost : bestCost == unsliceable && shortest > bestShortest;
        if (!better)
            continue;
        bestCost = cost;
        bestShortest = shortest;
        slices.clear();
        if (cost != unsliceable)
            slices = chosen;
        literals.clear();
        for (const std::string &text : texts)
            literals.append(text).push_back('\0');
    }
    std::sort(slices.begin(), slices.end());
    slices.erase(std::unique(slices.begin(), slices.end()), slices.end());
}

void RuleIndex::addSuffix(std::string_view key, quint32 position)
{
    suffixes.insert(key, PositionTable::keyHash(key), position);
    ++suffixesOfLength(key);
}

void RuleIndex::removeSuffix(std::string_view key, quint32 position)
{
    suffixes.erase(key, PositionTable::keyHash(key), position);
    --suffixesOfLength(key);
}

void RuleIndex::add(QStringView pattern, QRegExp::PatternSyntax syntax, Qt::CaseSensitivity caseSensitivity,
                    quint32 position)
{
    switch (readPattern(pattern, syntax, caseSensitivity, keyBuffer, requiredBuffer)) {
    case PatternKind::NameOrBelow:
        exact.insert(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        keyBuffer.insert(0, 1, '.');
        addSuffix(keyBuffer, position);
        break;
    case PatternKind::Exact:
        exact.insert(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        break;
    case PatternKind::Suffix:
        addSuffix(keyBuffer, position);
        break;
    case PatternKind::Other: {
        auto rule = std::make_unique<Unindexed>(Unindexed{position, {}});
        chooseLiterals(requiredBuffer, rule->literals, slicesBuffer);
        const Filed filed{position, rule.get()};
        if (slicesBuffer.empty())
            insertSorted(unsliced, filed);
        for (const quint32 slice : slicesBuffer)
            insertSorted(sliced[slice], filed);
        insertSorted(others, std::move(rule),
                     [](const auto &a, const auto &b) { return a->position < b->position; });
        break;
    }
    case PatternKind::Intractable:
        ++intractable;
        break;
    case PatternKind::Never:
        break;
    }
}

std::vector<std::unique_ptr<RuleIndex::Unindexed>>::iterator RuleIndex::unindexedAt(quint32 position)
{
    return std::lower_bound(others.begin(), others.end(), position,
                            [](const auto &rule, quint32 value) { return rule->position < value; });
}

void RuleIndex::unfile(const std::string &literals, quint32 position)
{
    const auto take = [position](std::vector<Filed> &list) {
        const auto at = std::lower_bound(list.begin(), list.end(), Filed{position, nullptr});
        if (at != list.end() && at->position == position)
            list.erase(at);
    };
    take(unsliced);
    for (std::size_t at = 0; at + sliceLength <= literals.size(); ++at) {
        const quint32 slice = sliceAt(literals, at);
        if (sliced.find(slice))
            take(sliced[slice]);
    }
}

void RuleIndex::remove(QStringView pattern, QRegExp::PatternSyntax syntax,
                       Qt::CaseSensitivity caseSensitivity, quint32 position)
{
    switch (readPattern(pattern, syntax, caseSensitivity, keyBuffer, requiredBuffer)) {
    case PatternKind::NameOrBelow:
        exact.erase(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        keyBuffer.insert(0, 1, '.');
        removeSuffix(keyBuffer, position);
        break;
    case PatternKind::Exact:
        exact.erase(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        break;
    case PatternKind::Suffix:
        removeSuffix(keyBuffer, position);
        break;
    case PatternKind::Other: {
        const auto at = unindexedAt(position);
        Q_ASSERT(at != others.end() && (*at)->position == position);
        unfile((*at)->literals, position);
        others.erase(at);
        break;
    }
    case PatternKind::Intractable:
        --intractable;
        break;
    case PatternKind::Never:
        break;
    }
}

void RuleIndex::clear()
{
    exact.clear();
    suffixes.clear();
    suffixLengths.fill(0);
    dottedSuffixLengths.fill(0);
    others.clear();
    others.shrink_to_fit();
    sliced.clear();
    unsliced.clear();
    unsliced.shrink_to_fit();
    intractable = 0;
}

namespace {

// True when `name` holds one of the NUL-ended `texts`, or there is none.
bool holdsAny(std::string_view name, std::string_view texts)
{
    if (texts.empty())
        return true;
    for (std::size_t start = 0; start < texts.size();) {
        const std::size_t end = texts.find('\0', start);
        if (name.find(texts.substr(start, end - start)) != std::string_view::npos)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

quint32 RuleIndex::firstMatch(const QByteArray &name, const Matcher &matcher) const
{
    QVarLengthArray<char, 256> buffer(name.size());
    std::transform(name.cbegin(), name.cend(), buffer.begin(), lowerLatin1);
    const std::string_view lowered(buffer.constData(), std::size_t(buffer.size()));
    const quint32 best = lowestIndexed(lowered);
    // The unindexed rules before the best indexed one filed under a slice the name holds, and
    // those tested for every name.
    QVarLengthArray<Filed, 64> candidates;
    const auto take = [&](const std::vector<Filed> &list) {
        for (auto at = list.cbegin(); at != list.cend() && at->position < best; ++at)
            candidates.append(*at);
    };
    take(unsliced);
    for (std::size_t at = 0; !sliced.isEmpty() && at + sliceLength <= lowered.size(); ++at) {
        if (const auto *filed = sliced.find(sliceAt(lowered, at)))
            take(*filed);
    }
    std::sort(candidates.begin(), candidates.end());
    for (auto at = candidates.cbegin(); at != candidates.cend(); ++at) {
        if (at != candidates.cbegin() && at->position == (at - 1)->position)
            continue; // filed under slices the name holds twice
        if (!holdsAny(lowered, at->rule->literals))
            continue;
        if (matcher.matches(at->position, name, lowered))
            return at->position;
    }
    return best;
}

quint32 RuleIndex::lowestIndexed(std::string_view key) const
{
    const std::size_t length = key.size();

    // Every suffix of the name, the empty one and the whole name included, is a candidate suffix
    // key; their hashes grow from the end one byte at a time.
    quint32 best = none;
    quint64 hash = PositionTable::emptyHash;
    const bool anySuffix = !suffixes.isEmpty();
    for (std::size_t start = length;; --start) {
        const std::size_t lengthClass = std::min(length - start, longSuffix);
        const bool atDot = start < length && key[start] == '.';
        if (anySuffix &&
            (suffixLengths[lengthClass] != 0 || (atDot && dottedSuffixLengths[lengthClass] != 0)))
            best = std::min(best, suffixes.lowest(key.substr(start), hash));
        if (start == 0)
            break;
        hash = PositionTable::extendHash(hash, key[start - 1]);
    }
    return std::min(best, exact.lowest(key, hash));
}
