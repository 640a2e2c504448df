// The operations that close the work on the current slot: the verdict, its
// JUDGE label, and the log with the slot's log button.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "reports/drive_report.h"

namespace tamro {

// What the worker notes of its drive beside the slot, for the drive's
// record: when it began and ended, and each surface test procedure.
struct RunJournal {
    std::optional<std::time_t> startedAt, stoppedAt;
    std::vector<ProcedureOutcome> procedures;
    bool logRetested = false;  // the error hit check ran
};
// The calling worker's journal; a worker works on one drive at a time.
RunJournal& CurrentRunJournal();

// A drive's turn begins: startTime, and a fresh journal.
void StampStartTime(DriveSlot& slot);

// Verdict PASS: stopTime, the PASS bit, "PASS" in green. Always 0.
int MarkPass();

// Verdict NO Judge for errorKind 9, FAIL otherwise: stopTime, the verdict
// bit, "------ " in maroon for errorKind 5 and 9, "FAIL" in red for the
// rest. Always 0.
int MarkFailOrNo();

// Writes the drive log; then enables the slot's log button and clears the
// status line. -1 when the log file could not be created (the error panel
// is up then and the caller must go no further), else 0. Either way the
// drive's record goes to the observer.
int FinishSlot();

// The record of the current slot's turn, its journal taken.
std::shared_ptr<DriveReport> NewReport(ReportKind kind);

}  // namespace tamro
