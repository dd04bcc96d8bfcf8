#pragma once

#include <QString>

// How the update of one hosts list ended.
enum class UpdateOutcome {
    Updated,    // the list file holds the new content
    SaveFailed, // the new content could not be written; the old file is whole
    Canceled,   // aborted by the user; the old file is whole
    Failed,     // the source could not be read; the old file is whole
};

// A line for the activity log.
struct UpdateLogLine {
    QString text;
    int level = 0;
};

// The line that opens the update of the list `name`.
UpdateLogLine updateStartLine(const QString &name);
// The line that reports how the update of `name` ended.
UpdateLogLine updateEndLine(UpdateOutcome outcome, const QString &name);
// The line for a list whose file an update may not write (see updateTarget()).
UpdateLogLine updateRefusedLine(const QString &name);

// Only an update started by hand whose source failed interrupts the user with a message box.
bool updateNeedsFailureBox(UpdateOutcome outcome, bool automatic);
// The rich text of that message box.
QString updateFailureBoxText(const QString &name);
