// The operations that close the work on the current slot: the verdict, its
// JUDGE label, and the log with the slot's log button.
#pragma once

namespace tamro {

// Verdict PASS: stopTime, the PASS bit, "PASS" in green. Always 0.
int MarkPass();

// Verdict NO Judge for errorKind 9, FAIL otherwise: stopTime, the verdict
// bit, "------ " in maroon for errorKind 5 and 9, "FAIL" in red for the
// rest. Always 0.
int MarkFailOrNo();

// Writes the drive log; then enables the slot's log button and clears the
// status line. -1 when the log file could not be created (the error panel
// is up then and the caller must go no further), else 0.
int FinishSlot();

}  // namespace tamro
