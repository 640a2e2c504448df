#include "diagnostics/surface_errors.h"

#include <algorithm>
#include <cstring>

namespace tamro::surface {

namespace {

bool IsReadTypeAsc(std::uint8_t asc) { return asc == 0x11 || asc == 0x13 || asc == 0x17 || asc == 0x18; }

const char* CheckConditionMessage(Procedure procedure) {
    switch (procedure) {
        case Procedure::SeqVerify: return "Error: Seq.Verify: Check Condition.";
        case Procedure::RandRead: return "Error: Rand.Read: Check Condition.";
        case Procedure::RandWrite: return "Error: Rand.Write: Check Condition.";
        case Procedure::SeqWrite: return "Error: Seq.Write: Check Condition.";
    }
    return "";
}

constexpr char kRateTooHigh[] = "This error rate is out of spec.";
constexpr char kHardError[] = "Hard error was detected.";

}  // namespace

bool SenseValid(const std::uint8_t* sense) { return (sense[0] & 0x80) != 0; }
std::uint8_t SenseKey(const std::uint8_t* sense) { return sense[2] & 0x0F; }
std::uint32_t SenseInformation(const std::uint8_t* sense) {
    return static_cast<std::uint32_t>(sense[3]) << 24 | static_cast<std::uint32_t>(sense[4]) << 16 |
           static_cast<std::uint32_t>(sense[5]) << 8 | sense[6];
}
std::uint8_t SenseAsc(const std::uint8_t* sense) { return sense[12]; }

// Cut to the field and zero-padded, as strncpy would, without the truncation
// warning some compilers raise for a text exactly one byte short.
void SetText(char (&field)[64], const char* text) {
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text, std::min(std::strlen(text), sizeof field - 1));
}

void AppendRecord(const DriveSlot& slot, std::int32_t& count, ErrorRecord* list) {
    if (count < 0 || count >= kErrorListCapacity) return;
    ErrorRecord& record = list[count];
    std::memcpy(record.senseData, slot.senseData, sizeof record.senseData);
    std::memcpy(record.failedCdb, slot.failedCdb, sizeof record.failedCdb);
    ++count;
}

std::uint32_t BlocksBefore(std::uint32_t errorLba, std::uint32_t lba, std::uint32_t count) {
    if (errorLba <= lba) return 0;
    const std::uint64_t before = std::uint64_t{errorLba} - lba;
    return before < count ? static_cast<std::uint32_t>(before) : count;
}

Verdict Classify(DriveSlot& slot, Procedure procedure, std::uint32_t lba, std::uint32_t count) {
    Verdict v;
    if (slot.errorKind != kCheckCondition) {
        SetText(slot.comment, slot.lastError);
        slot.errorKind = kSurfaceTestFailed;
        v.fatal = true;
        return v;
    }
    const std::uint8_t* sense = slot.senseData;
    const bool write = procedure == Procedure::RandWrite || procedure == Procedure::SeqWrite;
    if (procedure == Procedure::SeqVerify && !SenseValid(sense)) {
        v.errorLba = static_cast<std::uint32_t>(std::uint64_t{lba} + count);
    } else {
        v.errorLba = SenseInformation(sense);
    }
    SetText(slot.comment, CheckConditionMessage(procedure));

    if (!write && IsReadTypeAsc(SenseAsc(sense))) {
        AppendRecord(slot, slot.readErrorCount, slot.readErrors);
    } else {
        AppendRecord(slot, slot.otherErrorCount, slot.otherErrors);
    }

    const bool overOther = slot.otherErrorCount > otherErrorLimit;
    const bool rateExceeded = write ? overOther
                                 : SenseKey(sense) == 3 || slot.readErrorCount > readErrorLimit || overOther;
    if (rateExceeded) {
        SetText(slot.comment, kRateTooHigh);
        slot.errorKind = kSurfaceTestFailed;
        v.fatal = true;
        v.rateExceeded = true;
        return v;
    }
    if (SenseKey(sense) != 1) {
        SetText(slot.comment, kHardError);
        slot.errorKind = kSurfaceTestFailed;
        v.fatal = true;
    }
    return v;
}

void FailWithoutTolerance(DriveSlot& slot, const char* message) {
    if (slot.errorKind == kCheckCondition) {
        SetText(slot.comment, message);
        AppendRecord(slot, slot.otherErrorCount, slot.otherErrors);
    } else {
        SetText(slot.comment, slot.lastError);
    }
    slot.errorKind = kSurfaceTestFailed;
}

}  // namespace tamro::surface
