#include "discovery/slot_display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnostics/verdict.h"
#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"

namespace tamro {

namespace {

// `length` bytes of the INQUIRY data from `from` on, stopping at a NUL.
std::string Field(const std::uint8_t* inquiry, int from, int length) {
    std::string text;
    for (int i = 0; i < length && inquiry[from + i] != 0; ++i) text += static_cast<char>(inquiry[from + i]);
    return text;
}

std::string IdentityLine(const DriveSlot& slot) {
    DriveIdentity id = IdentityOf(slot);
    if (id.vendor.size() < 7) id.vendor.append(7 - id.vendor.size(), ' ');
    if (id.product.size() < 9) id.product.append(9 - id.product.size(), ' ');
    char head[96];
    std::snprintf(head, sizeof head, "HA#%d/ID%02d  %s %s %s #", slot.hostAdapter, slot.targetId, id.vendor.c_str(),
                  id.product.c_str(), id.revision.c_str());
    return head + std::string(slot.serialNumber, strnlen(slot.serialNumber, sizeof slot.serialNumber));
}

std::string AddressLine(const DriveSlot& slot, const char* text) {
    char line[96];
    std::snprintf(line, sizeof line, "HA#%d/ID%02d  %s", slot.hostAdapter, slot.targetId, text);
    return line;
}

}  // namespace

DriveIdentity IdentityOf(const DriveSlot& slot) {
    const std::uint8_t* inq = slot.inquiryData;
    switch (slot.vendorClass) {
        case kVendorUnisys: return {Field(inq, 8, 6), Field(inq, 22, 9), Field(inq, 32, 4)};
        case kVendorHp: return {Field(inq, 8, 7), Field(inq, 16, 4), Field(inq, 28, 4)};
        default:
            // A drive whose log the scan could not read shows a shorter model.
            return {Field(inq, 8, 7), Field(inq, 16, slot.errorKind == kLogUnreadableAtScan ? 6 : 9),
                    Field(inq, 32, 4)};
    }
}

SlotView DescribeSlot(const DriveSlot& slot) {
    const bool identity =
        slot.inquiryData[4] != 0 && (slot.errorKind == kNoError || slot.errorKind == kLogUnreadableAtScan);
    if (identity) {
        if (slot.errorKind == kLogUnreadableAtScan) return {SlotState::LogUnreadable, IdentityLine(slot), Tone::Maroon};
        return {SlotState::Testable, IdentityLine(slot), Tone::Green};
    }
    if (slot.errorKind == kNotIdentified)
        return {SlotState::NotIdentified, AddressLine(slot, "Device name not available."), Tone::Maroon};
    if (slot.errorKind != kNoError)
        return {SlotState::FailedAtScan, AddressLine(slot, "This Drive had check condition."), Tone::Red};
    return {SlotState::Empty, "HA#x/IDxx  Non Connection ", Tone::Unchanged};
}

void ShowSlots(ScanFailures failures) {
    EngineObserver& list = Observer();
    const int beyond = std::max(driveCount - kSlotCount, 0) + drivesBeyondRows;
    if (driveCount == 0) {
        for (int n = 0; n < kSlotCount; ++n) {
            list.DriveLine(n, "HA#x/IDxx   Non Connection ", Tone::Unchanged);
            list.Judge(n, " ------ ", Tone::Unchanged, false);
        }
    }
    list.ListReset(driveCount == 0);
    list.DrivesBeyondRows(beyond);
    if (driveCount == 0) {
        currentSlot = 0;
        return;
    }

    // The seven rows, then every drive the table holds beyond them.
    const int slots = std::max(kSlotCount, std::min(driveCount, SlotsInTable()));
    for (currentSlot = 0; currentSlot < slots; ++currentSlot) {
        const int n = currentSlot;
        DriveSlot& slot = Slot(n);
        const SlotView view = DescribeSlot(slot);
        list.DriveLine(n, view.line, view.tone);

        if (view.state == SlotState::FailedAtScan && failures == ScanFailures::JudgeAndLog) {
            NameAfterAddressIfUnnamed(slot);
            MarkFailOrNo();
            FinishSlot();
        }

        if (view.state == SlotState::Empty || view.state == SlotState::NotIdentified) {
            list.Judge(n, " ------ ", Tone::Unchanged, true);
        } else {
            list.Judge(n, "", Tone::Unchanged, true);
            list.Selectable(n, slot.errorKind == kNoError);
        }
    }
}

}  // namespace tamro
