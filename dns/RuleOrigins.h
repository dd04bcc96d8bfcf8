#pragma once

#include <QString>

#include <vector>

// Where each loaded rule came from: a hosts file and the line that gave it. Rows the user adds in the
// rule table follow the loaded ones and come from no file. Four bytes a rule: a list of a million
// lines keeps its line numbers, not its texts.
class RuleOrigins {
public:
    struct Origin {
        QString file; // empty for a row added in the table
        quint32 line = 0;
    };

    void clear();
    // The rules appended next come from `file`: their line numbers, one per rule, go to the vector given.
    std::vector<quint32> &startFile(const QString &file);
    // The loaded rules, which come first in the rule list.
    int size() const { return int(lines.size()); }
    // Forgets rule `row` of the rule list, a loaded one or not.
    void removeAt(int row);
    Origin at(int row) const;

private:
    struct File {
        QString path;
        int first; // its first rule; a file all of whose rules went shares it with the next
    };
    std::vector<File> files;
    std::vector<quint32> lines;
};
