#pragma once

#include "dns/RuleOrigins.h"

#include <QByteArray>
#include <QString>

class HostRules;

// What the server answers for a name the user types, found without any network question: the name
// goes through the server's own reply to a question of type A, so the answer and the deciding rule are
// the server's, in its current mode.
struct NameTest {
    enum Outcome {
        NotAName, // an empty label, a label over Dns::maxLabelLength, or no international form
        TooLong,  // over Dns::maxNameLength on the wire: the server answers with a format error
        Answered,
        PassedOn, // no rule matches: the server answers SERVFAIL
    };
    Outcome outcome = NotAName;
    QByteArray name; // as a resolver asks it: a trailing dot dropped, international names in ACE
    QString address; // of the answer
    int rule = -1;   // the rule that decides it
};

NameTest testName(const HostRules &rules, const QString &typed);

// The outcome in words; for an answer, the rule's text and `origin`, where that rule came from.
QString describeNameTest(const NameTest &test, const HostRules &rules, const RuleOrigins::Origin &origin);
