#include "diagnostics/verdict.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"
#include "platform/time_text.h"
#include "reports/drive_log.h"

namespace tamro {

namespace {

// currentSlot names no row when the slot display has left it at 7.
bool OnARow() { return currentSlot >= 0 && currentSlot < kSlotCount; }

void StampStopTime(DriveSlot& slot) {
    const std::string now = platform::LocalTimeText();
    std::memset(slot.stopTime, 0, sizeof slot.stopTime);
    std::memcpy(slot.stopTime, now.data(), std::min(now.size(), sizeof slot.stopTime - 1));
}

void ShowJudge(const char* text, Tone tone) {
    if (OnARow()) Observer().Judge(currentSlot, text, tone, true);
}

}  // namespace

int MarkPass() {
    DriveSlot& slot = CurrentDrive();
    StampStopTime(slot);
    slot.runFlags |= kFlagPass;
    ShowJudge("PASS", Tone::Green);
    return 0;
}

int MarkFailOrNo() {
    DriveSlot& slot = CurrentDrive();
    StampStopTime(slot);
    slot.runFlags |= slot.errorKind == kLogUnreadableAtScan ? kFlagNoJudge : kFlagFail;
    if (slot.errorKind == kNotIdentified || slot.errorKind == kLogUnreadableAtScan)
        ShowJudge("------ ", Tone::Maroon);
    else
        ShowJudge("FAIL", Tone::Red);
    return 0;
}

int FinishSlot() {
    std::string path;
    if (WriteDriveLog(&path) != 0) return -1;
    if (OnARow()) Observer().LogWritten(currentSlot, path);
    ShowStatus("");
    return 0;
}

}  // namespace tamro
