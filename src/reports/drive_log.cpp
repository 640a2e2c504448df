#include "reports/drive_log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"
#include "platform/folders.h"
#include "reports/drive_report.h"
#include "reports/smart_data_page.h"
#include "transport/commands.h"

namespace tamro {

namespace {

// The text of a fixed-size field, which need not hold a terminator.
template <std::size_t N>
std::string_view Field(const char (&text)[N]) {
    return {text, static_cast<std::size_t>(std::find(text, text + N, '\0') - text)};
}

void Put(std::FILE* f, std::string_view text) { std::fwrite(text.data(), 1, text.size(), f); }

void PutHex(std::FILE* f, const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) std::fprintf(f, "%02X", bytes[i]);
}

// ---- Identity -----------------------------------------------------------

void WriteIdentity(std::FILE* f, const DriveSlot& s) {
    std::fprintf(f, "\r\nDrive ID            : %02d\r\n", s.targetId);
    if (s.inquiryData[4] == 0) {
        Put(f, "Model Number        : Device name not available.\r\n");
        std::fprintf(f, "Serial Number       : %.*s\r\n", static_cast<int>(Field(s.serialNumber).size()),
                     s.serialNumber);
        Put(f, "F/W Revision        : Device name not available.\r\n");
        return;
    }
    // Vendor identification and the first 15 characters of the product.
    Put(f, "Model Number        : ");
    Put(f, ModelText(s));
    std::fprintf(f, " %d Bytes/Sct.\r\n", s.blockSize);
    std::fprintf(f, "Serial Number       : %.*s\r\n", static_cast<int>(Field(s.serialNumber).size()),
                 s.serialNumber);
    Put(f, "F/W Revision        : ");
    Put(f, FirmwareRevision(s));
    Put(f, "\r\n");
}

// ---- The drive's own error log ------------------------------------------

void WriteLogEntry(std::FILE* f, const DriveSlot& s, int e, int number) {
    const std::uint8_t* entry = s.smartLogEntries[e];
    const RetestResult& r = s.retest[e];
    const RetestOutcome outcome = RetestOf(s, e);
    const bool reproduced = outcome == RetestOutcome::Reproduced;
    // The stamps are unsigned counts of seconds.
    std::fprintf(f, "  SNS%d  <<%08lu[s]  %08lu[s]>>\r\n    ", number,
                 static_cast<unsigned long>(LogEntryStamp(s, e, 0)), static_cast<unsigned long>(LogEntryStamp(s, e, 1)));
    PutHex(f, entry + 8, 16);
    Put(f, "     ");
    if (reproduced) PutHex(f, r.sense, 16);
    Put(f, "\r\n    ");
    PutHex(f, entry + 24, 16);
    Put(f, "  -> ");
    switch (outcome) {
    case RetestOutcome::Reproduced: PutHex(f, r.sense + 16, 16); break;
    case RetestOutcome::LbaUnknown: Put(f, "It is not able to determine LBA of this error."); break;
    case RetestOutcome::Failed:
        Put(f, "    ");
        Put(f, Field(r.message));
        break;
    case RetestOutcome::NotReproduced: Put(f, "This error did not duplicate."); break;
    }
    Put(f, "\r\n    ");
    PutHex(f, entry + 40, 16);
    Put(f, "     ");
    if (reproduced) PutHex(f, r.sense + 32, 16);
    Put(f, "\r\n");
}

constexpr char kDuplicationTitle[] = "\r\n<<< This is the duplication test result of SMART LOG >>>\r\n";
constexpr char kNoLogErrors[] = "\r\n       No error data in SMART LOG.\r\n";

void WriteReproducedErrors(std::FILE* f, const DriveSlot& s) {
    Put(f, kDuplicationTitle);
    int shown = 0;
    for (int e = 0; e < kLogEntryCapacity; ++e)
        if (LogEntryInUse(s, e) && RetestOf(s, e) == RetestOutcome::Reproduced) WriteLogEntry(f, s, e, ++shown);
    if (shown == 0) Put(f, kNoLogErrors);
}

// The newest entry in use stands for the log in a PASS verdict.
void WriteLatestLogEntry(std::FILE* f, const DriveSlot& s) {
    Put(f, kDuplicationTitle);
    for (int e = kLogEntryCapacity - 1; e >= 0; --e) {
        if (LogEntryInUse(s, e)) {
            WriteLogEntry(f, s, e, e + 1);
            return;
        }
    }
    Put(f, kNoLogErrors);
}

// ---- Surface test records -------------------------------------------------

void WriteRecordPairs(std::FILE* f, const ErrorRecord* list, std::int32_t count) {
    const int n = BoundedCount(count);
    for (int k = 0; k < n; k += 2) {
        const ErrorRecord& a = list[k];
        const ErrorRecord* b =
            k + 1 < kErrorListCapacity && list[k + 1].senseData[0] != 0 ? &list[k + 1] : nullptr;
        for (std::size_t row = 0; row < 3; ++row) {
            Put(f, row == 0 ? "    " : "\r\n    ");
            PutHex(f, a.senseData + 16 * row, 16);
            Put(f, "     ");
            if (b) PutHex(f, b->senseData + 16 * row, 16);
        }
        Put(f, "\r\n       *CDB=");
        PutHex(f, a.failedCdb, 10);
        if (b) {
            Put(f, "            *CDB=");
            PutHex(f, b->failedCdb, 10);
        }
        Put(f, "\r\n");
    }
}

double ReadBits(const DriveSlot& s) {
    return static_cast<double>(s.blocksRead) * static_cast<double>(s.blockSize) * 8.0;
}

void WriteWriteAndSeekTotals(std::FILE* f, const DriveSlot& s) {
    if (s.blocksWritten != 0)
        std::fprintf(f, "Total Write Block.  : %llu. \r\n", static_cast<unsigned long long>(s.blocksWritten));
    if (s.seekCount != 0)
        std::fprintf(f, "Total Seek Count.   : %llu. \r\n", static_cast<unsigned long long>(s.seekCount));
}

void WriteComment(std::FILE* f, const DriveSlot& s) {
    const std::string_view comment = Field(s.comment);
    std::fprintf(f, "\r\n<<< %.*s >>>\r\n", static_cast<int>(comment.size()), comment.data());
}

void WriteRunningTest(std::FILE* f, const DriveSlot& s) {
    Put(f, "<<< This is running test result. >>>\r\n");
    if (s.blocksRead != 0) std::fprintf(f, "Total Read Bit Num. : %.3E. \r\n", ReadBits(s));
    WriteWriteAndSeekTotals(f, s);
    Put(f, "\r\n");
    const ErrorTally reads = TallyErrors(s.readErrors, s.readErrorCount);
    std::fprintf(f, "Read Error Num.     : %d. \r\n", reads.errors);
    std::fprintf(f, "Recovered Read Error: %d. \r\n", reads.recovered);
    WriteRecordPairs(f, s.readErrors, s.readErrorCount);
    const ErrorTally others = TallyErrors(s.otherErrors, s.otherErrorCount);
    std::fprintf(f, "Other Error Num.    : %d. \r\n", others.errors);
    std::fprintf(f, "Recovered OtherError: %d. \r\n", others.recovered);
    WriteRecordPairs(f, s.otherErrors, s.otherErrorCount);
    WriteComment(f, s);
}

void WriteSenseDump(std::FILE* f, const DriveSlot& s) {
    Put(f, "         ");
    PutHex(f, s.senseData, 16);
    Put(f, "\r\n         ");
    PutHex(f, s.senseData + 16, 16);
    Put(f, "\r\n         ");
    PutHex(f, s.senseData + 32, 16);
    Put(f, "\r\n             CDB=");
    PutHex(f, s.failedCdb, 10);
    Put(f, "\r\n");
}

// ---- Verdicts -------------------------------------------------------------

void WriteLastError(std::FILE* f, const DriveSlot& s) {
    const std::string_view text = Field(s.lastError);
    std::fprintf(f, "<<< %.*s >>>\r\n", static_cast<int>(text.size()), text.data());
}

void WriteBanner(std::FILE* f, const char* stars, const char* verdict) {
    Put(f, "\r\n");
    Put(f, stars);
    Put(f, verdict);
    Put(f, stars);
    Put(f, "\r\n");
}

void WriteFail(std::FILE* f, const DriveSlot& s) {
    Put(f, "\r\n");
    switch (s.errorKind) {
    case kTransportError: WriteLastError(f, s); break;
    case kCheckCondition:
        WriteLastError(f, s);
        WriteSenseDump(f, s);
        break;
    case kLogNotSupported: Put(f, "\r\n<<< SMART LOG was not supported in SA area >>>\r\n"); break;
    case kLogReadFailed:
        Put(f, "<<< It was failed to read logging data. >>>\r\n");
        WriteSenseDump(f, s);
        break;
    case kNotIdentified: Put(f, "<<< This drive is not Halcyon disk series. >>>\r\n"); break;
    case kLoggedErrorReproduced: Put(f, "<<< The error duplicate. >>>\r\n"); break;
    case kSurfaceTestFailed: WriteRunningTest(f, s); break;
    case kGrownDefectsOutOfSpec: WriteComment(f, s); break;
    default: Put(f, "<<< It is program bug. >>>\r\n"); break;
    }
    logparts::WriteFailBanner(f);
}

// The words the FAIL section gives for the verdict.
std::string FailReason(const DriveSlot& s) {
    switch (s.errorKind) {
    case kTransportError:
    case kCheckCondition: return std::string(Field(s.lastError));
    case kLogNotSupported: return "SMART LOG was not supported in SA area";
    case kLogReadFailed: return "It was failed to read logging data.";
    case kNotIdentified: return "This drive is not Halcyon disk series.";
    case kLoggedErrorReproduced: return "The error duplicate.";
    case kSurfaceTestFailed:
    case kGrownDefectsOutOfSpec: return std::string(Field(s.comment));
    default: return "It is program bug.";
    }
}

void WritePass(std::FILE* f, const DriveSlot& s) {
    if (s.errorKind != kLogNotSupported) WriteLatestLogEntry(f, s);
    if (s.blocksRead != 0) std::fprintf(f, "\r\nTotal Read Bit Num. : %.3E. \r\n", ReadBits(s));
    WriteWriteAndSeekTotals(f, s);
    const ErrorTally reads = TallyErrors(s.readErrors, s.readErrorCount);
    const ErrorTally others = TallyErrors(s.otherErrors, s.otherErrorCount);
    Put(f, "\r\n");
    std::fprintf(f, "Read Error Num.     : %d. \r\n", reads.errors);
    std::fprintf(f, "Recovered Read Error: %d. \r\n", reads.recovered);
    std::fprintf(f, "Other Error Num.    : %d. \r\n", others.errors);
    std::fprintf(f, "Recovered OtherError: %d. \r\n", others.recovered);
    Put(f, "\r\n");
    WriteComment(f, s);
    logparts::WritePassBanner(f);
}

void WriteNoJudge(std::FILE* f, const DriveSlot& s) {
    Put(f, "\r\n");
    WriteRunningTest(f, s);
    WriteBanner(f, "       **************\r\n", "       *  NO Judge  *\r\n");
}

void WriteTime(std::FILE* f, const char* label, std::string_view time) {
    Put(f, label);
    Put(f, time);
}

}  // namespace

std::string logparts::ShowOpenFailure(const std::string& fileName) {
    char text[128];
    std::snprintf(text, sizeof text, "Cannot open file %s\r\n", fileName.c_str());
    ShowAlarm(text);
    return "Cannot open file " + fileName;
}

void logparts::ShowAlarm(const char* text) { Observer().Alarm(text); }

namespace {

// The part files of logs in writing, for a stop that ends their writers.
struct Unfinished {
    std::mutex mutex;
    std::set<std::string> parts;
};

Unfinished& unfinished() {
    static Unfinished* u = new Unfinished;  // writers may outlive static destruction
    return *u;
}

}  // namespace

logparts::LogFile::LogFile(std::string name) : name_(std::move(name)), part_(name_ + ".part") {
    {
        std::lock_guard lock(unfinished().mutex);
        unfinished().parts.insert(part_);
    }
    // A name that cannot be a file (a folder's, say) fails before anything
    // is sent for the log, as a log opened in place would.
    std::FILE* existing = std::fopen(name_.c_str(), "rb");
    if (existing != nullptr) std::fclose(existing);
    std::FILE* probe = std::fopen(name_.c_str(), "ab");
    if (probe == nullptr) return;
    std::fclose(probe);
    if (existing == nullptr) platform::RemoveFile(name_);
    file_ = std::fopen(part_.c_str(), "wb");
}

logparts::LogFile::~LogFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
        platform::RemoveFile(part_);
    }
    std::lock_guard lock(unfinished().mutex);
    unfinished().parts.erase(part_);
}

bool logparts::LogFile::Commit(std::string* path, std::string* failure) {
    const bool written = std::fclose(std::exchange(file_, nullptr)) == 0;
    if (!written || !platform::ReplaceFile(part_, name_)) {
        platform::RemoveFile(part_);
        const std::string why = ShowOpenFailure(name_);
        if (failure != nullptr) *failure = why;
        return false;
    }
    if (path != nullptr) *path = platform::InCurrentFolder(name_);
    return true;
}

void DiscardUnfinishedLogs() {
    std::lock_guard lock(unfinished().mutex);
    for (const std::string& part : unfinished().parts) platform::RemoveFile(part);
}

namespace {

bool UnsafeInFileName(unsigned char c) {
    if (c < 0x20 || c == 0x7F) return true;
    for (const char forbidden : std::string_view("/\\<>:\"|?*"))
        if (c == static_cast<unsigned char>(forbidden)) return true;
    return false;
}

bool IsDeviceName(std::string_view base) {
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    std::string name;
    for (const char c : base) name += upper(c);
    for (const char* reserved : {"CON", "PRN", "AUX", "NUL"})
        if (name == reserved) return true;
    return name.size() == 4 && (name.starts_with("COM") || name.starts_with("LPT")) && name[3] >= '1' &&
           name[3] <= '9';
}

}  // namespace

std::string VerdictReason(const DriveSlot& s) {
    if (s.runFlags & kFlagFail) return FailReason(s);
    return std::string(Field(s.comment));
}

std::string LogFileName(std::string_view serial) {
    serial = serial.substr(0, serial.find('\0'));
    std::string name(serial);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool dotRun = serial[i] == '.' && ((i > 0 && serial[i - 1] == '.') ||
                                                 (i + 1 < serial.size() && serial[i + 1] == '.') ||
                                                 i + 1 == serial.size());  // "x." + ".log" makes a run too
        if (UnsafeInFileName(static_cast<unsigned char>(serial[i])) || dotRun) name[i] = '_';
    }
    // Some systems open a device, not a file, for these names whatever the
    // extension.
    if (IsDeviceName(std::string_view(name).substr(0, name.find('.')))) name = "_" + name;
    return name + ".log";
}

int WriteDriveLog(std::string* path) {
    DriveReport report;
    const int written = WriteDriveLog(report);
    if (path != nullptr) *path = report.logPath;
    return written;
}

int WriteDriveLog(DriveReport& report) {
    ShowStatus("** Now saving test result of the drive. **");

    // The log tells the verdict's story: the SMART page's own commands may
    // fail and overwrite the slot's error state before the verdict section
    // is written, so everything is written from the state as judged.
    report.judged = CurrentDrive();
    const DriveSlot& s = report.judged;
    logparts::LogFile log(LogFileName(s.serialNumber));
    std::FILE* f = log.get();
    if (f == nullptr) {
        report.logError = logparts::ShowOpenFailure(log.Name());
        return -1;
    }
    const auto ha = static_cast<std::uint8_t>(s.hostAdapter & 0x0F);
    const auto id = static_cast<std::uint8_t>(s.targetId & 0x0F);

    const std::uint32_t flags = s.runFlags;
    logparts::WriteHeader(f, s);
    if (flags & kFlagPlistValid) std::fprintf(f, "Primary Defect List : %d. \r\n", s.plistCount);
    if (flags & kFlagGlistValid) std::fprintf(f, "Grown   Defect List : %d. \r\n", s.glistCount);
    if (flags & kFlagQuick)
        Put(f, "\r\n*** This drive was diagnosed with Quick test mode ***\r\n");
    else if (flags & kFlagStandard)
        Put(f, "\r\n*** This drive was diagnosed with Standard test mode ***\r\n");
    else if (flags & kFlagExtended)
        Put(f, "\r\n*** This drive was diagnosed with Extended test mode ***\r\n");
    if (flags & kFlagTestsFailed) WriteReproducedErrors(f, s);
    if (flags & kFlagLogUnusable) {
        Put(f, "\r\n<<< SMART LOG was not supported in SA area >>>\r\n");
    } else {
        report.smartPage = ReadSmartDataPage(ha, id, s.logLayout);
        if (report.smartPage) PrintSmartDataPage(f, *report.smartPage);
    }
    if (flags & kFlagFail) WriteFail(f, s);
    if (flags & kFlagPass) WritePass(f, s);
    if (flags & kFlagNoJudge) WriteNoJudge(f, s);
    // The log names only a switch-off that could not be sent; the record
    // also counts one that was sent and failed.
    const bool resetOwed = FactoryResetOwed(ha, id);
    report.factoryModeLeftOn = resetOwed || FactoryModeMayBeOn(ha, id);
    if (resetOwed)
        Put(f, "\r\n<<< Factory mode is still on: Factory ReSet(10) could not be sent. >>>\r\n");
    logparts::WriteStopTime(f, s);
    return log.Commit(&report.logPath, &report.logError) ? 0 : -1;
}

namespace logparts {

void WriteHeader(std::FILE* f, const DriveSlot& s) {
    WriteTime(f, "Start Time          : ", Field(s.startTime));
    if (s.runFlags & kFlagIdentity) WriteIdentity(f, s);
}

void WriteFailure(std::FILE* f, const DriveSlot& s) {
    WriteLastError(f, s);
    if (s.errorKind == kCheckCondition) WriteSenseDump(f, s);
}

void WriteFailBanner(std::FILE* f) { WriteBanner(f, "       **********\r\n", "       *  FAIL  *\r\n"); }
void WritePassBanner(std::FILE* f) { WriteBanner(f, "       **********\r\n", "       *  PASS  *\r\n"); }

void WriteStopTime(std::FILE* f, const DriveSlot& s) { WriteTime(f, "Stop Time           : ", Field(s.stopTime)); }

}  // namespace logparts

}  // namespace tamro
