// The drive slots and the run settings that the window and the workers
// share. The window's seven rows are the first seven slots; a bus with more
// drives grows the table beyond them, for the command line. Plain memory
// without a lock: the window starts only one activity at a time and that
// activity's thread owns the table meanwhile; only the scan grows it.
#pragma once

#include <array>
#include <cstdint>

#include "transport/commands.h"

namespace tamro {

constexpr int kSlotCount = 7;
// Every drive the one-byte address can name: 16 adapters of 16 targets.
constexpr int kDriveCapacity = 256;
constexpr int kLogEntryCapacity = 90;
constexpr int kErrorListCapacity = 100;

// One failed command of the surface tests: its sense data and its CDB.
struct ErrorRecord {
    std::uint8_t senseData[48];
    std::uint8_t failedCdb[10];
};
static_assert(sizeof(ErrorRecord) == 58);

// The re-test outcome of one entry of the drive's own error log.
struct RetestResult {
    std::uint8_t sense[48];  // sense of the re-test's CHECK CONDITION; byte 0 = 0: none
    std::uint8_t flag;       // FFh: not re-tested, or failed without sense
    std::uint8_t status;     // with flag FFh: FFh no LBA, FEh LBA past the end, else errorKind
    char message[64];        // lastError of the failed re-test command
};

// errorKind values.
enum ErrorKind : std::int32_t {
    kNoError = 0,
    kTransportError = 1,
    kCheckCondition = 2,
    kLogNotSupported = 3,
    kLogReadFailed = 4,
    kNotIdentified = 5,
    kLoggedErrorReproduced = 6,
    kSurfaceTestFailed = 7,
    kGrownDefectsOutOfSpec = 8,
    kLogUnreadableAtScan = 9,
};

// runFlags bits.
enum RunFlag : std::uint32_t {
    kFlagIdentity = 0x0001,
    kFlagPlistValid = 0x0002,
    kFlagGlistValid = 0x0004,
    kFlagTestsFailed = 0x0008,
    kFlagLogUnusable = 0x0010,
    kFlagFail = 0x0020,
    kFlagPass = 0x0040,
    kFlagNoJudge = 0x0080,
    kFlagQuick = 0x1000,
    kFlagStandard = 0x2000,
    kFlagExtended = 0x4000,
};

// vendorClass values.
enum VendorClass : std::int32_t {
    kVendorSun = 1,
    kVendorCompaq = 2,
    kVendorEmc = 3,
    kVendorUnisys = 4,
    kVendorHalcyon = 5,
    kVendorHp = 6,
    kVendorUnsupported = 255,
};

struct DriveSlot {
    char startTime[64];
    char stopTime[64];
    std::uint32_t runFlags;
    std::int32_t hostAdapter;
    std::int32_t targetId;
    std::int32_t blockSize;
    std::uint32_t lastLba;
    std::int32_t errorKind;
    std::int32_t vendorClass;
    std::int32_t logLayout;
    std::int32_t plistCount;
    std::int32_t glistCount;
    std::uint8_t inquiryData[80];
    char serialNumber[24];
    std::uint8_t senseData[48];
    std::uint8_t failedCdb[10];
    std::uint8_t smartLogEntries[kLogEntryCapacity][80];  // entry e, byte k
    RetestResult retest[kLogEntryCapacity];
    char lastError[64];
    char comment[64];
    std::int32_t readErrorCount;
    ErrorRecord readErrors[kErrorListCapacity];
    std::int32_t otherErrorCount;
    ErrorRecord otherErrors[kErrorListCapacity];
    // 64 bits: a drive near 2^32 blocks reads more than 2^32 in Extended mode.
    std::uint64_t blocksRead;
    std::uint64_t blocksWritten;
    std::uint64_t seekCount;
};

// The window's rows; slots from kSlotCount on are reached through Slot().
extern std::array<DriveSlot, kSlotCount> DriveTable;

// Slot n of the table, a row or beyond; its address stays put until the
// next clear. n must be below SlotsInTable().
DriveSlot& Slot(int n);
// The rows and every slot grown beyond them since the last clear.
int SlotsInTable();
// Makes slot n exist (n below kDriveCapacity), zero when new; the scan
// calls it before it probes a drive into the slot.
void GrowTableTo(int n);

// Run settings. The slot at work and its error limits belong to the thread
// that works on it: drives tested at once each have their own.
extern thread_local constinit std::int32_t currentSlot;
extern std::int32_t driveCount;  // 0 to kDriveCapacity; the window shows the first seven
// Disks the last scan found past the window's rows and did not probe.
extern std::int32_t drivesBeyondRows;
extern std::int32_t selectedCount;
extern std::int32_t writePermitted;
extern thread_local constinit std::int32_t readErrorLimit;
extern thread_local constinit std::int32_t otherErrorLimit;
// microcodeImage and microcodeLength live with the command set that sends them.

// Sets every byte of the seven rows to zero and drops the slots beyond them.
void ClearDriveTable();

// A drive that failed its identification, or whose serial number holds no
// printable character, takes a name built from its address, "HA#%dID%02d",
// so that its log cannot replace another drive's.
void NameAfterAddressIfUnnamed(DriveSlot& slot);

// The slot that currentSlot chooses. currentSlot may stand past the last
// slot after the slot display's walk; commands issued then land in a spare
// record instead of past the table.
DriveSlot& CurrentDrive();

}  // namespace tamro
