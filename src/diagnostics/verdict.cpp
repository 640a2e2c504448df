#include "diagnostics/verdict.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "discovery/drive_table.h"
#include "platform/time_text.h"
#include "reports/drive_log.h"
#include "ui/window_model.h"

namespace tamro {

namespace {

using ui::ControlId;

// The slot's row of controls: check box, line, JUDGE label, log button.
constexpr std::size_t kRowStride = ui::IndexOf(ControlId::ID1D) - ui::IndexOf(ControlId::ID0D);
static_assert(ui::IndexOf(ControlId::J1) - ui::IndexOf(ControlId::J0) == kRowStride);
static_assert(ui::IndexOf(ControlId::ID6) - ui::IndexOf(ControlId::ID0) == 6 * kRowStride);

// None when currentSlot names no row (the slot display leaves it at 7).
std::optional<ControlId> RowControl(ControlId first) {
    if (currentSlot < 0 || currentSlot >= kSlotCount) return std::nullopt;
    return ui::ControlAt(ui::IndexOf(first) + kRowStride * static_cast<std::size_t>(currentSlot));
}

void StampStopTime(DriveSlot& slot) {
    const std::string now = platform::LocalTimeText();
    std::memset(slot.stopTime, 0, sizeof slot.stopTime);
    std::memcpy(slot.stopTime, now.data(), std::min(now.size(), sizeof slot.stopTime - 1));
}

void ShowJudge(const char* text, ui::Rgb colour) {
    if (const auto judge = RowControl(ControlId::J0)) {
        ui::Form().SetCaption(*judge, text, colour);
        ui::Form().Repaint(*judge);
    }
}

}  // namespace

int MarkPass() {
    DriveSlot& slot = CurrentDrive();
    StampStopTime(slot);
    slot.runFlags |= kFlagPass;
    ShowJudge("PASS", ui::colors::kGreen);
    return 0;
}

int MarkFailOrNo() {
    DriveSlot& slot = CurrentDrive();
    StampStopTime(slot);
    slot.runFlags |= slot.errorKind == kLogUnreadableAtScan ? kFlagNoJudge : kFlagFail;
    if (slot.errorKind == kNotIdentified || slot.errorKind == kLogUnreadableAtScan)
        ShowJudge("------ ", ui::colors::kMaroon);
    else
        ShowJudge("FAIL", ui::colors::kRed);
    return 0;
}

int FinishSlot() {
    if (WriteDriveLog() != 0) return -1;
    ui::WindowModel& form = ui::Form();
    if (const auto logButton = RowControl(ControlId::ID0)) form.Enable(*logButton);
    form.SetCaption(ControlId::DCONF, "");
    form.Repaint(ControlId::DCONF);
    return 0;
}

}  // namespace tamro
