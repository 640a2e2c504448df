// The drive lines, drawn from what the scan found: the window shows seven.
#pragma once

#include <string>

#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"

namespace tamro {

// What the scan made of a slot.
enum class SlotState { Empty, Testable, NotIdentified, LogUnreadable, FailedAtScan };

// Vendor, model and revision as the drive list shows them, unpadded; where
// they lie in the INQUIRY data depends on the maker.
struct DriveIdentity {
    std::string vendor;
    std::string product;
    std::string revision;
};
DriveIdentity IdentityOf(const DriveSlot& slot);

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

// Rewrites all seven lines, judgement fields and selection boxes, then those
// of every drive beyond them, and says how many drives the rows cannot hold.
void ShowSlots(ScanFailures failures = ScanFailures::JudgeAndLog);

}  // namespace tamro
