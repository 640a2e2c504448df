#include "diagnostics/surface_tests.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "diagnostics/run_random.h"
#include "diagnostics/surface_errors.h"
#include "diagnostics/verdict.h"
#include "discovery/drive_table.h"
#include "transport/commands.h"
#include "discovery/engine_observer.h"

namespace tamro {

namespace {

using surface::Procedure;
using surface::Verdict;

// Progress shares are kept multiplied by this, so that the small per-command
// steps of the long procedures do not vanish in the integer divisions.
constexpr std::uint64_t kFixed = kShareScale;
constexpr std::uint64_t kTestBarFixed = 10000000;  // TBar's 1000 in fixed point

constexpr std::uint32_t kDataBufferBytes = 262144;
constexpr std::uint32_t kVerifyChunk = 61440;
constexpr std::uint16_t kRandomBlocks = 16;
constexpr std::uint16_t kSequentialWriteBlocks = 128;
constexpr std::uint32_t kHundredMegabytes = 200000;  // blocks
constexpr std::uint32_t kRandomSeeks = 45000;
constexpr int kStartStopCycles = 5;

constexpr char kCycleLabel[] = "** START/STOP **  %02dcycle               ";
constexpr char kVerifyLabel[] = "** Sequential Verify **  LBA=%8lX    ";
constexpr char kRandomReadLabel[] = "** Random Seek Read **  LBA=%8lX    ";
constexpr char kRandomWriteLabel[] = "** Random Seek Write **  LBA=%8lX    ";
constexpr char kRandomSeekLabel[] = "** Random Seek **  LBA=%8lX    ";
constexpr char kOuterLabel[] = "** Write 100MB of outer side **  LBA=%8lX    ";
constexpr char kInnerLabel[] = "** Write 100MB of inner side **  LBA=%8lX    ";

// One drive's surface tests.
struct Run {
    std::uint8_t ha;
    std::uint8_t id;
    DriveSlot& slot;
    std::uint64_t share;  // one procedure's part of PBar, times kFixed
    int start;            // PBar where the current procedure began
    TransferArea buffer;  // lent to the library as it is
};

// The status line, painted before the command it announces is sent.
template <class Value>
void Announce(const char* format, Value value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    ShowStatus(text);
}

void AnnounceLba(const char* format, std::uint64_t lba) { Announce(format, static_cast<unsigned long>(lba)); }

int ToPosition(std::uint64_t value) { return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX)); }

void SetTotal(const Run& r, std::uint64_t advance) { SetBar(Bar::Total, ToPosition(r.start + advance)); }
void SetTest(std::uint64_t position) { SetBar(Bar::Test, ToPosition(position)); }

// p of `steps` done: PBar and TBar as the procedures compute them, every
// division an integer one in this order.
void ShowStep(const Run& r, std::uint64_t steps, std::uint64_t p) {
    SetTotal(r, r.share / steps * p / kFixed);
    SetTest(kTestBarFixed / steps * p / kFixed);
}

void CompleteProcedure(Run& r) {
    SetTotal(r, r.share / kFixed);
    r.start = BarPosition(Bar::Total);
}

// Runs one procedure and notes in the drive's journal what it sent and the
// error records it added, for the drive's record.
template <class Procedure>
int Noted(Run& r, const char* name, Procedure procedure) {
    const DriveSlot& s = r.slot;
    ProcedureOutcome o{name};
    const std::uint64_t read = s.blocksRead, written = s.blocksWritten, seeks = s.seekCount;
    const int reads = BoundedCount(s.readErrorCount), others = BoundedCount(s.otherErrorCount);
    const int result = procedure();
    o.completed = result == 0;
    o.blocksRead = s.blocksRead - read;
    o.blocksWritten = s.blocksWritten - written;
    o.seeks = s.seekCount - seeks;
    o.readRecords = BoundedCount(s.readErrorCount) - reads;
    o.otherRecords = BoundedCount(s.otherErrorCount) - others;
    CurrentRunJournal().procedures.push_back(std::move(o));
    return result;
}

std::uint32_t BlockBytes(const DriveSlot& slot) {
    return slot.blockSize > 0 ? static_cast<std::uint32_t>(slot.blockSize) : 0;
}

struct Target {
    std::uint32_t lba;
    std::uint16_t count;
};

// A random start for 16 blocks, pulled back so the transfer ends at the last
// LBA at most; a drive of fewer than 16 blocks is read whole from LBA 0.
Target ClampedRandomTarget(std::uint32_t lastLba) {
    std::uint32_t r = DrawRandomLba(lastLba);
    if (std::uint64_t{r} + kRandomBlocks > lastLba) r = lastLba >= kRandomBlocks - 1u ? lastLba - (kRandomBlocks - 1u) : 0;
    const std::uint64_t room = std::uint64_t{lastLba} + 1 - r;
    return {r, static_cast<std::uint16_t>(std::min<std::uint64_t>(kRandomBlocks, room))};
}

int StartStopCycles(Run& r) {
    SetTest(0);
    int testBar = 0;
    for (int c = 1; c <= kStartStopCycles; ++c) {
        FactorySet10(r.ha, r.id, 1);
        SetTotal(r, r.share / kStartStopCycles * static_cast<std::uint64_t>(c) / kFixed);
        Announce(kCycleLabel, c);
        testBar += 1000 / kStartStopCycles / 2;
        SetTest(static_cast<std::uint64_t>(testBar));
        const char* failure = nullptr;
        if (StartStopUnit(r.ha, r.id, 0) != 0) {
            failure = "Error: Stop Unit: Check Condition.";
        } else {
            testBar += 1000 / kStartStopCycles / 2;
            SetTest(static_cast<std::uint64_t>(testBar));
            if (StartStopUnit(r.ha, r.id, 1) != 0) failure = "Error: Start Unit: Check Condition.";
        }
        if (failure != nullptr) {
            surface::FailWithoutTolerance(r.slot, failure);
            FactorySet10(r.ha, r.id, 0);
            r.slot.errorKind = kSurfaceTestFailed;  // whatever the closing command left
            return -1;
        }
        FactorySet10(r.ha, r.id, 0);
    }
    return 0;
}

int SequentialVerify(Run& r) {
    DriveSlot& slot = r.slot;
    const std::uint32_t lastLba = slot.lastLba;
    SetTest(0);
    std::uint32_t n = std::min(lastLba, kVerifyChunk);
    const std::uint64_t steps = lastLba / n;  // with the full chunk, as the bars were laid out
    std::uint64_t lba = 0;
    for (std::uint64_t p = 1; lba < std::uint64_t{lastLba} + 1; ++p) {
        ShowStep(r, steps, p);
        if (lba + n > lastLba) n = static_cast<std::uint32_t>(lastLba + 1 - lba);
        AnnounceLba(kVerifyLabel, lba);
        std::uint64_t next = lba + n;
        const auto at = static_cast<std::uint32_t>(lba);
        if (Verify10(r.ha, r.id, at, static_cast<std::uint16_t>(n)) != 0) {
            const Verdict v = surface::Classify(slot, Procedure::SeqVerify, at, n);
            if (v.rateExceeded) slot.blocksRead = std::uint64_t{at} + surface::BlocksBefore(v.errorLba, at, n);
            if (v.fatal) return -1;
            // The drive stopped at the recovered error: go on right after it,
            // so the rest of the chunk is verified too.
            const std::uint8_t* sense = slot.senseData;
            if (surface::SenseValid(sense) && v.errorLba >= at && v.errorLba < next) next = std::uint64_t{v.errorLba} + 1;
        }
        slot.blocksRead = next;
        lba = next;
    }
    slot.blocksRead = std::uint64_t{lastLba} + 1;
    return 0;
}

int RandomSeekRead(Run& r, std::uint32_t iterations) {
    DriveSlot& slot = r.slot;
    SetTest(0);
    for (std::uint32_t i = 1; i <= iterations; ++i) {
        ShowStep(r, iterations, i);
        const Target t = ClampedRandomTarget(slot.lastLba);
        AnnounceLba(kRandomReadLabel, t.lba);
        if (Read10(r.ha, r.id, t.lba, BlockBytes(slot), t.count, r.buffer) != 0) {
            const Verdict v = surface::Classify(slot, Procedure::RandRead, t.lba, t.count);
            if (v.rateExceeded) slot.blocksRead += surface::BlocksBefore(v.errorLba, t.lba, t.count);
            if (v.fatal) return -1;
        }
        slot.blocksRead += t.count;
        slot.seekCount += 1;
    }
    return 0;
}

int RandomSeekWrite(Run& r, std::uint32_t iterations) {
    DriveSlot& slot = r.slot;
    SetTest(0);
    for (std::uint32_t i = 1; i <= iterations; ++i) {
        ShowStep(r, iterations, i);
        const Target t = ClampedRandomTarget(slot.lastLba);
        AnnounceLba(kRandomWriteLabel, t.lba);
        if (Write10(r.ha, r.id, t.lba, BlockBytes(slot), t.count, r.buffer) != 0) {
            const Verdict v = surface::Classify(slot, Procedure::RandWrite, t.lba, t.count);
            if (v.rateExceeded) slot.blocksWritten += surface::BlocksBefore(v.errorLba, t.lba, t.count);
            if (v.fatal) return -1;
        }
        slot.blocksWritten += t.count;
        slot.seekCount += 1;
    }
    return 0;
}

int RandomSeek(Run& r) {
    DriveSlot& slot = r.slot;
    SetTest(0);
    for (std::uint32_t i = 1; i <= kRandomSeeks; ++i) {
        SetTotal(r, r.share / kRandomSeeks * i / kFixed);
        SetTest(std::uint64_t{i} * 222 / kFixed);
        const std::uint32_t lba = DrawRandomLba(slot.lastLba);
        AnnounceLba(kRandomSeekLabel, lba);
        if (Seek10(r.ha, r.id, lba) != 0) {
            surface::FailWithoutTolerance(slot, "Error: Rand.Seek: Check Condition.");
            return -1;
        }
        slot.seekCount += 1;
    }
    return 0;
}

// The first (outer) or the last (inner) 200000 blocks, in writes of 128.
int WriteHundredMegabytes(Run& r, bool inner) {
    DriveSlot& slot = r.slot;
    const std::uint32_t lastLba = slot.lastLba;
    SetTest(0);
    const std::uint32_t m = std::min(kHundredMegabytes, lastLba);
    // A drive of fewer than 128 blocks is written in one step, not divided by 0.
    const std::uint64_t steps = std::max<std::uint64_t>(m / kSequentialWriteBlocks, 1);
    const std::uint64_t last = inner ? lastLba : m;       // the last chunk ends here
    const std::uint64_t end = inner ? last + 1 : last;    // chunks start below this
    std::uint64_t lba = inner ? lastLba - m : 0;
    std::uint32_t n = kSequentialWriteBlocks;
    for (std::uint64_t p = 1; lba < end; ++p) {
        ShowStep(r, steps, p);
        if (lba + n > last) n = static_cast<std::uint32_t>(last + 1 - lba);
        AnnounceLba(inner ? kInnerLabel : kOuterLabel, lba);
        const auto at = static_cast<std::uint32_t>(lba);
        if (Write10(r.ha, r.id, at, BlockBytes(slot), static_cast<std::uint16_t>(n), r.buffer) != 0) {
            const Verdict v = surface::Classify(slot, Procedure::SeqWrite, at, n);
            if (v.rateExceeded) slot.blocksWritten += surface::BlocksBefore(v.errorLba, at, n);
            if (v.fatal) return -1;
        }
        slot.blocksWritten += n;
        slot.seekCount += 1;
        lba += n;
    }
    return 0;
}

}  // namespace

TestMode CurrentTestMode() { return Choices().Mode(); }

int ShareDivisor(TestMode mode, bool writes) {
    switch (mode) {
        case TestMode::Extended: return writes ? 8 : 5;
        case TestMode::Standard: return writes ? 4 : 3;
        case TestMode::Quick: return 1;
    }
    return 1;
}

std::uint32_t TestShare(TestMode mode, bool writes) {
    const int perDrive = kProgressMaximum / std::max(selectedCount, 1);
    return static_cast<std::uint32_t>(perDrive / ShareDivisor(mode, writes)) * kShareScale;
}

std::int32_t ReadErrorLimitFor(std::uint32_t lastLba, std::int32_t previous) {
    struct Step {
        std::uint32_t above;
        std::int32_t limit;
    };
    static constexpr Step kSteps[] = {{0, 4},           {0x01000000, 7},  {0x02000000, 14},
                                      {0x03000000, 21}, {0x04000000, 28}, {0x08000000, 56}};
    std::int32_t limit = previous;
    for (const Step& s : kSteps)
        if (lastLba > s.above) limit = s.limit;
    return limit;
}

bool BlockLengthTestable(std::int32_t blockSize, TestMode mode, bool writes) {
    const std::uint64_t blocks = mode == TestMode::Extended && writes ? kSequentialWriteBlocks : kRandomBlocks;
    return blockSize > 0 && static_cast<std::uint64_t>(blockSize) * blocks <= kTransferCapacity;
}

std::size_t SurfaceBufferBytes(std::int32_t blockSize, bool largeTransfers) {
    const std::uint64_t block = blockSize > 0 ? static_cast<std::uint64_t>(blockSize) : 0;
    const std::uint64_t largest = block * (largeTransfers ? kSequentialWriteBlocks : kRandomBlocks);
    return static_cast<std::size_t>(std::max<std::uint64_t>(kDataBufferBytes, largest));
}

int RunSequentialVerify(std::uint8_t hostAdapter, std::uint8_t targetId) {
    DriveSlot& slot = CurrentDrive();
    if (slot.lastLba == 0) return -1;
    Run r{hostAdapter, targetId, slot, TestShare(TestMode::Extended, false), BarPosition(Bar::Total), TransferArea(0)};
    return SequentialVerify(r);
}

int RunSurfaceTests(std::uint8_t hostAdapter, std::uint8_t targetId) {
    DriveSlot& slot = CurrentDrive();
    otherErrorLimit = 2;
    readErrorLimit = ReadErrorLimitFor(slot.lastLba, readErrorLimit);
    if (slot.errorKind == kLogUnreadableAtScan) {
        readErrorLimit = 99;
        otherErrorLimit = 99;
    }

    const TestMode mode = CurrentTestMode();
    switch (mode) {
        case TestMode::Extended: slot.runFlags |= kFlagExtended; break;
        case TestMode::Standard: slot.runFlags |= kFlagStandard; break;
        case TestMode::Quick: slot.runFlags |= kFlagQuick; return 0;
    }
    // Every procedure divides by the drive's size; a one-block drive has
    // nothing to test and is not sent anything.
    if (slot.lastLba == 0) {
        surface::SetText(slot.comment, kDriveTooSmall);
        slot.errorKind = kSurfaceTestFailed;
        return -1;
    }

    const bool writes = writePermitted != 0;
    const bool extended = mode == TestMode::Extended;
    Run r{hostAdapter, targetId, slot, TestShare(mode, writes),
          BarPosition(Bar::Total),
          TransferArea(SurfaceBufferBytes(slot.blockSize, extended && writes))};

    if (extended) {
        if (Noted(r, "START/STOP", [&] { return StartStopCycles(r); }) != 0) return -1;
        CompleteProcedure(r);
        if (Noted(r, "Sequential Verify", [&] { return SequentialVerify(r); }) != 0) return -1;
        CompleteProcedure(r);
    }
    const std::uint32_t randomIterations = writes ? 20000 : 40000;
    if (Noted(r, "Random Seek Read", [&] { return RandomSeekRead(r, randomIterations); }) != 0) return -1;
    CompleteProcedure(r);
    if (writes) {
        if (Noted(r, "Random Seek Write", [&] { return RandomSeekWrite(r, randomIterations); }) != 0) return -1;
        CompleteProcedure(r);
    }
    if (Noted(r, "Random Seek", [&] { return RandomSeek(r); }) != 0) return -1;
    CompleteProcedure(r);
    if (extended && writes) {
        if (Noted(r, "Write 100MB of outer side", [&] { return WriteHundredMegabytes(r, false); }) != 0) return -1;
        CompleteProcedure(r);
        if (Noted(r, "Write 100MB of inner side", [&] { return WriteHundredMegabytes(r, true); }) != 0) return -1;
        CompleteProcedure(r);
    }
    return 0;
}

}  // namespace tamro
