#pragma once

#include "log/LogSink.h"

#include <QStringList>

// Keeps every log line as "<level> <text>", with " (detailed)" after the level of a line meant
// for the Detailed mode only, so that one comparison checks text, level and flag together.
class RecordingLog : public LogSink {
public:
    void appendLog(const QString &text, int level, bool detailedOnly) override
    {
        lines << QString::number(level) +
                     (detailedOnly ? QStringLiteral(" (detailed) ") : QStringLiteral(" ")) + text;
    }

    QStringList lines;
};
