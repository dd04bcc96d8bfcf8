#pragma once

// The columns of the hosts list table, in order.
namespace HostsColumn {
enum : int { Select, HostsFile, Source, LastUpdate, Frequency, Count };
}
