// A drive's health without any surface test and without any write: its
// defect counts, its own error log as it stands (not re-tested) and its SMART
// data page, read with the commands a run sends for them.
#pragma once

#include <memory>

#include "reports/drive_report.h"

namespace tamro {

// The health of the chosen drives, on up to `jobs` threads at once, each with
// a request lane of its own. Each drive's record goes to the observer; the
// drive table's slots stay as the scan left them. Throws CommandsStopped,
// after every thread has stopped at a command, when a stop was requested.
void CheckHealthInParallel(int jobs);

// The one drive in `slot`, on the calling thread.
std::shared_ptr<DriveReport> CheckDriveHealth(int slot);

}  // namespace tamro
