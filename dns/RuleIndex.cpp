#include "dns/RuleIndex.h"

#include "dns/PatternCost.h"

#include <QByteArray>
#include <QString>
#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>

namespace {

// Spreads the bits of a byte-wise hash over all 64, so that low bits pick entries and high bits filter.
quint64 mix(quint64 hash)
{
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    hash *= 0xc4ceb9fe1a85ec53ull;
    return hash ^ (hash >> 33);
}

template <typename Entry, typename Less = std::less<>>
void insertSorted(std::vector<Entry> &entries, Entry entry, Less less = {})
{
    // Appends come in rising order; only an edit inserts in the middle.
    if (entries.empty() || less(entries.back(), entry))
        entries.push_back(std::move(entry));
    else
        entries.insert(std::lower_bound(entries.begin(), entries.end(), entry, less), std::move(entry));
}

void eraseSorted(std::vector<quint32> &positions, quint32 position)
{
    const auto at = std::lower_bound(positions.begin(), positions.end(), position);
    Q_ASSERT(at != positions.end() && *at == position);
    positions.erase(at);
}

// At most this share of the entries is in use; linear probing stays short below it.
constexpr std::size_t loadNumerator = 3;
constexpr std::size_t loadDenominator = 4;
constexpr std::size_t minimumCapacity = 16;
// Filter bits per slot: a probe for an absent key reads one filter word, which stays in cache far
// longer than the entries of a table of a million keys.
constexpr std::size_t filterBitsPerSlot = 8;

} // namespace

quint64 PositionTable::keyHash(std::string_view key)
{
    quint64 hash = emptyHash;
    for (auto at = key.rbegin(); at != key.rend(); ++at)
        hash = extendHash(hash, *at);
    return hash;
}

std::size_t PositionTable::find(std::string_view key, quint64 hash) const
{
    std::size_t at = home(hash);
    while (entries[at].lowest != none) {
        const Slot &slot = entries[at];
        if (slot.hash == hash && keyOf(slot) == key)
            return at;
        at = (at + 1) & (entries.size() - 1);
    }
    return at;
}

quint32 PositionTable::lowest(std::string_view key, quint64 hash) const
{
    if (count == 0)
        return none;
    hash = mix(hash);
    const quint64 bits = filterBits(hash);
    if ((filter[filterWord(hash)] & bits) != bits)
        return none;
    return entries[find(key, hash)].lowest;
}

void PositionTable::addFurther(Slot &slot, quint32 position)
{
    if (slot.more == none) {
        if (freeExtra.empty()) {
            slot.more = quint32(extra.size());
            extra.emplace_back();
        } else {
            slot.more = freeExtra.back();
            freeExtra.pop_back();
        }
    }
    insertSorted(extra[slot.more], position);
}

void PositionTable::insert(std::string_view key, quint64 hash, quint32 position)
{
    if ((count + 1) * loadDenominator > entries.size() * loadNumerator)
        rebuild(std::max(minimumCapacity, entries.size() * 2));
    hash = mix(hash);
    const std::size_t at = find(key, hash);
    Slot &slot = entries[at];
    if (slot.lowest != none) {
        if (position < slot.lowest)
            std::swap(position, slot.lowest);
        addFurther(slot, position);
        return;
    }
    slot = Slot{hash, quint32(keys.size()), quint32(key.size()), position, none};
    keys.append(key);
    ++count;
    filter[filterWord(hash)] |= filterBits(hash);
}

void PositionTable::erase(std::string_view key, quint64 hash, quint32 position)
{
    hash = mix(hash);
    const std::size_t at = find(key, hash);
    Slot &slot = entries[at];
    Q_ASSERT(slot.lowest != none);
    if (slot.more == none) {
        Q_ASSERT(slot.lowest == position);
        removeSlot(at);
        return;
    }
    std::vector<quint32> &further = extra[slot.more];
    if (slot.lowest == position) {
        slot.lowest = further.front();
        further.erase(further.begin());
    } else {
        eraseSorted(further, position);
    }
    if (further.empty()) {
        further.shrink_to_fit();
        freeExtra.push_back(slot.more);
        slot.more = none;
    }
}

void PositionTable::removeSlot(std::size_t at)
{
    garbage += entries[at].keyLength;
    --count;
    // Backward shift: move later entries of the probe run into the gap, so that no probe run breaks.
    const std::size_t mask = entries.size() - 1;
    std::size_t gap = at;
    for (std::size_t next = (gap + 1) & mask; entries[next].lowest != none; next = (next + 1) & mask) {
        const std::size_t wanted = home(entries[next].hash);
        // The slot may move to the gap unless its home lies after the gap, up to the slot itself.
        if (((next - wanted) & mask) >= ((next - gap) & mask)) {
            entries[gap] = entries[next];
            gap = next;
        }
    }
    entries[gap].lowest = none;
    if (count == 0)
        clear();
    else if (garbage > keys.size() / 2)
        rebuild(entries.size());
}

void PositionTable::rebuild(std::size_t capacity)
{
    std::vector<Slot> old(capacity, Slot{0, 0, 0, none, none});
    old.swap(entries);
    std::string oldKeys;
    oldKeys.swap(keys);
    keys.reserve(oldKeys.size() - garbage);
    garbage = 0;
    filter.assign(capacity * filterBitsPerSlot / 64, 0);
    for (Slot slot : old) {
        if (slot.lowest == none)
            continue;
        const std::string_view key = std::string_view(oldKeys).substr(slot.keyAt, slot.keyLength);
        slot.keyAt = quint32(keys.size());
        keys.append(key);
        std::size_t at = home(slot.hash);
        while (entries[at].lowest != none)
            at = (at + 1) & (capacity - 1);
        entries[at] = slot;
        filter[filterWord(slot.hash)] |= filterBits(slot.hash);
    }
}

void PositionTable::clear()
{
    *this = PositionTable();
}

const std::array<char, 256> RuleIndex::lowerTable = [] {
    std::array<char, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = char(QChar(ushort(byte)).toLower().unicode());
    return table;
}();

namespace {

// `text` lower-cased, or false when a character lowers outside Latin-1 (it equals no character of
// a name, so the text is none that a name could hold).
bool lowerLatin1Into(const QString &text, std::string &lowered)
{
    lowered.clear();
    for (const QChar character : text) {
        const ushort lower = character.toLower().unicode();
        if (lower > 0xff)
            return false;
        lowered.push_back(char(lower));
    }
    return true;
}

// The index just after the group, set or quantifier that starts at `at`.
qsizetype skipBracketed(const QString &text, qsizetype at)
{
    const QChar open = text.at(at);
    const QChar close = open == u'(' ? u')' : open == u'[' ? u']' : u'}';
    // A ] first in a set, or after its negation (^, or ! in a wildcard), is a member.
    const qsizetype firstMember =
        at + 1 + (at + 1 < text.size() && (text.at(at + 1) == u'^' || text.at(at + 1) == u'!'));
    int depth = 0;
    for (qsizetype i = at; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\') {
            ++i;
        } else if (open == u'(' && c == u'[') {
            i = skipBracketed(text, i) - 1;
        } else if (open == u'[' && i == firstMember && c == u']') {
            continue;
        } else if (c == open && open != u'[') {
            ++depth;
        } else if (c == close && (open == u'[' || --depth == 0)) {
            return i + 1;
        }
    }
    return text.size();
}

// Reads a regular expression for the texts its matches hold; each piece of the pattern is read once.
class LiteralReader {
public:
    explicit LiteralReader(const QString &pattern) : text(pattern) {}

    RequiredTexts whole()
    {
        RequiredTexts required = alternatives();
        // A ')' without its '(': QRegExp refuses the pattern.
        return at < text.size() ? RequiredTexts() : required;
    }

private:
    // Alternatives up to a ')' of this depth or the end: what one holds is all that is known, so a
    // text of each alternative (the one with the longest shortest text) makes one set.
    RequiredTexts alternatives()
    {
        RequiredTexts first = branch();
        if (at >= text.size() || text.at(at) != u'|')
            return first;
        QStringList texts;
        bool known = true;
        for (RequiredTexts required = std::move(first);; required = branch()) {
            const auto best = std::max_element(required.cbegin(), required.cend(),
                                               [](auto &a, auto &b) { return shortest(a) < shortest(b); });
            known = known && best != required.cend();
            if (known)
                texts += *best;
            if (at >= text.size() || text.at(at) != u'|')
                break;
            ++at;
        }
        return known ? RequiredTexts{texts} : RequiredTexts();
    }

    static qsizetype shortest(const QStringList &texts)
    {
        qsizetype length = std::numeric_limits<qsizetype>::max();
        for (const QString &text : texts)
            length = std::min(length, text.size());
        return length;
    }

    // Atoms up to a '|' or ')' of this depth or the end.
    RequiredTexts branch()
    {
        RequiredTexts required;
        QString run;
        const auto endRun = [&] {
            if (!run.isEmpty())
                required.push_back({run});
            run.clear();
        };
        while (at < text.size() && text.at(at) != u'|' && text.at(at) != u')') {
            const QChar c = text.at(at);
            QChar literal;
            RequiredTexts inner;
            qsizetype next = at + 1;
            if (c == u'(') {
                const QStringView rest = QStringView(text).sliced(next);
                // What a look-ahead holds lies somewhere after, and may be no text of a match at all.
                const bool lookAhead = rest.startsWith(u"?=") || rest.startsWith(u"?!");
                if (rest.startsWith(u'?'))
                    next += 2;
                at = next;
                inner = alternatives();
                next = at < text.size() ? at + 1 : at;
                if (lookAhead)
                    inner.clear();
            } else if (c == u'[' || c == u'{') {
                next = skipBracketed(text, at);
            } else if (c == u'\\' && next < text.size() && !text.at(next).isLetterOrNumber()) {
                literal = text.at(next); // an escaped punctuation character stands for itself
                next += 1;
            } else if (c == u'\\') {
                // A class, a back-reference or a character by its code (\x41): none of it is taken.
                while (next < text.size() && text.at(next).isLetterOrNumber())
                    ++next;
            } else if (!QStringView(u".^$*+?]").contains(c)) {
                literal = c;
            }
            // A quantifier makes the atom optional (* ? {), or repeats it (+): the run ends there.
            const QChar quantifier = next < text.size() ? text.at(next) : QChar();
            const bool optional = quantifier == u'*' || quantifier == u'?' || quantifier == u'{';
            if (!literal.isNull() && !optional)
                run += literal;
            if (literal.isNull() || optional || quantifier == u'+')
                endRun();
            if (!optional)
                std::move(inner.begin(), inner.end(), std::back_inserter(required));
            at = next;
        }
        endRun();
        return required;
    }

    const QString &text;
    qsizetype at = 0;
};

} // namespace

RequiredTexts regularExpressionLiterals(const QString &pattern)
{
    return LiteralReader(pattern).whole();
}

RuleIndex::Kind RuleIndex::classify(const QRegExp &pattern, std::string &key, Requirements &required)
{
    key.clear();
    required.clear();
    // Too costly to compile or to match within a bounded time: its rule never matches.
    if (pattern.patternSyntax() != QRegExp::Wildcard) {
        if (!isTractable(pattern))
            return Kind::Intractable;
        if (pattern.patternSyntax() != QRegExp::RegExp && pattern.patternSyntax() != QRegExp::RegExp2)
            return Kind::Other;
        for (const QStringList &texts : regularExpressionLiterals(pattern.pattern())) {
            std::vector<std::string> lowered(std::size_t(texts.size()));
            bool latin1 = true;
            for (qsizetype i = 0; i < texts.size() && latin1; ++i)
                latin1 = lowerLatin1Into(texts.at(i), lowered[std::size_t(i)]);
            if (latin1) // else a text no name holds: the requirement is unknown, not unmet
                required.push_back(std::move(lowered));
        }
        return Kind::Other;
    }
    const QString text = pattern.pattern();
    const bool suffix = text.startsWith(QLatin1Char('*'));
    bool wild = false;
    bool escaped = false;
    bool latin1 = true;
    // Runs of plain characters between wildcards, each one requirement.
    const auto endRun = [&] {
        if (!key.empty())
            required.push_back({key});
        key.clear();
    };
    for (qsizetype at = suffix ? 1 : 0; at < text.size() && !escaped; ++at) {
        const QChar character = text.at(at);
        switch (character.unicode()) {
        case '[':
            at = skipBracketed(text, at) - 1; // a set: one character, none known
            Q_FALLTHROUGH();
        case '*':
        case '?':
            wild = true;
            endRun();
            continue;
        case ']':
        case '\\':
            escaped = true;
            continue;
        default:
            break;
        }
        // A character that lowers outside Latin-1 equals no character of a name; the rest of the
        // text may still make the pattern an unindexed one, so the scan goes on.
        const ushort lower = character.toLower().unicode();
        if (lower > 0xff) {
            latin1 = false;
            endRun();
        } else {
            key.push_back(char(lower));
        }
    }
    const bool indexed = !wild && !escaped && pattern.caseSensitivity() == Qt::CaseInsensitive;
    // An exact name or a suffix is looked up by its key: only its length can make it too costly.
    if (indexed ? text.size() > PatternLimits::maxLength : !isTractable(pattern)) {
        key.clear();
        required.clear();
        return Kind::Intractable;
    }
    if (indexed)
        return !latin1 ? Kind::Never : suffix ? Kind::Suffix : Kind::Exact;
    if (escaped) {
        // No literal is taken from a pattern with escapes.
        key.clear();
        required.clear();
        return Kind::Other;
    }
    // A case-sensitive match holds its literal as written, so the lowered name holds it lowered.
    endRun();
    return !wild && !latin1 ? Kind::Never : Kind::Other;
}

void RuleIndex::chooseLiterals(const Requirements &required, std::string &literals,
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

void RuleIndex::add(const QRegExp &pattern, quint32 position)
{
    switch (classify(pattern, keyBuffer, requiredBuffer)) {
    case Kind::Exact:
        exact.insert(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        break;
    case Kind::Suffix:
        suffixes.insert(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        ++suffixesOfLength(keyBuffer);
        break;
    case Kind::Other: {
        auto rule = std::make_unique<Unindexed>(Unindexed{position, {}, std::make_unique<QRegExp>()});
        setPatternLazily(*rule->pattern, pattern.pattern(), pattern.patternSyntax(),
                         pattern.caseSensitivity());
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
    case Kind::Intractable:
        ++intractable;
        break;
    case Kind::Never:
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

void RuleIndex::remove(const QRegExp &pattern, quint32 position)
{
    switch (classify(pattern, keyBuffer, requiredBuffer)) {
    case Kind::Exact:
        exact.erase(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        break;
    case Kind::Suffix:
        suffixes.erase(keyBuffer, PositionTable::keyHash(keyBuffer), position);
        --suffixesOfLength(keyBuffer);
        break;
    case Kind::Other: {
        const auto at = unindexedAt(position);
        Q_ASSERT(at != others.end() && (*at)->position == position);
        unfile((*at)->literals, position);
        others.erase(at);
        break;
    }
    case Kind::Intractable:
        --intractable;
        break;
    case Kind::Never:
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

quint32 RuleIndex::firstMatch(const QByteArray &name) const
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
    // The text for QRegExp is made only when an unindexed rule must be tested.
    QString text;
    for (auto at = candidates.cbegin(); at != candidates.cend(); ++at) {
        if (at != candidates.cbegin() && at->position == (at - 1)->position)
            continue; // filed under slices the name holds twice
        if (!holdsAny(lowered, at->rule->literals))
            continue;
        if (text.isNull())
            text = QString::fromLatin1(name);
        if (at->rule->pattern->exactMatch(text))
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
