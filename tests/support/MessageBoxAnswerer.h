#pragma once

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

// While it lives, answers every message box that opens with `answer` and notes what each showed
// as "icon|title|text|buttons". A box without that button is closed all the same.
class MessageBoxAnswerer : public QObject {
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer);

    QStringList shown;
    // Runs while each box is open, before it is answered.
    std::function<void()> whileShown;

private:
    void answerOpenBox();

    QMessageBox::StandardButton answer;
    QTimer poll;
};
