#include "diagnostics/run_driver.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "diagnostics/error_hit_check.h"
#include "diagnostics/run_random.h"
#include "diagnostics/surface_tests.h"
#include "diagnostics/verdict.h"
#include "diagnostics/worker_end.h"
#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"
#include "reports/drive_log.h"
#include "transport/commands.h"
#include "transport/request_block.h"

namespace tamro {

namespace {

struct LogLayout {
    int entries;
    int offset;
    int distance;
};

// Where the drive's error-log entries lie in the GetLog(10) data, by log
// layout generation 1 to 4.
constexpr LogLayout kLogLayouts[4] = {{4, 344, 56}, {90, 344, 56}, {90, 496, 56}, {90, 692, 72}};
constexpr int kStoredEntryBytes = 56;

void Status(const char* text, bool paint = true) { ShowStatus(text, Tone::Unchanged, paint); }

void SetText(char (&field)[64], const char* text) {
    std::snprintf(field, sizeof field, "%s", text);
}

// One mode page read, edited and written back; the edit keeps byte 6 (the
// page's byte 2) under `keep` and sets `set`.
int EditModePage(std::uint8_t ha, std::uint8_t id, std::uint8_t page, std::uint32_t length, std::uint8_t keep,
                 std::uint8_t set, const char* senseText, bool paintSense) {
    std::array<std::uint8_t, 24> data{};
    Status(senseText, paintSense);
    if (ModeSense6(ha, id, data.data(), page, length) != 0) return -1;
    data[0] = 0;      // the mode data length is reserved in a Mode Select
    data[4] &= 0x7F;  // and so is the page's PS bit
    data[6] = static_cast<std::uint8_t>((data[6] & keep) | set);
    Status("** Mode Select **");
    return ModeSelect6(ha, id, data.data(), length);
}

// Strict error reporting for the tests: every recovered error reported,
// nothing reallocated by the drive itself, caches off.
int SetUpErrorRecovery(std::uint8_t ha, std::uint8_t id) {
    if (EditModePage(ha, id, 0x01, 16, 0x2F, 0x04, "**Mode Sense**", false) != 0) return -1;
    if (EditModePage(ha, id, 0x07, 16, 0x2F, 0x04, "** Mode Sense **", true) != 0) return -1;
    FactorySet10(ha, id, 1);
    const int caching = EditModePage(ha, id, 0x08, 24, 0xFB, 0x01, "** Mode Sense **", true);
    FactorySet10(ha, id, 0);
    return caching;
}

std::int32_t DefectCount(const std::uint8_t* header) { return (header[2] * 256 + header[3]) / 8; }

enum class Ending { F1, F2, F3, P };

// Closes the slot's turn; false when its log could not be created.
bool EndSlot(Ending ending, std::uint8_t ha, std::uint8_t id) {
    switch (ending) {
        case Ending::F1: MarkFailOrNo(); break;
        case Ending::F2:
            IssueStopUnit(ha, id);
            MarkFailOrNo();
            break;
        case Ending::F3:
            MarkFailOrNo();
            IssueStopUnit(ha, id);
            break;
        case Ending::P:
            IssueStopUnit(ha, id);
            MarkPass();
            break;
    }
    return FinishSlot() == 0;
}

// A block length that the transfers cannot carry would leave every read and
// write empty and let the drive pass untested: it fails before any of them.
bool UntestableBlockLength(DriveSlot& slot) {
    if (BlockLengthTestable(slot.blockSize, CurrentTestMode(), writePermitted != 0)) return false;
    std::snprintf(slot.comment, sizeof slot.comment, "Block length of %d bytes cannot be tested.", slot.blockSize);
    slot.errorKind = kSurfaceTestFailed;
    return true;
}

bool GrownListOutOfSpec(const DriveSlot& slot) { return slot.glistCount >= 2 && slot.vendorClass == kVendorSun; }

// The sequence of one ticked drive, from its defect lists to its verdict.
Ending TestDrive(DriveSlot& slot, std::uint8_t ha, std::uint8_t id) {
    std::array<std::uint8_t, 4> header{};
    Status("** ReadDefectData(PLIST) **");
    if (ReadDefectData10(ha, id, 0, header.data()) != 0) return Ending::F1;
    slot.runFlags |= kFlagPlistValid;
    slot.plistCount = DefectCount(header.data());

    header.fill(0);
    Status("** ReadDefectData(GLIST) **");
    if (ReadDefectData10(ha, id, 1, header.data()) != 0) return Ending::F1;
    slot.runFlags |= kFlagGlistValid;
    slot.glistCount = DefectCount(header.data());

    Status("** SA Area Read **");
    const bool logUsable = slot.errorKind != kLogUnreadableAtScan && SaAreaRead(ha, id) == 0;

    if (logUsable) {
        if (SetUpErrorRecovery(ha, id) != 0) return Ending::F2;
        if (UntestableBlockLength(slot)) return Ending::F2;
        Status("** Error Hit Check from SMART LOGGING **");
        if (ErrorHitCheck(ha, id) != 0 || RunSurfaceTests(ha, id) != 0) {
            slot.runFlags |= kFlagTestsFailed;
            return Ending::F2;
        }
        if (GrownListOutOfSpec(slot)) {
            SetText(slot.comment, "This glist number is out of spec.");
            slot.errorKind = kGrownDefectsOutOfSpec;
            return Ending::F2;
        }
        SetText(slot.comment, "This drive seems to have no problem.");
        return Ending::P;
    }

    if (slot.errorKind != kLogNotSupported && slot.errorKind != kLogUnreadableAtScan) return Ending::F2;
    slot.runFlags |= kFlagLogUnusable;
    if (UntestableBlockLength(slot)) return Ending::F2;
    const int tests = RunSurfaceTests(ha, id);
    if (otherErrorLimit == 99) slot.errorKind = kLogUnreadableAtScan;
    if (tests != 0) {
        if (slot.errorKind == kLogUnreadableAtScan) SetText(slot.comment, "There were excessive errors.");
        return Ending::F2;
    }
    if (GrownListOutOfSpec(slot)) {
        SetText(slot.comment, "This glist number is out of spec.");
        slot.errorKind = kGrownDefectsOutOfSpec;
        return Ending::F3;
    }
    if (slot.errorKind == kLogUnreadableAtScan) {
        SetText(slot.comment, "This drive can not be judged due to other than Corvid series.");
        return Ending::F3;
    }
    SetText(slot.comment, "This drive seems to have no problem.");
    return Ending::P;
}

}  // namespace

int SaAreaRead(std::uint8_t ha, std::uint8_t id) {
    DriveSlot& slot = CurrentDrive();
    if (slot.logLayout < 1 || slot.logLayout > 4) {
        // No layout, no entries to find: the log counts as not supported.
        slot.errorKind = kLogNotSupported;
        return -1;
    }
    const LogLayout& layout = kLogLayouts[slot.logLayout - 1];
    std::vector<std::uint8_t> log(32768);
    std::array<std::uint8_t, 30> heads{};

    FactorySet10(ha, id, 1);
    if (GetHsp10(ha, id, heads.data()) != 0 || GetLog10(ha, id, log.data()) != 0) {
        if (slot.errorKind == kCheckCondition) slot.errorKind = kLogReadFailed;
        FactorySet10(ha, id, 0);
        return -1;
    }
    FactorySet10(ha, id, 0);

    for (int i = 0; i < layout.entries; ++i) {
        std::memcpy(slot.smartLogEntries[i], log.data() + layout.offset + i * layout.distance, kStoredEntryBytes);
    }
    if (log[static_cast<std::size_t>(layout.offset - 4)] == 'S') return 0;
    slot.errorKind = kLogNotSupported;
    return -1;
}

int IssueStopUnit(std::uint8_t ha, std::uint8_t id) {
    Status("** Issued STOP UNIT COMMAND. **");
    // The verdict has been decided by now: a drive that will not stop must
    // not change what the slot says about it.
    DriveSlot& slot = CurrentDrive();
    const std::int32_t errorKind = slot.errorKind;
    char lastError[64];
    std::uint8_t sense[48], cdb[10];
    std::memcpy(lastError, slot.lastError, sizeof lastError);
    std::memcpy(sense, slot.senseData, sizeof sense);
    std::memcpy(cdb, slot.failedCdb, sizeof cdb);

    FactorySet10(ha, id, 1);
    StartStopUnit(ha, id, 0);
    FactorySet10(ha, id, 0);

    slot.errorKind = errorKind;
    std::memcpy(slot.lastError, lastError, sizeof lastError);
    std::memcpy(slot.senseData, sense, sizeof sense);
    std::memcpy(slot.failedCdb, cdb, sizeof cdb);
    return 0;
}

namespace {

enum class SlotEnd { Done, Stopped };

// One chosen drive, from "Run." to its log; `begun` drives came before it.
SlotEnd RunSlot(int s, int begun) {
    Observer().Judge(s, "Run.", Tone::Navy, true);
    // A box ticked after the count (the boxes are locked during a run) must
    // not divide by zero.
    const int share = kProgressMaximum / (selectedCount > 0 ? selectedCount : 1);
    PlaceBar(Bar::Total, share * begun);

    DriveSlot& slot = Slot(s);
    StampStartTime(slot);
    slot.runFlags |= kFlagIdentity;

    const auto ha = static_cast<std::uint8_t>(slot.hostAdapter & 0x0F);
    const auto id = static_cast<std::uint8_t>(slot.targetId & 0x0F);
    Ending ending = Ending::F1;
    NameAfterAddressIfUnnamed(slot);
    const std::uint64_t sentBefore = RequestsSent();
    if (slot.errorKind == kNoError || slot.errorKind == kLogUnreadableAtScan) ending = TestDrive(slot, ha, id);
    // A drive that no command reached is not judged by the library's fault.
    if (RequestBlocksExhausted() && RequestsSent() == sentBefore) {
        Observer().Judge(s, "", Tone::Unchanged, false);
        StopForKeptRequests();
        return SlotEnd::Stopped;
    }
    if (!EndSlot(ending, ha, id)) return SlotEnd::Stopped;
    if (RequestBlocksExhausted()) {
        StopForKeptRequests();
        return SlotEnd::Stopped;
    }
    return SlotEnd::Done;
}

int FilledSlots() { return std::min<int>(driveCount, SlotsInTable()); }

}  // namespace

Runthread::Outcome Runthread::Execute() try {
    const WorkChoices& choices = Choices();
    ResetRunRandom();

    const int slots = FilledSlots();
    selectedCount = 0;
    for (int s = 0; s < slots; ++s)
        if (choices.Chosen(s)) ++selectedCount;

    int begun = 0;
    for (int s = 0; s < slots; ++s) {
        currentSlot = s;
        SetBar(Bar::Test, 0);
        if (!choices.Chosen(s)) continue;
        if (RunSlot(s, begun++) == SlotEnd::Stopped) return Outcome::Stopped;
    }
    ShowAnalysisFinished(Work::Run);
    return Outcome::Finished;
} catch (const CommandsStopped&) {
    return Outcome::Interrupted;
}

Runthread::Outcome Runthread::ExecuteInParallel(int jobs) {
    const WorkChoices& choices = Choices();
    std::vector<int> chosen;
    for (int s = 0; s < FilledSlots(); ++s)
        if (choices.Chosen(s)) chosen.push_back(s);
    selectedCount = static_cast<std::int32_t>(chosen.size());

    std::atomic<std::size_t> next{0};
    std::atomic<bool> stopped{false}, interrupted{false};
    auto work = [&] {
        LaneLease lane;
        if (!lane) {
            logparts::ShowAlarm("A completion event for another drive cannot be created.");
            stopped = true;
            return;
        }
        try {
            while (!stopped) {
                const std::size_t k = next.fetch_add(1);
                if (k >= chosen.size()) return;
                currentSlot = chosen[k];
                ResetRunRandom();
                SetBar(Bar::Test, 0);
                if (RunSlot(chosen[k], static_cast<int>(k)) == SlotEnd::Stopped) stopped = true;
            }
        } catch (const CommandsStopped&) {
            // The others end at their next command, or take no next drive.
            interrupted = true;
            stopped = true;
        }
    };
    const std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), chosen.size());
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < workers; ++w) threads.emplace_back(work);
    for (std::thread& t : threads) t.join();
    if (interrupted) return Outcome::Interrupted;
    if (stopped) return Outcome::Stopped;
    currentSlot = -1;
    ShowAnalysisFinished(Work::Run);
    return Outcome::Finished;
}

void Runthread::Start() {
    std::thread([] {
        if (Execute() != Outcome::Finished) ParkWorker();
    }).detach();
}

}  // namespace tamro
