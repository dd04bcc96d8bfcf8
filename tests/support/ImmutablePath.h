#pragma once

#include <QString>

// Makes a file or folder immutable while it lives, so that not even root can change it: the way
// a test shows a write that fails. Needs root and a file system with the attribute.
class ImmutablePath {
public:
    explicit ImmutablePath(const QString &path);
    ~ImmutablePath();
    ImmutablePath(const ImmutablePath &) = delete;
    ImmutablePath &operator=(const ImmutablePath &) = delete;

    bool isSet() const { return set; }
    // Why it could not be set.
    QString failure() const { return why; }

private:
    QString path;
    bool set = false;
    QString why;
};
