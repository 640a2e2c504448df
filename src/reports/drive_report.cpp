#include "reports/drive_report.h"

namespace tamro {

bool Judged(const DriveSlot& s) { return (s.runFlags & (kFlagPass | kFlagFail | kFlagNoJudge)) != 0; }

const char* VerdictName(const DriveSlot& s) {
    if (s.runFlags & kFlagPass) return "PASS";
    if (s.runFlags & kFlagFail) return "FAIL";
    if (s.runFlags & kFlagNoJudge) return "NO Judge";
    return "";
}

const char* ErrorKindName(std::int32_t errorKind) {
    switch (errorKind) {
        case kNoError: return "none";
        case kTransportError: return "transportError";
        case kCheckCondition: return "checkCondition";
        case kLogNotSupported: return "logNotSupported";
        case kLogReadFailed: return "logReadFailed";
        case kNotIdentified: return "notIdentified";
        case kLoggedErrorReproduced: return "loggedErrorReproduced";
        case kSurfaceTestFailed: return "surfaceTestFailed";
        case kGrownDefectsOutOfSpec: return "grownDefectsOutOfSpec";
        case kLogUnreadableAtScan: return "logUnreadableAtScan";
        default: return "unknown";
    }
}

std::string ModelText(const DriveSlot& s) {
    if (s.inquiryData[4] == 0) return {};
    const std::uint8_t* model = s.inquiryData + 8;
    std::size_t length = 0;
    while (length < 23 && model[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(model), length);
}

std::string FirmwareRevision(const DriveSlot& s) {
    if (s.inquiryData[4] == 0) return {};
    return std::string(reinterpret_cast<const char*>(s.inquiryData + (s.vendorClass == kVendorHp ? 28 : 32)), 4);
}

int BoundedCount(std::int32_t count) {
    return count < 0 ? 0 : count > kErrorListCapacity ? kErrorListCapacity : count;
}

ErrorTally TallyErrors(const ErrorRecord* list, std::int32_t count) {
    ErrorTally t;
    for (int i = 0; i < BoundedCount(count); ++i) {
        if ((list[i].senseData[2] & 0x0F) == 1)
            ++t.recovered;
        else
            ++t.errors;
    }
    return t;
}

bool LogEntryInUse(const DriveSlot& s, int e) { return s.smartLogEntries[e][8] != 0; }

RetestOutcome RetestOf(const DriveSlot& s, int e) {
    const RetestResult& r = s.retest[e];
    if (r.sense[0] != 0) return RetestOutcome::Reproduced;
    if (r.flag == 0xFF && (r.status == 0xFF || r.status == 0xFE)) return RetestOutcome::LbaUnknown;
    if (r.flag == 0xFF) return RetestOutcome::Failed;
    return RetestOutcome::NotReproduced;
}

std::uint32_t LogEntryStamp(const DriveSlot& s, int e, int which) {
    const std::uint8_t* p = s.smartLogEntries[e] + (which == 0 ? 0 : 4);
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace tamro
