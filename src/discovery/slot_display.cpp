#include "discovery/slot_display.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/verdict.h"
#include "discovery/drive_table.h"
#include "ui/window_model.h"

namespace tamro {

namespace {

using ui::ControlId;
namespace colors = ui::colors;


// `length` bytes of the INQUIRY data from `from` on, stopping at a NUL, padded
// with blanks to `width`.
std::string Field(const std::uint8_t* inquiry, int from, int length, std::size_t width = 0) {
    std::string text;
    for (int i = 0; i < length && inquiry[from + i] != 0; ++i) text += static_cast<char>(inquiry[from + i]);
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

std::string IdentityLine(const DriveSlot& slot) {
    const std::uint8_t* inq = slot.inquiryData;
    std::string vendor, product, revision;
    switch (slot.vendorClass) {
        case kVendorUnisys:
            vendor = Field(inq, 8, 6, 7);
            product = Field(inq, 22, 9, 9);
            revision = Field(inq, 32, 4);
            break;
        case kVendorHp:
            vendor = Field(inq, 8, 7, 7);
            product = Field(inq, 16, 4, 9);
            revision = Field(inq, 28, 4);
            break;
        default:
            vendor = Field(inq, 8, 7, 7);
            product = slot.errorKind == kLogUnreadableAtScan ? Field(inq, 16, 6) + "   " : Field(inq, 16, 9);
            if (product.size() < 9) product.append(9 - product.size(), ' ');
            revision = Field(inq, 32, 4);
            break;
    }
    char head[96];
    std::snprintf(head, sizeof head, "HA#%d/ID%02d  %s %s %s #", slot.hostAdapter, slot.targetId, vendor.c_str(),
                  product.c_str(), revision.c_str());
    return head + std::string(slot.serialNumber, strnlen(slot.serialNumber, sizeof slot.serialNumber));
}

std::string AddressLine(const DriveSlot& slot, const char* text) {
    char line[96];
    std::snprintf(line, sizeof line, "HA#%d/ID%02d  %s", slot.hostAdapter, slot.targetId, text);
    return line;
}

}  // namespace

void ShowSlots() {
    ui::WindowModel& form = ui::Form();
    if (driveCount == 0) {
        for (int n = 0; n < kSlotCount; ++n) {
            form.SetCaption(ui::kSlotLines[n], "HA#x/IDxx   Non Connection ");
            form.SetCaption(ui::kJudgeLabels[n], " ------ ");
        }
        form.Hide(ControlId::Panel3);
    }
    for (int n = 0; n < kSlotCount; ++n) {
        form.SetFontColor(ui::kSlotLines[n], colors::kBlack);
        form.Disable(ui::kLogButtons[n]);
    }
    if (driveCount == 0) {
        currentSlot = 0;
        return;
    }

    for (currentSlot = 0; currentSlot < kSlotCount; ++currentSlot) {
        const int n = currentSlot;
        const DriveSlot& slot = DriveTable[static_cast<std::size_t>(n)];
        const bool identity =
            slot.inquiryData[4] != 0 && (slot.errorKind == kNoError || slot.errorKind == kLogUnreadableAtScan);
        const bool empty = !identity && slot.errorKind == kNoError;
        bool failed = false;
        if (identity) {
            form.SetCaption(ui::kSlotLines[n], IdentityLine(slot),
                            slot.errorKind == kLogUnreadableAtScan ? colors::kMaroon : colors::kGreen);
        } else if (slot.errorKind == kNotIdentified) {
            form.SetCaption(ui::kSlotLines[n], AddressLine(slot, "Device name not available."), colors::kMaroon);
        } else if (slot.errorKind != kNoError) {
            form.SetCaption(ui::kSlotLines[n], AddressLine(slot, "This Drive had check condition."), colors::kRed);
            failed = true;
        } else {
            form.SetCaption(ui::kSlotLines[n], "HA#x/IDxx  Non Connection ");
        }

        if (failed) {
            NameAfterAddressIfUnnamed(DriveTable[static_cast<std::size_t>(n)]);
            MarkFailOrNo();
            FinishSlot();
        }

        if (empty || slot.errorKind == kNotIdentified) {
            form.SetCaption(ui::kJudgeLabels[n], " ------ ");
            form.Repaint(ui::kJudgeLabels[n]);
        } else {
            form.SetCaption(ui::kJudgeLabels[n], "");
            form.Repaint(ui::kJudgeLabels[n]);
            if (slot.errorKind == kNoError) {
                form.Check(ui::kSelectBoxes[n]);
                form.Enable(ui::kSelectBoxes[n]);
            } else {
                form.Uncheck(ui::kSelectBoxes[n]);
            }
        }
    }
}

}  // namespace tamro
