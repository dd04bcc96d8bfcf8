#include "options/UpdateReport.h"

#include "log/LogSink.h"

UpdateLogLine updateStartLine(const QString &name)
{
    return {QStringLiteral("Start updating '%1'").arg(name), LogLevel::Begins};
}

UpdateLogLine updateEndLine(UpdateOutcome outcome, const QString &name)
{
    switch (outcome) {
    case UpdateOutcome::Updated:
        return {QStringLiteral("'%1' updated successfully!").arg(name), LogLevel::Succeeds};
    case UpdateOutcome::SaveFailed:
        return {QStringLiteral("Unable to save '%1'! Please 'Run as administrator'").arg(name),
                LogLevel::Fails};
    case UpdateOutcome::Canceled:
        return {QStringLiteral("Update of '%1' canceled!").arg(name), LogLevel::Fails};
    case UpdateOutcome::Failed:
        break;
    }
    return {QStringLiteral("Update of '%1' failed!").arg(name), LogLevel::Fails};
}

UpdateLogLine updateRefusedLine(const QString &name)
{
    return {QStringLiteral("Unable to save '%1'! Only plain files of the hosts folder are updated").arg(name),
            LogLevel::Fails};
}

bool updateNeedsFailureBox(UpdateOutcome outcome, bool automatic)
{
    return outcome == UpdateOutcome::Failed && !automatic;
}

QString updateFailureBoxText(const QString &name)
{
    return QStringLiteral("Something went wrong while updating <i><b>") + name.toHtmlEscaped() +
           QStringLiteral("</b></i>.<br/>Try later.");
}
