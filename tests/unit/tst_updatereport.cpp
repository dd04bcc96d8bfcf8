#include "log/LogSink.h"
#include "options/UpdateReport.h"

#include <QTest>

Q_DECLARE_METATYPE(UpdateOutcome)

class TestUpdateReport : public QObject {
    Q_OBJECT

private slots:
    void startLine();
    void endLine_data();
    void endLine();
    void refusedLine();
    void failureBox_data();
    void failureBox();
    void failureBoxText();
};

void TestUpdateReport::startLine()
{
    const UpdateLogLine line = updateStartLine(QStringLiteral("mvps.hosts"));
    QCOMPARE(line.text, QStringLiteral("Start updating 'mvps.hosts'"));
    QCOMPARE(line.level, int(LogLevel::Begins));
}

void TestUpdateReport::endLine_data()
{
    QTest::addColumn<UpdateOutcome>("outcome");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("level");

    QTest::newRow("updated") << UpdateOutcome::Updated << QStringLiteral("'a b.hosts' updated successfully!")
                             << int(LogLevel::Succeeds);
    QTest::newRow("not saved") << UpdateOutcome::SaveFailed
                               << QStringLiteral("Unable to save 'a b.hosts'! Please 'Run as administrator'")
                               << int(LogLevel::Fails);
    QTest::newRow("canceled") << UpdateOutcome::Canceled << QStringLiteral("Update of 'a b.hosts' canceled!")
                              << int(LogLevel::Fails);
    QTest::newRow("failed") << UpdateOutcome::Failed << QStringLiteral("Update of 'a b.hosts' failed!")
                            << int(LogLevel::Fails);
}

void TestUpdateReport::endLine()
{
    QFETCH(UpdateOutcome, outcome);
    QFETCH(QString, text);
    QFETCH(int, level);

    const UpdateLogLine line = updateEndLine(outcome, QStringLiteral("a b.hosts"));
    QCOMPARE(line.text, text);
    QCOMPARE(line.level, level);
}

void TestUpdateReport::refusedLine()
{
    const UpdateLogLine line = updateRefusedLine(QStringLiteral("../x.hosts"));
    QCOMPARE(line.text,
             QStringLiteral("Unable to save '../x.hosts'! Only plain files of the hosts folder are updated"));
    QCOMPARE(line.level, int(LogLevel::Fails));
}

void TestUpdateReport::failureBox_data()
{
    QTest::addColumn<UpdateOutcome>("outcome");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<bool>("box");

    QTest::newRow("failed, by hand") << UpdateOutcome::Failed << false << true;
    QTest::newRow("failed, automatic") << UpdateOutcome::Failed << true << false;
    QTest::newRow("canceled, by hand") << UpdateOutcome::Canceled << false << false;
    QTest::newRow("not saved, by hand") << UpdateOutcome::SaveFailed << false << false;
    QTest::newRow("updated, by hand") << UpdateOutcome::Updated << false << false;
}

void TestUpdateReport::failureBox()
{
    QFETCH(UpdateOutcome, outcome);
    QFETCH(bool, automatic);
    QFETCH(bool, box);

    QCOMPARE(updateNeedsFailureBox(outcome, automatic), box);
}

void TestUpdateReport::failureBoxText()
{
    QCOMPARE(updateFailureBoxText(QStringLiteral("mvps.hosts")),
             QStringLiteral("Something went wrong while updating <i><b>mvps.hosts</b></i>.<br/>Try later."));
}

QTEST_GUILESS_MAIN(TestUpdateReport)
#include "tst_updatereport.moc"
