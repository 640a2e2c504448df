#include "cli/results.h"

#include <algorithm>
#include <cstring>

#include "reports/drive_log.h"

namespace tamro::cli {

namespace {

template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

const char* StateName(SlotState state) {
    switch (state) {
        case SlotState::Testable: return "testable";
        case SlotState::NotIdentified: return "not identified";
        case SlotState::LogUnreadable: return "log unreadable";
        case SlotState::FailedAtScan: return "failed at the scan";
        case SlotState::Empty: break;
    }
    return "no drive";
}

std::string AddressOf(const DriveSlot& s) { return AddressText(s.hostAdapter, s.targetId); }

// A download that passed has nothing to say.
std::string ReasonOf(const DriveRow& row, const Results& results) {
    if (!row.Judged()) return {};
    const DriveSlot& s = row.report->judged;
    if (results.command == Command::Microcode && (s.runFlags & kFlagPass)) return {};
    return VerdictReason(s);
}

std::string VerdictColumn(const DriveRow& row, const Results& results) {
    if (row.Judged()) return VerdictName(row.report->judged);
    return results.interrupted ? "interrupted" : "not judged";
}

std::string LogColumn(const DriveRow& row) {
    if (!row.Judged()) return "-";
    if (!row.report->logPath.empty()) return row.report->logPath;
    return row.report->logError.empty() ? "-" : "- (" + row.report->logError + ")";
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    return out;
}

std::string AddressText(int hostAdapter, int targetId) {
    char text[24];
    std::snprintf(text, sizeof text, "HA#%d/ID%02d", hostAdapter, targetId);
    return text;
}

DriveRow ScannedRow(int slot) {
    auto report = std::make_shared<DriveReport>();
    report->slot = slot;
    report->judged = Slot(slot);
    const SlotView view = DescribeSlot(report->judged);
    return DriveRow{view.line, view.state, std::move(report)};
}

void PrintDriveList(std::FILE* out) {
    const int slots = std::max(kSlotCount, std::min<int>(driveCount, SlotsInTable()));
    for (int s = 0; s < slots; ++s) {
        const DriveSlot& slot = Slot(s);
        const SlotView view = DescribeSlot(slot);
        std::string state = StateName(view.state);
        if (view.state == SlotState::FailedAtScan) state += ": " + Text(slot.lastError);
        std::fprintf(out, "%-50s  %s\n", view.line.c_str(), state.c_str());
    }
}

namespace {

// A drive's field for the terminal: unpadded and printable.
std::string Field(std::string_view field) {
    field = field.substr(0, field.find('\0'));
    return Printable(field.substr(0, field.find_last_not_of(' ') + 1));
}

}  // namespace

// health: what was read of each drive, and what could not be. The product
// is INQUIRY's: the drive list cuts it to its field.
void PrintHealth(std::FILE* out, const Results& results) {
    constexpr char kRow[] = "%-10s  %-8s  %-16s  %6s  %-11s  %7s  %5s  %6s  %10s  %10s  %s\n";
    std::fprintf(out, kRow, "Drive", "Serial", "Product", "GB", "Health", "Primary", "Grown", "Logged", "Power-on h",
                 "Alternates", "Problem");
    const auto count = [](bool valid, long long n) { return valid ? std::to_string(n) : std::string("-"); };
    for (const DriveRow& row : results.drives) {
        const DriveSlot& s = row.report->judged;
        int logged = 0;
        for (int e = 0; e < kLogEntryCapacity; ++e) logged += LogEntryInUse(s, e) ? 1 : 0;
        const char* health = row.OtherMakers() ? "other maker" : row.HealthRead() ? "read"
                             : row.HealthChecked()                 ? "unreadable"
                             : results.interrupted                 ? "interrupted"
                                                                   : "not read";
        char gigabytes[16] = "-";
        if (s.blockSize > 0)
            std::snprintf(gigabytes, sizeof gigabytes, "%.1f",
                          (static_cast<double>(s.lastLba) + 1) * s.blockSize / 1e9);
        const auto& page = row.report->smartPage;
        const bool pageRead = page && page->logRead;
        std::fprintf(out, kRow, AddressOf(s).c_str(), Field(Text(s.serialNumber)).c_str(),
                     Field({reinterpret_cast<const char*>(s.inquiryData) + 16, 16}).c_str(), gigabytes,
                     health, count((s.runFlags & kFlagPlistValid) != 0, s.plistCount).c_str(),
                     count((s.runFlags & kFlagGlistValid) != 0, s.glistCount).c_str(),
                     count(row.ErrorLogRead(), logged).c_str(),
                     count(pageRead, pageRead ? page->powerOnMinutes / 60 : 0).c_str(),
                     count(pageRead, pageRead ? page->remainingAlternates : 0).c_str(),
                     row.HealthChecked() ? row.report->healthError.c_str() : "");
    }
    for (const Address& a : results.absent)
        std::fprintf(out, kRow, AddressText(a.hostAdapter, a.targetId).c_str(), "-", "-", "-", "absent", "-", "-", "-",
                     "-", "-", "No drive at this address in the scan.");
}

void PrintSummary(std::FILE* out, const Results& results) {
    if (results.command == Command::Health) {
        PrintHealth(out, results);
        return;
    }
    // The reason column is as wide as its longest reason, so that every log
    // stays in one column.
    constexpr char kAbsent[] = "No drive at this address in the scan.";
    int width = results.absent.empty() ? 50 : std::max<int>(50, sizeof kAbsent - 1);
    for (const DriveRow& row : results.drives)
        width = std::max(width, static_cast<int>(ReasonOf(row, results).size()));
    std::fprintf(out, "%-10s  %-11s  %-*s  %s\n", "Drive", "Verdict", width, "Reason", "Log");
    for (const DriveRow& row : results.drives)
        std::fprintf(out, "%-10s  %-11s  %-*s  %s\n", AddressOf(row.report->judged).c_str(),
                     VerdictColumn(row, results).c_str(), width, ReasonOf(row, results).c_str(),
                     LogColumn(row).c_str());
    for (const Address& a : results.absent)
        std::fprintf(out, "%-10s  %-11s  %-*s  %s\n", AddressText(a.hostAdapter, a.targetId).c_str(), "absent",
                     width, kAbsent, "-");
    if (results.interrupted) {
        const auto judged = std::count_if(results.drives.begin(), results.drives.end(),
                                          [](const DriveRow& r) { return r.Judged(); });
        std::fprintf(out, "\nInterrupted by %s: %d of %d drives judged.\n",
                     *results.interrupted == Interruption::Interrupt ? "SIGINT" : "SIGTERM",
                     static_cast<int>(judged), static_cast<int>(results.drives.size()));
    }
}

int ExitStatusOf(const Results& results) {
    if (results.interrupted) return *results.interrupted == Interruption::Interrupt ? kInterrupted : kTerminated;
    if (!results.error.empty()) return kNothingRun;
    if (results.command == Command::Scan) return results.jsonUnwritten ? kResultsIncomplete : kAllPass;
    bool fail = false, unjudged = !results.absent.empty(), incomplete = results.jsonUnwritten;
    if (results.command == Command::Health) {
        for (const DriveRow& row : results.drives) unjudged |= !row.HealthRead() && !row.OtherMakers();
        return incomplete ? kResultsIncomplete : unjudged ? kSomeNotJudged : kAllPass;
    }
    for (const DriveRow& row : results.drives) {
        if (!row.Judged()) {
            unjudged = true;
            continue;
        }
        const std::uint32_t flags = row.report->judged.runFlags;
        fail |= (flags & kFlagFail) != 0;
        unjudged |= (flags & (kFlagFail | kFlagPass)) == 0;
        incomplete |= row.report->logPath.empty();
    }
    if (incomplete) return kResultsIncomplete;
    if (fail) return kSomeFail;
    return unjudged ? kSomeNotJudged : kAllPass;
}

}  // namespace tamro::cli
