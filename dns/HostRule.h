#pragma once

#include "dns/RuleIndex.h"

#include <QByteArray>
#include <QHostAddress>
#include <QRegExp>
#include <QString>
#include <QStringView>

#include <string>
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
// Rules change only through these calls, so that a lookup index can follow every change.
//
// A million rules must fit in little memory, so a rule is a record of 12 bytes: where its pattern
// text lies, as Latin-1 bytes in an arena (dns/PositionTable.h) or, with other characters or longer
// than an arena block, as a QString kept apart, and its address, an IPv4 address itself or the index of any
// other (IPv6, null) in a table where consecutive rules of one address share an entry. Syntax and case
// sensitivity are kept once for all rules, and per rule only while rules differ. A pattern is read from its
// text for the index, and for a name the index cannot decide by text alone (dns/PatternMatcher.h); a pattern
// outside that reader's subset is compiled into a QRegExp (kilobytes each) kept in a small cache.
class HostRules : private RuleIndex::Matcher {
public:
    // An `index` must be a valid position, as for QList.
    int size() const { return int(rules.size()); }
    // The rule at `index`, its pattern not yet compiled.
    HostRule at(int index) const;
    QHostAddress addressAt(int index) const;
    QString patternAt(int index) const;

    void append(const HostRule &rule);
    // Appends a case-insensitive wildcard rule.
    void appendWildcard(const QHostAddress &address, QStringView pattern);
    // Appends a rule of a name of a hosts line: it matches that name, any case, in every mode.
    void appendName(const QHostAddress &address, QStringView name);
    void replace(int index, const HostRule &rule);
    void removeAt(int index);
    void clear();

    // Gives every rule the pattern syntax of the server mode, Wildcard or RegExp; names (FixedString)
    // keep theirs.
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
    struct Rule {
        quint32 textAt;   // in `latin1`, or the index in `apart` when textSize holds apartText
        quint32 textSize; // characters
        quint32 address;  // an IPv4 address below otherAddress; otherAddress + an index in `others`
    };
    static constexpr quint32 apartText = 0x80000000;
    // 240.0.0.0/4, reserved, goes to the table with the other addresses.
    static constexpr quint32 otherAddress = 0xf0000000;
    struct Form {
        QRegExp::PatternSyntax syntax;
        Qt::CaseSensitivity caseSensitivity;
        bool operator==(const Form &other) const
        {
            return syntax == other.syntax && caseSensitivity == other.caseSensitivity;
        }
    };
    static quint8 code(Form form) { return quint8(form.syntax | form.caseSensitivity << 3); }
    static Form formOf(quint8 code)
    {
        return Form{QRegExp::PatternSyntax(code & 7), Qt::CaseSensitivity(code >> 3)};
    }
    // A QRegExp compiled for a rule; `position` none when the entry is free.
    struct Compiled {
        quint32 position = RuleIndex::none;
        QRegExp pattern;
    };
    static constexpr std::size_t compiledEntries = 256;

    void push(const QHostAddress &address, QStringView pattern, Form form);
    Rule store(const QHostAddress &address, QStringView pattern);
    quint32 storeAddress(const QHostAddress &address);
    QString textOf(const Rule &rule) const;
    QRegExp regExpAt(int index) const;
    Form formAt(int index) const { return forms.empty() ? common : formOf(forms[std::size_t(index)]); }
    void setForm(int index, Form form);
    quint32 positionAt(int index) const
    {
        return positions.empty() ? quint32(index) : positions[std::size_t(index)];
    }
    int indexOf(quint32 position) const;
    void unindex(int index);
    // Counts the text of a rule that goes as garbage, and re-lays the arenas when half is garbage.
    void release(const Rule &rule);
    void compact();
    void rebuildIndex();
    bool matches(quint32 position, const QByteArray &name, std::string_view lowered) const override;

    std::vector<Rule> rules;
    TextArena latin1;
    std::vector<QString> apart;
    std::size_t garbage = 0; // characters of texts that no rule holds any more
    std::vector<QHostAddress> others;
    Form common{QRegExp::Wildcard, Qt::CaseInsensitive};
    // Each rule's form as code(), while not all rules have the common one.
    std::vector<quint8> forms;
    // Each rule's position in the index, rising with its place in the list; empty while they are the
    // indexes themselves. Removals leave gaps, so no later rule needs a new position.
    std::vector<quint32> positions;
    quint32 nextPosition = 0;
    RuleIndex ruleIndex;
    mutable std::vector<Compiled> compiled; // by position, modulo its size
};

// Which lines of a hosts file give rules.
enum class HostsLines {
    // Only the lines that hold a "*" anywhere (after the comment is cut at the first "#"): a rule of
    // the first field (the address, null when invalid) and the second (the domain, a
    // case-insensitive wildcard). Later fields are ignored; a line of one field yields nothing.
    Wildcard,
    // As Wildcard for lines with a "*"; any other line of a valid address gives a rule for each of
    // its names, as the machine's resolver reads the hosts file. Lines of an invalid address give
    // nothing. Such a name matches itself alone, in every mode.
    Every,
};

// Appends the rules of one hosts-file line (without its line break).
void parseHostsLine(HostRules &rules, const QString &line, HostsLines lines = HostsLines::Wildcard);

// Appends the rules of the hosts file at `path`, decoded in the local 8-bit encoding unless a
// Unicode byte-order mark names another, and to `lineOf` the line number (from 1) of each. False
// when the file cannot be read.
bool appendHostsRules(HostRules &rules, const QString &path, HostsLines lines,
                      std::vector<quint32> *lineOf = nullptr);

// Replaces `rules` with those of the hosts file at `path` (the Wildcard lines). A file that cannot
// be read leaves `rules` empty.
void loadSystemHostsRules(HostRules &rules, const QString &path, std::vector<quint32> *lineOf = nullptr);
