#include "fuzz/FuzzTargets.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <iterator>

// Replays the fuzz targets' seed corpus in the ordinary build: every file must keep the targets'
// invariants (a sanitizer build also checks memory on the way).
class TestFuzzCorpus : public QObject {
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
};

namespace {

struct Target {
    const char *name; // also the name of its corpus folder
    bool (*run)(const QByteArray &input);
};

const Target targets[] = {{"dns_message", FuzzTargets::datagram}, {"hosts_line", FuzzTargets::hostsLine}};

QDir corpusDir(const Target &target)
{
    return QDir(QStringLiteral(TARNOWLOCK_SOURCE_DIR "/fuzz/corpus/") + QLatin1String(target.name));
}

} // namespace

void TestFuzzCorpus::corpus_data()
{
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("path"); // empty: the corpus itself must be there

    for (int i = 0; i < int(std::size(targets)); ++i) {
        const Target &target = targets[i];
        QTest::addRow("%s: corpus present", target.name) << i << QString();
        for (const QFileInfo &file : corpusDir(target).entryInfoList(QDir::Files, QDir::Name))
            QTest::addRow("%s/%s", target.name, qPrintable(file.fileName())) << i << file.absoluteFilePath();
    }
}

void TestFuzzCorpus::corpus()
{
    QFETCH(int, target);
    QFETCH(QString, path);

    const QDir dir = corpusDir(targets[target]);
    if (path.isEmpty()) {
        QVERIFY2(!dir.entryList(QDir::Files).isEmpty(), qPrintable(dir.path() + QStringLiteral(" is empty")));
        return;
    }
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    QVERIFY(targets[target].run(file.readAll()));
}

QTEST_GUILESS_MAIN(TestFuzzCorpus)
#include "tst_fuzzcorpus.moc"
