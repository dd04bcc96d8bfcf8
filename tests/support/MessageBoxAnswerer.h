#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// While it lives, answers every message box that opens with `answer` and notes each one as
// "icon|text" (icon: information, warning, critical or other). A box without that button is
// closed all the same.
class MessageBoxAnswerer : public QObject {
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton answer)
    {
        connect(&poll, &QTimer::timeout, this, [this, answer] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            const char *const icons[] = {"other", "information", "warning", "critical", "other"};
            shown << QLatin1String(icons[qBound(0, int(box->icon()), 4)]) + u'|' + box->text();
            if (QAbstractButton *button = box->button(answer))
                button->click();
            else
                box->done(QMessageBox::NoButton);
        });
        poll.start(10);
    }

    QStringList shown;

private:
    QTimer poll;
};
