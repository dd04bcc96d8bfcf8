#include "settings/UpdateSchedule.h"

#include "settings/HostsEntry.h"

bool isUpdateDue(const HostsEntry &entry, const QDate &today)
{
    if (entry.updateFrequency < 0)
        return false;
    if (!entry.lastUpdate.isValid())
        return true;
    // Whole days by the calendar: an update late in the evening counts for that day.
    return entry.lastUpdate.date().addDays(entry.updateFrequency) <= today;
}
