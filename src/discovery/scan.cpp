#include "discovery/scan.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "discovery/drive_table.h"
#include "transport/aspi.h"
#include "discovery/engine_observer.h"
#include "transport/commands.h"

namespace tamro {

namespace {

void ShowError(const char* text) { Observer().ScanFailure(text); }

constexpr char kInitialComment[] = "Initial status for comment.";
constexpr char kNotHalcyon[] = "This drive is not HALCYON disk series.";

// A drive is addressed through one byte, adapter in the high nibble and
// target in the low one: nothing beyond 15 can be reached.
constexpr int kAddressLimit = 16;

bool Equals(const std::uint8_t* data, const char* text) {
    return std::memcmp(data, text, std::strlen(text)) == 0;
}

void SetText(char (&field)[64], const char* text) {
    std::strncpy(field, text, sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

void CountSlot() {
    ++currentSlot;
    ++driveCount;
}

void ProbeTarget(std::uint8_t ha, std::uint8_t id) {
    DriveSlot& slot = CurrentDrive();
    slot.hostAdapter = ha;
    slot.targetId = id;
    SetText(slot.lastError, kInitialComment);
    SetText(slot.comment, kInitialComment);

    // A target that cannot even answer TEST UNIT READY is dropped and its
    // slot reused by the next drive.
    if (TestUnitReady(ha, id) == -1) return;

    std::array<std::uint8_t, 80> inquiry{};
    if (Inquiry6(ha, id, inquiry.data()) != 0) {
        slot.errorKind = kNotIdentified;
        CountSlot();
        return;
    }
    std::memcpy(slot.inquiryData, inquiry.data(), inquiry.size());

    if (IdentifyVendor(ha, id, inquiry.data()) != 0) {
        SetText(slot.lastError, kNotHalcyon);
        if (slot.vendorClass != kVendorHalcyon) {
            slot.errorKind = kNotIdentified;
            CountSlot();
            return;
        }
        slot.errorKind = kLogUnreadableAtScan;
    }

    std::array<std::uint8_t, 12> serial{};
    FactorySet10(ha, id, 1);
    if (GetSer10(ha, id, serial.data()) != 0) {
        FactorySet10(ha, id, 0);
        slot.errorKind = kNotIdentified;
        CountSlot();
        return;
    }
    FactorySet10(ha, id, 0);
    std::memcpy(slot.serialNumber, serial.data() + 4, 8);
    slot.serialNumber[8] = '\0';

    if (StartStopUnit(ha, id, 1) != 0) {
        CountSlot();
        return;
    }
    std::array<std::uint8_t, 8> capacity{};
    if (ReadCapacity10(ha, id, capacity.data()) != 0) {
        CountSlot();
        return;
    }
    // All four bytes of the block length: one of 64 KiB or more must not pass
    // for the length its low half reads as (the run refuses what it cannot test).
    const std::uint32_t blockLength = BigEndian32(&capacity[4]);
    slot.blockSize = static_cast<std::int32_t>(std::min<std::uint32_t>(blockLength, INT32_MAX));
    slot.lastLba = BigEndian32(&capacity[0]);
    CountSlot();
}

}  // namespace

int VendorClassOf(const std::uint8_t* inquiry) {
    if (Equals(inquiry + 25, "SUN")) return kVendorSun;
    if (Equals(inquiry + 8, "COMPAQ")) return kVendorCompaq;
    if (Equals(inquiry + 67, "EMC")) return kVendorEmc;
    if (Equals(inquiry + 8, "UNISYS")) return kVendorUnisys;
    if (Equals(inquiry + 8, "HALCYON")) return kVendorHalcyon;
    if (Equals(inquiry + 8, "HP")) return kVendorHp;
    return kVendorUnsupported;
}

int LogLayoutOf(std::uint16_t generation) {
    if (generation < 4096) return 1;
    if (generation < 8192) return 2;
    if (generation < 10240) return 3;
    return 4;
}

int IdentifyVendor(std::uint8_t ha, std::uint8_t id, const std::uint8_t* inquiry) {
    DriveSlot& slot = CurrentDrive();
    slot.vendorClass = VendorClassOf(inquiry);
    if (slot.vendorClass == kVendorUnsupported) {
        slot.logLayout = 255;
        return -1;
    }
    StartStopUnit(ha, id, 1);
    std::vector<std::uint8_t> log(32768);
    FactorySet10(ha, id, 1);
    const int read = GetLog10(ha, id, log.data());
    FactorySet10(ha, id, 0);
    if (read != 0) {
        slot.logLayout = 255;
        return -1;
    }
    slot.logLayout = LogLayoutOf(static_cast<std::uint16_t>(log[6] << 8 | log[7]));
    return 0;
}

int ScanBuses(ScanReach reach) {
    ClearDriveTable();
    currentSlot = 0;
    driveCount = 0;
    drivesBeyondRows = 0;
    selectedCount = 0;
    const int reachable = reach == ScanReach::WindowRows ? kSlotCount : kDriveCapacity;

    if (const char* failure = BindAspi()) {
        ShowError(failure);
        return -1;
    }
    const int adapters = AspiInit();
    if (adapters == -1) {
        ShowError(kAspiInitError);
        return -1;
    }
    for (int a = 0; a < adapters && a < kAddressLimit; ++a) {
        std::uint8_t info[48] = {};
        if (HaInquiry(static_cast<std::uint8_t>(a), info) == -1) {
            ShowError(kHaInquiryError);
            return -1;
        }
        int targets = info[32 + 3];  // byte 3 of HA_Unique
        if (targets == 0) targets = 8;
        for (int t = 0; t < targets && t < kAddressLimit; ++t) {
            const auto ha = static_cast<std::uint8_t>(a);
            const auto id = static_cast<std::uint8_t>(t);
            if (GetDevType(ha, id) != 0) continue;
            // Past the window's rows a disk is only counted: no command reaches it.
            if (driveCount >= reachable) {
                ++drivesBeyondRows;
                continue;
            }
            GrowTableTo(currentSlot);
            ProbeTarget(ha, id);
            // Every target after this would seem empty.
            if (RequestBlocksExhausted()) {
                ShowError(kRequestBlocksExhaustedText);
                return -1;
            }
        }
    }
    return 0;
}

}  // namespace tamro

namespace tamro {

void Startthread::Start() {
    std::thread([] {
        try {
            Execute();
        } catch (const CommandsStopped&) {
            // The program is ending: the scan shows nothing more.
        }
    }).detach();
}

void Startthread::Execute() {
    ScanBuses();
    Observer().ScanEnded(ScanBuses() != -1);
}

}  // namespace tamro
