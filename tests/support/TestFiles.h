#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A file's whole content; a file that cannot be read gives "<unreadable>", which no test expects.
QByteArray readWholeFile(const QString &path);
// Replaces a file's content, making its folder if needed; false when it could not be written whole.
bool writeWholeFile(const QString &path, const QByteArray &content);

// A temporary program folder holding hosts/ and log/, the working directory while it lives: the
// previous one comes back when it goes, so no test leaves its folder to the next.
class ProgramFolder {
public:
    ProgramFolder();
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder &) = delete;
    ProgramFolder &operator=(const ProgramFolder &) = delete;

    bool isValid() const { return made; }
    // The absolute path of `relative` inside the folder.
    QString path(const QString &relative = QString()) const;

private:
    QTemporaryDir dir;
    QString previous;
    bool made = false;
};
