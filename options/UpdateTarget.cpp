#include "options/UpdateTarget.h"

#include "options/HostsLibrary.h"
#include "settings/HostsEntry.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

const QByteArray beginMarker = "# >>> Tarnowlock: ", endMarker = "# <<< Tarnowlock: ";

// Ends `text` with a line break, so that a marker that follows starts a line of its own.
void endLine(QByteArray &text)
{
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
}

QByteArray lineText(const QByteArray &line)
{
    return line.endsWith("\r\n") ? line.chopped(2) : line.endsWith('\n') ? line.chopped(1) : line;
}

} // namespace

QString updateTarget(const QString &name)
{
    const QString path = libraryPath(name);
    if (path.isEmpty() || QFileInfo(path).isSymLink())
        return QString();
    return path;
}

QByteArray appliedHosts(const QList<AppliedList> &lists)
{
    QByteArray hosts;
    for (const AppliedList &list : lists) {
        if (list.name == defaultHostsName) {
            hosts += list.content;
            continue;
        }
        const QByteArray name = list.name.toUtf8();
        endLine(hosts);
        hosts += beginMarker + name + '\n' + list.content;
        endLine(hosts);
        hosts += endMarker + name + '\n';
    }
    return hosts;
}

QByteArray withoutAppliedLists(const QByteArray &hosts)
{
    QList<QByteArray> lines;
    for (qsizetype at = 0; at < hosts.size();) {
        const qsizetype end = hosts.indexOf('\n', at);
        const qsizetype next = end < 0 ? hosts.size() : end + 1;
        lines << hosts.mid(at, next - at);
        at = next;
    }
    QByteArray own;
    for (qsizetype at = 0; at < lines.size(); ++at) {
        const QByteArray text = lineText(lines.at(at));
        qsizetype last = lines.size();
        if (text.startsWith(beginMarker)) {
            const QByteArray end = endMarker + text.mid(beginMarker.size());
            for (qsizetype line = at + 1; line < lines.size() && last == lines.size(); ++line) {
                const QByteArray other = lineText(lines.at(line));
                if (other.startsWith(beginMarker))
                    break;
                if (other == end)
                    last = line;
            }
        }
        if (last < lines.size())
            at = last;
        else
            own += lines.at(at);
    }
    return own;
}

bool dropAppliedLists(const QString &path)
{
    QFile copy(path);
    if (!copy.open(QIODevice::ReadOnly))
        return false;
    const QByteArray hosts = copy.readAll(), own = withoutAppliedLists(hosts);
    if (copy.error() != QFileDevice::NoError)
        return false;
    if (own.size() == hosts.size())
        return true;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(own) == own.size() && file.commit();
}
