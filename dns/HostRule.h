#pragma once

#include "dns/RuleIndex.h"

#include <QByteArray>
#include <QHostAddress>
#include <QRegExp>
#include <QString>

#include <deque>
#include <vector>

// One rule of the DNS server: names matching `pattern` are answered with `address`. The pattern
// text is the domain exactly as written; its syntax is Wildcard or RegExp by server mode, and it
// always ignores case. A null address (its text was no valid address) answers as sixteen zero
// bytes of IPv6.
struct HostRule {
    QHostAddress address;
    QRegExp pattern;
};

// The server's ordered rule list: the file's lines first, then the rows the user appended. Position
// i is row i of the rule table. Duplicates stay; the first rule that matches a name decides it.
// Rules change only through these calls, so that a lookup index can follow every change. Each rule
// is kept as its address and the text, syntax and case sensitivity of its pattern; a QRegExp (some
// 400 bytes before it even compiles) is made only for a rule that the index cannot look up by text.
class HostRules {
public:
    // An `index` must be a valid position, as for QList.
    int size() const { return int(rules.size()); }
    // The rule at `index`, its pattern not yet compiled.
    HostRule at(int index) const { return rules[std::size_t(index)].rule(); }
    const QHostAddress &addressAt(int index) const { return rules[std::size_t(index)].address; }
    const QString &patternAt(int index) const { return rules[std::size_t(index)].pattern; }

    void append(const HostRule &rule);
    // Appends a case-insensitive wildcard rule.
    void appendWildcard(const QHostAddress &address, const QString &pattern);
    void replace(int index, const HostRule &rule);
    void removeAt(int index);
    void clear();

    // Gives every rule the pattern syntax of the server mode: Wildcard or RegExp.
    void setSyntax(QRegExp::PatternSyntax syntax);

    // Looks up a query name (the labels joined by dots, no trailing dot; the root name is empty),
    // each byte taken as one Latin-1 character. The whole name must match a pattern. On a match
    // `rdata` becomes the address bytes in network order, 4 for IPv4 and 16 otherwise, and
    // `rdlength` their count; without one both are left as they were.
    bool findAnswer(const QByteArray &name, quint16 &rdlength, QByteArray &rdata) const;
    // The index of the rule that decides `name` as findAnswer() looks it up, or -1 when none matches.
    int firstMatch(const QByteArray &name) const;
    // How many rules never match because their pattern is too costly to match in bounded time.
    int intractableCount() const { return int(ruleIndex.intractableCount()); }

private:
    struct StoredRule {
        QHostAddress address;
        QString pattern;
        QRegExp::PatternSyntax syntax;
        Qt::CaseSensitivity caseSensitivity;

        static StoredRule of(const HostRule &rule);
        // Not yet compiled.
        QRegExp regExp() const;
        HostRule rule() const { return HostRule{address, regExp()}; }
    };

    void push(StoredRule &&rule);
    // Gives the rule just put at the end its position and indexes it.
    void indexLast();
    int indexOf(quint32 position) const;
    void rebuildIndex();

    // A deque: growing it neither copies the rules nor holds them twice, as a vector does.
    std::deque<StoredRule> rules;
    // Parallel to `rules`: each rule's position in the index, rising with its place in the list.
    // Removals leave gaps, so no later rule needs a new position.
    std::vector<quint32> positions;
    quint32 nextPosition = 0;
    RuleIndex ruleIndex;
};

// Which lines of a hosts file give rules.
enum class HostsLines {
    // Only the lines that hold a "*" anywhere (after the comment is cut at the first "#"): a rule of
    // the first field (the address, null when invalid) and the second (the domain, a
    // case-insensitive wildcard). Later fields are ignored; a line of one field yields nothing.
    Wildcard,
    // As Wildcard for lines with a "*"; any other line of a valid address gives a rule for each of
    // its names, as the machine's resolver reads the hosts file. Lines of an invalid address give
    // nothing.
    Every,
};

// Appends the rules of one hosts-file line (without its line break).
void parseHostsLine(HostRules &rules, const QString &line, HostsLines lines = HostsLines::Wildcard);

// Appends the rules of the hosts file at `path`, decoded in the local 8-bit encoding unless a
// Unicode byte-order mark names another. False when the file cannot be read.
bool appendHostsRules(HostRules &rules, const QString &path, HostsLines lines);

// Replaces `rules` with those of the hosts file at `path` (the Wildcard lines). A file that cannot
// be read leaves `rules` empty.
void loadSystemHostsRules(HostRules &rules, const QString &path);
