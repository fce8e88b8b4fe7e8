// Run reports of the command line: printed, and with --log appended to
// today's log file when the settings keep log files.
#pragma once

#include "report/report_document.h"

namespace vt {

// Prints the report; with `log` saves it as the program does. False when
// saving was asked for, is switched on, and failed.
bool FinishReport(const CReportDocument& report, bool print, bool log);

}  // namespace vt
