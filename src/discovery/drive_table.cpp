#include "discovery/drive_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <type_traits>

#include "transport/aspi.h"

namespace tamro {

static_assert(std::is_trivially_copyable_v<DriveSlot>, "slots are cleared byte by byte");

std::array<DriveSlot, kSlotCount> DriveTable{};
thread_local constinit std::int32_t currentSlot = 0;
std::int32_t driveCount = 0;
std::int32_t drivesBeyondRows = 0;
std::int32_t selectedCount = 0;
std::int32_t writePermitted = 0;
thread_local constinit std::int32_t readErrorLimit = 0;
thread_local constinit std::int32_t otherErrorLimit = 0;

namespace {

DriveSlot spareSlot{};

// A deque keeps every slot where it is while the scan adds more, so a
// reference a worker holds stays good.
std::deque<DriveSlot> slotsBeyondRows;

FailureFields CurrentSlotFields() {
    DriveSlot& s = CurrentDrive();
    return {s.lastError, &s.errorKind, s.senseData, s.failedCdb};
}

// Failed commands report into the current slot from the first command on.
const bool failureFieldsInstalled = (SetFailureFieldsSource(CurrentSlotFields), true);

}  // namespace

void ClearDriveTable() {
    std::memset(static_cast<void*>(DriveTable.data()), 0, sizeof(DriveSlot) * kSlotCount);
    slotsBeyondRows.clear();
}

int SlotsInTable() { return kSlotCount + static_cast<int>(slotsBeyondRows.size()); }

DriveSlot& Slot(int n) {
    if (n < kSlotCount) return DriveTable[static_cast<std::size_t>(n)];
    return slotsBeyondRows[static_cast<std::size_t>(n - kSlotCount)];
}

void GrowTableTo(int n) {
    while (n < kDriveCapacity && SlotsInTable() <= n) slotsBeyondRows.emplace_back(DriveSlot{});
}

void NameAfterAddressIfUnnamed(DriveSlot& slot) {
    const char* serial = slot.serialNumber;
    const char* end = serial + strnlen(serial, sizeof slot.serialNumber);
    const bool printable = std::any_of(serial, end, [](char c) { return c > ' ' && c < 0x7F; });
    if (slot.errorKind == kNotIdentified || !printable)
        std::snprintf(slot.serialNumber, sizeof slot.serialNumber, "HA#%dID%02d", slot.hostAdapter, slot.targetId);
}

DriveSlot& CurrentDrive() {
    (void)failureFieldsInstalled;
    if (currentSlot >= 0 && currentSlot < SlotsInTable()) return Slot(currentSlot);
    return spareSlot;
}

}  // namespace tamro
