#include "bench/BenchData.h"

#include <QDir>
#include <QFile>
#include <QProcess>

QString generated(int rules, int unindexed, double plainPerRule, const QString &shape)
{
    const QString prefix = QStringLiteral(BENCH_DATA_DIR "/%1-r%2-u%3-p%4")
                               .arg(shape)
                               .arg(rules)
                               .arg(unindexed)
                               .arg(plainPerRule);
    if (!QFile::exists(prefix + QStringLiteral(".queries"))) {
        QDir().mkpath(QStringLiteral(BENCH_DATA_DIR));
        const int status = QProcess::execute(
            QStringLiteral("python3"),
            {QStringLiteral(BENCH_GENERATOR), QStringLiteral("--rules"), QString::number(rules),
             QStringLiteral("--unindexed"), QString::number(unindexed), QStringLiteral("--plain"),
             QString::number(plainPerRule), QStringLiteral("--shape"), shape, QStringLiteral("--prefix"),
             prefix});
        if (status != 0)
            qFatal("generate.py failed");
    }
    return prefix;
}

QList<QByteArray> queryNames(const QString &prefix)
{
    QFile file(prefix + QStringLiteral(".queries"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("no query file");
    QList<QByteArray> names;
    while (!file.atEnd())
        names << file.readLine().split(' ').first();
    return names;
}
