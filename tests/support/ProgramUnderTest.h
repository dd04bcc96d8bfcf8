#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The real tarnowlock executable, copied into a folder of the test's, which then is its working
// directory (settings, hosts/, log/, DNS), started with the offscreen platform.
class ProgramUnderTest {
public:
    explicit ProgramUnderTest(const QString &folder);
    ~ProgramUnderTest();

    // Starts it; true once it has claimed its single instance (it is then building its window).
    bool start(const QStringList &arguments = {});
    // Sends `signal` and waits for the end; true when it ended by itself within the time.
    bool stop(int signal, int timeoutMs = 15000);
    QProcess &process() { return program; }
    QString folder() const { return dir; }
    // The text of the only log file in log/, or empty text.
    QString logText() const;

    // Starts another copy from the same folder and waits for it to end.
    static int runAgain(const QString &folder, const QStringList &arguments, int timeoutMs,
                        qint64 *elapsedMs);

private:
    QString dir;
    QProcess program;
};
