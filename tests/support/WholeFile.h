#pragma once

#include <QByteArray>
#include <QString>

// A file's whole content; a file that cannot be read gives "<unreadable>", which no test expects.
QByteArray readWholeFile(const QString &path);
// Replaces a file's content; false when it could not be written whole.
bool writeWholeFile(const QString &path, const QByteArray &content);
