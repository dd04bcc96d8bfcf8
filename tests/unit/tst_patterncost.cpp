#include "dns/PatternCost.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {

QString repeated(const QString &part, int count, const QString &separator = QString())
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QString(part).replace(QLatin1Char('#'), QString::number(i));
    return parts.join(separator);
}

// Names a pattern is slow on: long runs of one letter, with and without a mismatch at the end.
const QStringList hardNames{QString(253, QLatin1Char('a')), QString(252, QLatin1Char('a')) + QLatin1Char('!'),
                            QStringLiteral("ab.").repeated(84)};

// A generous bound for one match of a pattern that is accepted, on the longest name.
constexpr qint64 matchBoundMs = 500;

} // namespace

class TestPatternCost : public QObject {
    Q_OBJECT

private slots:
    void verdict_data();
    void verdict();
};

void TestPatternCost::verdict_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("syntax"); // QRegExp::PatternSyntax
    QTest::addColumn<bool>("tractable");

    const int regExp = QRegExp::RegExp;
    const int wildcard = QRegExp::Wildcard;

    // Patterns people write for domains: kept.
    QTest::newRow("(a+)+$: no backtracking in QRegExp") << "(a+)+$" << regExp << true;
    QTest::newRow("(a|aa)+$") << "(a|aa)+$" << regExp << true;
    QTest::newRow("optional sub-domains and alternatives")
        << "^(.*\\.)?(ads|ad|banner|tracker)\\d*\\.example\\.(com|net)$" << regExp << true;
    QTest::newRow("a hundred words") << ".*(" + repeated("w#", 100, "|") + ")\\.example\\.com" << regExp
                                     << true;
    QTest::newRow("counted class") << "[a-z0-9-]+\\.ads\\.[a-z]{2,6}" << regExp << true;
    QTest::newRow("one look-ahead") << "^(?!www\\.).*\\.example\\.com$" << regExp << true;
    QTest::newRow("ten repetitions of ten") << "(a{1,10}){1,10}b" << regExp << true;
    QTest::newRow("wildcard suffix") << "*.ads.example.com" << wildcard << true;
    QTest::newRow("wildcard of 253 letters") << QString(253, QLatin1Char('a')) << wildcard << true;
    QTest::newRow("wildcard, twenty stars") << repeated("*a", 20) << wildcard << true;
    QTest::newRow("wildcard sets") << "ad[0-9]?.[a-c]*.test" << wildcard << true;
    QTest::newRow("empty") << "" << regExp << true;

    // Costly: never compiled or matched.
    QTest::newRow("back-reference") << "(a*)\\1b" << regExp << false;
    QTest::newRow("250 alternatives in a loop") << "(" + repeated("a", 250, "|") + ")+$" << regExp << false;
    QTest::newRow("64 alternatives in a loop") << "(" + repeated("a", 64, "|") + ")+b" << regExp << false;
    QTest::newRow("nested counted repetitions") << "((a{0,100}){0,100}){0,100}" << regExp << false;
    QTest::newRow("one repetition of a thousand") << "(.{1,1000}){1,1000}" << regExp << false;
    QTest::newRow("nested look-aheads") << "(?=.*(?=.*(?=.*a)))a+" << regExp << false;
    QTest::newRow("a hundred stars in sequence") << repeated("(.*)", 100) + "x" << regExp << false;
    QTest::newRow("pattern over the length limit")
        << QString(PatternLimits::maxLength + 1, QLatin1Char('a')) << wildcard << false;
    QTest::newRow("wildcard, a hundred stars in a row")
        << QString(100, QLatin1Char('*')) << wildcard << false;

    // What QRegExp refuses is sized all the same, without reading past the text.
    QTest::newRow("unclosed groups") << "(((" << regExp << true;
    QTest::newRow("stray parenthesis") << ")a)" << regExp << true;
    QTest::newRow("unclosed set") << "[abc" << regExp << true;
    QTest::newRow("unclosed repetition") << "a{2," << regExp << true;
    QTest::newRow("lone backslash") << "\\" << regExp << true;
    QTest::newRow("unclosed wildcard set") << "[a" << wildcard << true;
    QTest::newRow("repetition above QRegExp's limit") << "a{99999}" << regExp << false;
}

void TestPatternCost::verdict()
{
    QFETCH(QString, pattern);
    QFETCH(int, syntax);
    QFETCH(bool, tractable);

    QRegExp regExp;
    regExp.setPatternSyntax(QRegExp::PatternSyntax(syntax));
    regExp.setCaseSensitivity(Qt::CaseInsensitive);
    regExp.setPattern(pattern);
    QCOMPARE(isTractable(regExp), tractable);
    if (!tractable)
        return;
    // What is accepted compiles and matches the hardest names quickly.
    for (const QString &name : hardNames) {
        QElapsedTimer clock;
        clock.start();
        regExp.exactMatch(name);
        QVERIFY2(clock.elapsed() < matchBoundMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    }
}

QTEST_MAIN(TestPatternCost)
#include "tst_patterncost.moc"
