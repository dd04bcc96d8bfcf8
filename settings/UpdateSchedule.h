#pragma once

#include <QDate>

struct HostsEntry;

// Whether `entry` is due for its automatic update at a start on `today`: never with a negative
// frequency; at once when it was never updated; otherwise from the date of its last update plus
// the frequency in days on, so that 0 means at every start.
bool isUpdateDue(const HostsEntry &entry, const QDate &today);
