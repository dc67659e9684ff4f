#pragma once

#include "hostlist/hostlistfile.h"

namespace platform {
class ReportList;
}

namespace hostlist {

// Replaces the rows of the list with the entries file.load() reads: each ticked, its address as
// sub-item 1, status and timeout empty, and its key the entry's key in file, which is what
// file.remove() takes; the last row is scrolled into view. Throws HostListError when the file
// cannot be read or a line is bad; the rows read before that line stay in the list. No other
// exception leaves it.
void LoadList(platform::ReportList& list, HostListFile& file);

} // namespace hostlist
