#pragma once

#include <QRegExp>
#include <QStringList>
#include <QStringView>

#include <string>
#include <vector>

// The reading of a rule's pattern for the rule index: how it is looked up, and the texts that every
// name it matches holds. The rules of the reading are at the top of RequiredTexts.cpp.

// Texts that every text a pattern matches as a whole holds: one text of each entry at least.
using RequiredTexts = std::vector<QStringList>;

// The required texts of a regular expression in QRegExp's syntax; empty when none is known.
RequiredTexts regularExpressionLiterals(QStringView pattern);

enum class PatternKind {
    Exact,       // a name, looked up by its key
    Suffix,      // "*" + a name, looked up by its key
    NameOrBelow, // the name of the key and every name below it: an exact key and a suffix key "." + key
    Other,       // tested with its QRegExp, on names that hold its required texts
    Never,       // matches no name
    Intractable, // too costly to match in bounded time (dns/PatternCost.h): never matches
};

// RequiredTexts lower-cased.
using LoweredTexts = std::vector<std::vector<std::string>>;

// Reads a pattern: for an exact name or a suffix `key` gets the lower-cased text to look up, for
// another pattern `required` gets the texts a match holds.
PatternKind readPattern(QStringView pattern, QRegExp::PatternSyntax syntax,
                        Qt::CaseSensitivity caseSensitivity, std::string &key, LoweredTexts &required);
