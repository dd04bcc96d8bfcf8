#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

// While it lives, answers every message box that opens with `answer` and notes each one as
// "icon|text". A box without that button is closed all the same.
class MessageBoxAnswerer : public QObject {
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer);

    QStringList shown;

private:
    void answerOpenBox();

    QMessageBox::StandardButton answer;
    QTimer poll;
};
