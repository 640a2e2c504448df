// What tamro-cli tells when the work is done: the drive list of a scan, the
// table of verdicts, the same as JSON, and the exit status. Every one of
// them renders the drives' records, never the live drive table.
#pragma once

#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/options.h"
#include "discovery/slot_display.h"
#include "reports/drive_report.h"

namespace tamro::cli {

enum ExitStatus : int {
    kAllPass = 0,
    kSomeFail = 1,
    kSomeNotJudged = 2,
    kNothingRun = 3,
    kResultsIncomplete = 4,  // a log or the JSON could not be written
    kInterrupted = 130,      // SIGINT
    kTerminated = 143,       // SIGTERM
};

enum class Interruption { Interrupt, Terminate };

// One drive the work was for, or that the drive list judged.
struct DriveRow {
    // The drive list's line and state at the scan.
    std::string line;
    SlotState state = SlotState::Empty;
    // Its record once judged (or its health read), else what the scan found.
    std::shared_ptr<const DriveReport> report;
    bool Judged() const {
        return report && (report->kind == ReportKind::Run || report->kind == ReportKind::Microcode);
    }
    // A health check's record, and whether everything could be read.
    bool HealthChecked() const { return report && report->kind == ReportKind::Health; }
    bool HealthRead() const { return HealthChecked() && report->healthError.empty(); }
    // Another maker's disk: a health check has nothing of it to read, and
    // does not count it against the machine.
    bool OtherMakers() const {
        return state == SlotState::NotIdentified && report && report->judged.vendorClass == kVendorUnsupported;
    }
    // Whether the record holds the drive's own error log: a drive that
    // failed at the scan before its log was read has none, not an empty one.
    bool ErrorLogRead() const {
        if (!report || (report->judged.runFlags & kFlagLogUnusable)) return false;
        return HealthChecked() || (report->kind == ReportKind::Run && state != SlotState::FailedAtScan);
    }
};

struct Results {
    Command command = Command::Scan;
    std::optional<TestMode> mode;
    bool writes = false;
    std::string microcodeFile;
    std::string library;  // empty: none was loaded
    std::time_t startedAt = 0, stoppedAt = 0;
    std::vector<DriveRow> drives;
    std::vector<Address> absent;  // named, and not found by the scan
    std::optional<Interruption> interrupted;
    std::string error;  // why nothing could be run
    bool jsonUnwritten = false;  // the JSON or the metrics
};

// A slot's row as the scan left it; the table is not at work then.
DriveRow ScannedRow(int slot);

// Bytes from a drive need not be UTF-8 or printable: each byte outside
// printable ASCII becomes '?', so no output is invalid or read as a control
// sequence.
std::string Printable(std::string_view text);

// "HA#0/ID01": how a drive is named on the command line.
std::string AddressText(int hostAdapter, int targetId);

// The seven lines as the window's drive list shows them, then a line for each
// drive beyond them, each with its state.
void PrintDriveList(std::FILE* out);
void PrintSummary(std::FILE* out, const Results& results);
int ExitStatusOf(const Results& results);
// The whole document, saying `exitStatus`.
std::string ResultsJson(const Results& results, int exitStatus);
// The same results in the Prometheus text exposition format.
std::string ResultsMetrics(const Results& results, int exitStatus);

}  // namespace tamro::cli
