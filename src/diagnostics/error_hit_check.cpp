#include "diagnostics/error_hit_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "diagnostics/surface_errors.h"
#include "diagnostics/surface_tests.h"
#include "diagnostics/verdict.h"
#include "discovery/drive_table.h"
#include "transport/commands.h"
#include "discovery/engine_observer.h"

namespace tamro {

namespace {


constexpr int kAttempts = 10;
constexpr std::uint16_t kWriteBlocks = 16;
constexpr std::size_t kSenseOffset = 8;  // the entry's two time stamps come first
constexpr std::uint8_t kAscWriteFault = 0x03;
constexpr std::uint8_t kAscFormatCorrupted = 0x31;
constexpr std::uint8_t kKeyHardware = 4;
constexpr std::uint8_t kNotRetested = 0xFF;
constexpr std::uint8_t kNoLba = 0xFF;
constexpr std::uint8_t kLbaPastEnd = 0xFE;

// The Write Special target: the reserved cylinder, sector D0h, 16 sectors of
// 512 bytes.
constexpr std::uint16_t kSpecialCylinder = 0xFFDB;
constexpr std::uint16_t kSpecialSector = 0xD0;
constexpr std::uint8_t kSpecialSectors = 16;
constexpr std::size_t kSpecialBytes = std::size_t{kSpecialSectors} * 512;

struct Check {
    std::uint8_t ha;
    std::uint8_t id;
    DriveSlot& slot;
    TransferArea buffer;
};

void MarkNotRetested(RetestResult& out, std::uint8_t status) {
    out.flag = kNotRetested;
    out.status = status;
}

// The failed command's message and the errorKind it left.
void RecordMessage(const DriveSlot& slot, RetestResult& out) {
    MarkNotRetested(out, static_cast<std::uint8_t>(slot.errorKind));
    std::memcpy(out.message, slot.lastError, sizeof out.message);
    out.message[sizeof out.message - 1] = '\0';
}

// A failed re-test keeps its sense when it ended in CHECK CONDITION.
void RecordFailure(const DriveSlot& slot, RetestResult& out) {
    if (slot.errorKind == kCheckCondition) {
        std::memcpy(out.sense, slot.senseData, sizeof out.sense);
    } else {
        RecordMessage(slot, out);
    }
}

// Each write is followed by Rezero(6); the first failure of either ends the
// attempts.
template <class Write>
void RetestWrites(Check& c, RetestResult& out, Write write) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (write() != 0) {
            RecordFailure(c.slot, out);
            return;
        }
        if (Rezero6(c.ha, c.id) != 0) {
            RecordMessage(c.slot, out);  // also after a CHECK CONDITION
            return;
        }
    }
}

void RetestWriteFault(Check& c, RetestResult& out, std::uint32_t lba, std::uint8_t head) {
    if (writePermitted != 0) {
        // Not past the drive's end: a write of 16 blocks at one of its last
        // 15 LBAs would fail for its length, not for the logged fault.
        const std::uint64_t room = std::uint64_t{c.slot.lastLba} + 1 - lba;
        const auto count = static_cast<std::uint16_t>(std::min<std::uint64_t>(kWriteBlocks, room));
        const std::uint32_t blockBytes = c.slot.blockSize > 0 ? static_cast<std::uint32_t>(c.slot.blockSize) : 0;
        RetestWrites(c, out, [&] { return Write10(c.ha, c.id, lba, blockBytes, count, c.buffer); });
        return;
    }
    // Without write permission only the reserved area is written, which needs
    // factory mode whatever the outcome.
    FactorySet10(c.ha, c.id, 1);
    RetestWrites(c, out, [&] {
        return WriteSpecial(c.ha, c.id, c.buffer.data(), kSpecialCylinder, head, kSpecialSector, kSpecialSectors);
    });
    FactorySet10(c.ha, c.id, 0);
}

void RetestRead(Check& c, RetestResult& out, std::uint32_t lba) {
    const std::uint32_t blockBytes = c.slot.blockSize > 0 ? static_cast<std::uint32_t>(c.slot.blockSize) : 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (Read10(c.ha, c.id, lba, blockBytes, 1, c.buffer) != 0) {
            RecordFailure(c.slot, out);
            return;
        }
    }
}

void RetestEntry(Check& c, const std::uint8_t* entry, RetestResult& out) {
    const std::uint8_t* sense = entry + kSenseOffset;
    if (sense[0] == 0) return;  // an empty entry
    const std::uint32_t lba = surface::SenseInformation(sense);
    const std::uint8_t key = surface::SenseKey(sense);
    const std::uint8_t asc = surface::SenseAsc(sense);
    const std::uint8_t head = sense[43];
    if (asc != kAscFormatCorrupted && !surface::SenseValid(sense)) {
        MarkNotRetested(out, kNoLba);
        return;
    }
    if (lba > c.slot.lastLba) {
        MarkNotRetested(out, kLbaPastEnd);
        return;
    }
    if (key == kKeyHardware && asc == kAscWriteFault) {
        RetestWriteFault(c, out, lba, head);
    } else {
        RetestRead(c, out, lba);
    }
}

}  // namespace

int LogEntryCount(std::int32_t logLayout) {
    switch (logLayout) {
        case 1: return 4;
        case 2:
        case 3:
        case 4: return kLogEntryCapacity;
        default: return 0;  // no layout known, so no entries to trust
    }
}

int ErrorHitCheck(std::uint8_t hostAdapter, std::uint8_t targetId) {
    DriveSlot& slot = CurrentDrive();
    CurrentRunJournal().logRetested = true;
    const int entries = LogEntryCount(slot.logLayout);

    const TestMode mode = CurrentTestMode();
    const int share = static_cast<int>(TestShare(mode, writePermitted != 0) / kShareScale);
    const int start = BarPosition(Bar::Total);
    SetBar(Bar::Test, 0);

    const std::uint32_t blockBytes = slot.blockSize > 0 ? static_cast<std::uint32_t>(slot.blockSize) : 0;
    Check c{hostAdapter, targetId, slot,
            TransferArea(std::max<std::size_t>(std::size_t{blockBytes} * kWriteBlocks, kSpecialBytes))};

    for (int e = 1; e <= entries; ++e) {
        SetBar(Bar::Total, start + share / entries * e);
        SetBar(Bar::Test, kProgressMaximum / entries * e);
        RetestEntry(c, slot.smartLogEntries[e - 1], slot.retest[e - 1]);
    }
    SetBar(Bar::Total, start + share);

    if (slot.errorKind == kNoError) return 0;
    slot.errorKind = kLoggedErrorReproduced;
    return -1;
}

}  // namespace tamro
