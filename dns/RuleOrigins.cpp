#include "dns/RuleOrigins.h"

#include <algorithm>

void RuleOrigins::clear()
{
    files.clear();
    lines.clear();
    lines.shrink_to_fit();
}

std::vector<quint32> &RuleOrigins::startFile(const QString &file)
{
    files.push_back(File{file, size()});
    return lines;
}

void RuleOrigins::removeAt(int row)
{
    if (row < 0 || row >= size())
        return;
    lines.erase(lines.begin() + row);
    for (File &file : files) {
        if (file.first > row)
            --file.first;
    }
}

RuleOrigins::Origin RuleOrigins::at(int row) const
{
    if (row < 0 || row >= size())
        return Origin();
    // The last file that starts at or before the row: an emptied file before it starts there too.
    const auto after = std::upper_bound(files.cbegin(), files.cend(), row,
                                        [](int at, const File &file) { return at < file.first; });
    return Origin{std::prev(after)->path, lines[std::size_t(row)]};
}
