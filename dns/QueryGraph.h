#pragma once

#include "dns/QueryStats.h"

#include <QWidget>

// The server's last hour at a glance: a stacked bar per minute (answered by a rule, passed on), a
// caption with the totals, and the names answered most often.
class QueryGraph : public QWidget {
    Q_OBJECT

public:
    explicit QueryGraph(QWidget *parent = nullptr);

    void setHour(const QueryStats::Hour &shown);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QueryStats::Hour hour;
};
