#pragma once

#include <functional>

class HostWatch;
class QWidget;
struct MainServices;

namespace platform {
class ReportList;
}

// Writing the host list's rows to a CSV file the user chooses.
namespace hostexport {

// Asks where to and writes the rows as CSV: the selected rows, or every row. ended: true once the
// window has unloaded, when a dialog's answer changes nothing.
void exportRows(QWidget& owner, const MainServices& services, platform::ReportList& rows, HostWatch& watch,
                bool selectedOnly, const std::function<bool()>& ended);

} // namespace hostexport
