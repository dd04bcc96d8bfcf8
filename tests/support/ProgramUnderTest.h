#pragma once

#include <QProcess>
#include <QString>

#include <optional>

// The real tarnowlock executable copied into a folder, which is then its working directory
// (settings, hosts/, log/, DNS) unless it is the installed copy's, run with the offscreen platform
// from that folder.
class ProgramUnderTest {
public:
    explicit ProgramUnderTest(const QString &folder, const QString &workingFolder = QString());
    ~ProgramUnderTest();

    // True once its start-up is done and its event loop runs. Started as `user` (user and group
    // id), it gets the folder.
    bool start(std::optional<uint> user = {});
    // Sends `signal`; true when it has ended within 15 s.
    bool stop(int signal);
    // Runs another copy from the same folder to its end: its exit code, or -1 if it crashed or hung.
    int runAgain(std::optional<uint> user = {}, const QStringList &arguments = {});
    QProcess &process() { return program; }
    // The text of the only log file in log/, or empty text.
    QString logText() const;

private:
    void startIn(QProcess &process, std::optional<uint> user, const QStringList &arguments = {}) const;

    QString binDir;
    QString dir;
    QString executable;
    QProcess program;
};
