#include "fuzz/FuzzTargets.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QtTest>

// Replays the fuzz targets' seed corpus in the ordinary build: every input must keep the targets'
// invariants (a sanitizer build also checks memory on the way).
class TestFuzzCorpus : public QObject {
    Q_OBJECT

private slots:
    void corpus_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *target : {"dns_message", "hosts_line"}) {
            const QDir dir(QStringLiteral(TARNOWLOCK_SOURCE_DIR "/fuzz/corpus/") + QLatin1String(target));
            const QStringList files = dir.entryList(QDir::Files, QDir::Name);
            // An empty corpus gives a row of its own, which fails.
            for (const QString &file : files.isEmpty() ? QStringList(QStringLiteral("(no input)")) : files)
                QTest::addRow("%s/%s", target, qPrintable(file)) << dir.filePath(file);
        }
    }

    void corpus()
    {
        QFETCH(QString, path);
        const QByteArray input = readWholeFile(path);
        QVERIFY(input != "<unreadable>");
        QVERIFY((path.contains(QStringLiteral("/dns_message/")) ? FuzzTargets::datagram
                                                                : FuzzTargets::hostsLine)(input));
    }
};

QTEST_GUILESS_MAIN(TestFuzzCorpus)
#include "tst_fuzzcorpus.moc"
