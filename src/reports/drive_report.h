// One record per judged drive: everything its log says, taken from the slot
// as it was judged. The text log, the command line's table and its JSON all
// render this record, so that they cannot disagree.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "discovery/drive_table.h"

namespace tamro {

// One surface test procedure as it went: what it sent and the error records
// it added to the slot's lists.
struct ProcedureOutcome {
    std::string name;  // "Random Seek Read"
    bool completed = false;
    std::uint64_t blocksRead = 0;
    std::uint64_t blocksWritten = 0;
    std::uint64_t seeks = 0;
    int readRecords = 0;   // added to readErrors
    int otherRecords = 0;  // added to otherErrors
};

// The values of the SMART data page, as read for the log.
struct SmartPageValues {
    int layout = 0;          // the slot's logLayout, 1 to 4
    bool logRead = false;    // false: GetLog(10) failed and the page shows zeros
    bool headsRead = false;  // false: GetHsp(10) failed and no head lines are shown
    std::uint32_t powerOnMinutes = 0;
    std::uint32_t readSamples = 0;
    std::uint32_t sectorsRead = 0;
    std::vector<std::uint16_t> readErrorsPerHead;
    std::uint32_t seekSamples = 0;
    std::uint32_t seekOperations = 0;
    std::optional<std::uint16_t> seekErrors;  // layouts that count them for the whole drive
    std::vector<std::uint16_t> seekErrorsPerHead;
    std::uint16_t remainingAlternates = 0;
    std::uint8_t spinUpSeconds = 0;
};

enum class ReportKind : std::uint8_t { Scan, Run, Microcode, Health };

struct DriveReport {
    ReportKind kind = ReportKind::Scan;
    int slot = -1;
    DriveSlot judged{};  // the slot as judged; nothing reads the live slot after
    std::optional<std::time_t> startedAt, stoppedAt;
    std::vector<ProcedureOutcome> procedures;
    bool logRetested = false;  // each entry of the drive's error log was re-tested
    std::optional<SmartPageValues> smartPage;
    bool factoryModeLeftOn = false;
    std::string microcodeFile;  // a download's file as its log names it
    std::string logPath;        // empty: no log
    std::string logError;       // why the log could not be written
    std::string healthError;    // a health check: what could not be read
};

// ---- What every rendering derives alike ---------------------------------

bool Judged(const DriveSlot& s);
// "PASS", "FAIL", "NO Judge"; empty while not judged.
const char* VerdictName(const DriveSlot& s);
// errorKind by name: "none", "transportError", "checkCondition", ...
const char* ErrorKindName(std::int32_t errorKind);

// The identity as the log prints it: vendor and product as INQUIRY gives
// them (up to 23 characters), and the firmware revision; empty when the
// drive gave no INQUIRY data.
std::string ModelText(const DriveSlot& s);
std::string FirmwareRevision(const DriveSlot& s);

// Errors and recovered errors of one list, as the log counts them.
struct ErrorTally {
    int errors = 0;
    int recovered = 0;
};
ErrorTally TallyErrors(const ErrorRecord* list, std::int32_t count);
// A count from the slot never walks past its list.
int BoundedCount(std::int32_t count);

// The re-test of one entry of the drive's own error log.
enum class RetestOutcome { Reproduced, NotReproduced, LbaUnknown, Failed };
bool LogEntryInUse(const DriveSlot& s, int entry);
RetestOutcome RetestOf(const DriveSlot& s, int entry);
// The two time stamps of an entry, in seconds.
std::uint32_t LogEntryStamp(const DriveSlot& s, int entry, int which);

}  // namespace tamro
