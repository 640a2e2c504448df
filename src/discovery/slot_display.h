// The seven drive lines of the window, drawn from what the scan found.
#pragma once

#include <string>

#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"

namespace tamro {

// What the scan made of a slot.
enum class SlotState { Empty, Testable, NotIdentified, LogUnreadable, FailedAtScan };

// A slot's line in the drive list, as the scan left it.
struct SlotView {
    SlotState state;
    std::string line;
    Tone tone;
};
SlotView DescribeSlot(const DriveSlot& slot);

// What becomes of a drive that the scan left failed: the window judges and
// logs it at once; a listing alone leaves it be.
enum class ScanFailures { JudgeAndLog, Leave };

// Rewrites all seven lines, judgement fields and selection boxes.
void ShowSlots(ScanFailures failures = ScanFailures::JudgeAndLog);

}  // namespace tamro
