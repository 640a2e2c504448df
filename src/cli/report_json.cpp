// The results as JSON: one document of one shape for every command, each
// drive rendered from its record. Field names are stable; a value that is
// not known is null, never "".
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/results.h"
#include "platform/time_text.h"
#include "reports/drive_log.h"

#ifndef TAMRO_VERSION
#define TAMRO_VERSION "0"
#endif

namespace tamro::cli {

namespace {

using Json = nlohmann::ordered_json;

// Bumped when a field changes its meaning or goes; new fields keep it.
constexpr int kFormatVersion = 1;

// Drive texts are fixed fields: cut at the first NUL, without trailing
// blanks, and null when nothing is left.
Json TextOrNull(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return nullptr;
    return Printable(text);
}

template <std::size_t N>
Json TextOrNull(const char (&field)[N]) {
    return TextOrNull(std::string_view(field, strnlen(field, N)));
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

Json TimeOrNull(const std::optional<std::time_t>& at) {
    return at ? Json(platform::IsoTimeText(*at)) : Json(nullptr);
}

// Fixed-format sense data, decoded as the logs read it.
Json Sense(const std::uint8_t* sense, std::size_t length) {
    const bool valid = (sense[0] & 0x80) != 0;
    const std::uint32_t information = static_cast<std::uint32_t>(sense[3]) << 24 |
                                      static_cast<std::uint32_t>(sense[4]) << 16 |
                                      static_cast<std::uint32_t>(sense[5]) << 8 | sense[6];
    return Json{{"senseKey", sense[2] & 0x0F},
                {"asc", sense[12]},
                {"ascq", sense[13]},
                {"information", valid ? Json(information) : Json(nullptr)},
                {"bytes", Hex(sense, length)}};
}

Json Record(const ErrorRecord& r) {
    return Json{{"sense", Sense(r.senseData, sizeof r.senseData)},
                {"cdb", Hex(r.failedCdb, sizeof r.failedCdb)},
                {"recovered", (r.senseData[2] & 0x0F) == 1}};
}

Json ErrorList(const ErrorRecord* list, std::int32_t count) {
    const ErrorTally tally = TallyErrors(list, count);
    Json records = Json::array();
    for (int i = 0; i < BoundedCount(count); ++i) records.push_back(Record(list[i]));
    return Json{{"errors", tally.errors}, {"recovered", tally.recovered}, {"records", std::move(records)}};
}

const char* VendorClassName(std::int32_t vendorClass) {
    switch (vendorClass) {
        case kVendorSun: return "sun";
        case kVendorCompaq: return "compaq";
        case kVendorEmc: return "emc";
        case kVendorUnisys: return "unisys";
        case kVendorHalcyon: return "halcyon";
        case kVendorHp: return "hp";
        case kVendorUnsupported: return "unsupported";
        default: return nullptr;
    }
}

const char* StateName(SlotState state) {
    switch (state) {
        case SlotState::Testable: return "testable";
        case SlotState::NotIdentified: return "notIdentified";
        case SlotState::LogUnreadable: return "logUnreadable";
        case SlotState::FailedAtScan: return "failedAtScan";
        case SlotState::Empty: break;
    }
    return "empty";
}

const char* ModeName(TestMode mode) {
    switch (mode) {
        case TestMode::Standard: return "standard";
        case TestMode::Extended: return "extended";
        case TestMode::Quick: break;
    }
    return "quick";
}

Json TestModeOf(std::uint32_t flags) {
    if (flags & kFlagQuick) return "quick";
    if (flags & kFlagStandard) return "standard";
    if (flags & kFlagExtended) return "extended";
    return nullptr;
}

const char* RetestName(RetestOutcome outcome) {
    switch (outcome) {
        case RetestOutcome::Reproduced: return "reproduced";
        case RetestOutcome::LbaUnknown: return "lbaUnknown";
        case RetestOutcome::Failed: return "failed";
        case RetestOutcome::NotReproduced: break;
    }
    return "notReproduced";
}

Json Identity(const DriveSlot& s) {
    const DriveIdentity shown = IdentityOf(s);
    return Json{{"vendor", TextOrNull(shown.vendor)},
                {"product", TextOrNull(shown.product)},
                {"revision", TextOrNull(shown.revision)},
                {"model", TextOrNull(ModelText(s))},
                {"firmwareRevision", TextOrNull(FirmwareRevision(s))},
                {"serial", TextOrNull(s.serialNumber)},
                {"vendorClass", VendorClassName(s.vendorClass) ? Json(VendorClassName(s.vendorClass)) : Json(nullptr)}};
}

Json Capacity(const DriveSlot& s) {
    if (s.blockSize <= 0) return nullptr;
    const std::uint64_t blocks = std::uint64_t{s.lastLba} + 1;
    return Json{{"blockSize", s.blockSize},
                {"lastLba", s.lastLba},
                {"blocks", blocks},
                {"bytes", blocks * static_cast<std::uint64_t>(s.blockSize)}};
}

// The drive's own error log as read at the run: each entry in use, with its
// re-test when the run got that far.
Json SmartLog(const DriveReport& r) {
    const DriveSlot& s = r.judged;
    Json entries = Json::array();
    for (int e = 0; e < kLogEntryCapacity; ++e) {
        if (!LogEntryInUse(s, e)) continue;
        Json entry{{"entry", e + 1},
                   {"timeStamps", Json::array({LogEntryStamp(s, e, 0), LogEntryStamp(s, e, 1)})},
                   {"sense", Sense(s.smartLogEntries[e] + 8, 48)}};
        if (r.logRetested) {
            const RetestOutcome outcome = RetestOf(s, e);
            entry["retest"] = RetestName(outcome);
            entry["retestSense"] = outcome == RetestOutcome::Reproduced
                                       ? Sense(s.retest[e].sense, sizeof s.retest[e].sense)
                                       : Json(nullptr);
            entry["retestMessage"] = outcome == RetestOutcome::Failed ? TextOrNull(s.retest[e].message) : Json(nullptr);
        } else {
            entry["retest"] = nullptr;
            entry["retestSense"] = nullptr;
            entry["retestMessage"] = nullptr;
        }
        entries.push_back(std::move(entry));
    }
    return Json{{"retested", r.logRetested}, {"entries", std::move(entries)}};
}

Json Procedures(const std::vector<ProcedureOutcome>& procedures) {
    Json list = Json::array();
    for (const ProcedureOutcome& p : procedures)
        list.push_back(Json{{"name", p.name},
                            {"completed", p.completed},
                            {"blocksRead", p.blocksRead},
                            {"blocksWritten", p.blocksWritten},
                            {"seeks", p.seeks},
                            {"readErrorRecords", p.readRecords},
                            {"otherErrorRecords", p.otherRecords}});
    return list;
}

Json SmartPage(const std::optional<SmartPageValues>& page) {
    if (!page) return nullptr;
    const SmartPageValues& v = *page;
    return Json{{"layout", v.layout},
                {"logRead", v.logRead},
                {"headsRead", v.headsRead},
                {"powerOnMinutes", v.powerOnMinutes},
                {"readSamples", v.readSamples},
                {"sectorsRead", v.sectorsRead},
                {"readErrorsPerHead", v.readErrorsPerHead},
                {"seekSamples", v.seekSamples},
                {"seekOperations", v.seekOperations},
                {"seekErrors", v.seekErrors ? Json(*v.seekErrors) : Json(nullptr)},
                {"seekErrorsPerHead", v.seekErrorsPerHead},
                {"remainingAlternateSectors", v.remainingAlternates},
                {"spinUpSeconds", v.spinUpSeconds}};
}

// What the log's failure section dumps: the failed command's sense and CDB.
Json Failure(const DriveSlot& s) {
    if (!(s.runFlags & kFlagFail) || (s.errorKind != kCheckCondition && s.errorKind != kLogReadFailed)) return nullptr;
    return Json{{"sense", Sense(s.senseData, sizeof s.senseData)}, {"cdb", Hex(s.failedCdb, sizeof s.failedCdb)}};
}

Json Drive(const DriveRow& row, const Results& results) {
    const DriveReport& r = *row.report;
    const DriveSlot& s = r.judged;
    const bool judged = row.Judged();
    const bool run = r.kind == ReportKind::Run && results.command != Command::Scan;
    std::string reason = judged ? VerdictReason(s) : std::string();
    if (results.command == Command::Microcode && (s.runFlags & kFlagPass)) reason.clear();
    Json d{{"slot", r.slot},
           {"address", AddressText(s.hostAdapter, s.targetId)},
           {"hostAdapter", s.hostAdapter},
           {"targetId", s.targetId},
           {"line", Printable(row.line)},
           {"state", StateName(row.state)},
           {"scanError", row.state == SlotState::FailedAtScan ? TextOrNull(row.report->judged.lastError) : Json(nullptr)},
           {"identity", Identity(s)},
           {"capacity", Capacity(s)},
           {"judged", judged},
           {"verdict", judged ? Json(VerdictName(s)) : Json(nullptr)},
           {"reason", TextOrNull(reason)},
           {"errorKind", judged ? Json(ErrorKindName(s.errorKind)) : Json(nullptr)},
           {"lastError", judged ? TextOrNull(s.lastError) : Json(nullptr)},
           {"failure", judged ? Failure(s) : Json(nullptr)},
           {"startTime", TimeOrNull(r.startedAt)},
           {"startTimeText", judged ? TextOrNull(s.startTime) : Json(nullptr)},
           {"stopTime", TimeOrNull(r.stoppedAt)},
           {"stopTimeText", judged ? TextOrNull(s.stopTime) : Json(nullptr)}};
    if (results.command != Command::Scan) {
        d["defects"] = Json{{"primary", (s.runFlags & kFlagPlistValid) ? Json(s.plistCount) : Json(nullptr)},
                            {"grown", (s.runFlags & kFlagGlistValid) ? Json(s.glistCount) : Json(nullptr)}};
        d["testMode"] = run ? TestModeOf(s.runFlags) : Json(nullptr);
        d["smartLog"] = row.ErrorLogRead() ? SmartLog(r) : Json(nullptr);
        d["surfaceTests"] =
            run && judged ? Json{{"blocksRead", s.blocksRead},
                                 {"blocksWritten", s.blocksWritten},
                                 {"seeks", s.seekCount},
                                 {"readErrors", ErrorList(s.readErrors, s.readErrorCount)},
                                 {"otherErrors", ErrorList(s.otherErrors, s.otherErrorCount)},
                                 {"procedures", Procedures(r.procedures)}}
                          : Json(nullptr);
        d["smartDataPage"] = SmartPage(r.smartPage);
        d["factoryModeLeftOn"] = r.factoryModeLeftOn;
        d["log"] = judged && !r.logPath.empty() ? Json(r.logPath) : Json(nullptr);
        d["logError"] = judged ? TextOrNull(r.logError) : Json(nullptr);
        d["health"] = row.HealthChecked() ? Json{{"read", row.HealthRead()}, {"problem", TextOrNull(r.healthError)}}
                                          : Json(nullptr);
    }
    return d;
}

}  // namespace

std::string ResultsJson(const Results& results, int exitStatus) {
    Json drives = Json::array();
    for (const DriveRow& row : results.drives) drives.push_back(Drive(row, results));
    Json absent = Json::array();
    for (const Address& a : results.absent)
        absent.push_back(Json{{"address", AddressText(a.hostAdapter, a.targetId)},
                              {"hostAdapter", a.hostAdapter},
                              {"targetId", a.targetId}});
    Json document{
        {"formatVersion", kFormatVersion},
        {"program", Json{{"name", "tamro-cli"}, {"version", TAMRO_VERSION}}},
        {"library", results.library.empty() ? Json(nullptr) : Json(results.library)},
        {"command", CommandName(results.command)},
        {"mode", results.mode ? Json(ModeName(*results.mode)) : Json(nullptr)},
        {"writes", results.writes},
        {"microcodeFile", results.microcodeFile.empty() ? Json(nullptr) : Json(results.microcodeFile)},
        {"startTime", platform::IsoTimeText(results.startedAt)},
        {"stopTime", platform::IsoTimeText(results.stoppedAt)},
        {"interrupted", results.interrupted.has_value()},
        {"signal", !results.interrupted                                   ? Json(nullptr)
                   : *results.interrupted == Interruption::Interrupt ? Json("SIGINT")
                                                                     : Json("SIGTERM")},
        {"exitStatus", exitStatus},
        {"error", results.error.empty() ? Json(nullptr) : Json(results.error)},
        {"drives", std::move(drives)},
        {"absentDrives", std::move(absent)}};
    // Should a drive's text still reach the document unfiltered, a byte that
    // is no UTF-8 becomes U+FFFD rather than ending the program with no
    // results at all.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tamro::cli
