// The results in the Prometheus text exposition format, for a node
// exporter's textfile collector: one more rendering of the drives' records.
// Every drive's series carry the command, its adapter, target and serial, so
// that a run's file and the health check's file can lie in one textfile
// folder; its identity is in one _info series. Sample timestamps are not
// allowed there: times are gauges in seconds since the epoch.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cli/results.h"

namespace tamro::cli {

namespace {

struct Sample {
    std::string labels;  // "{adapter=\"0\",...}"
    double value;
};

struct Family {
    const char* help;
    const char* type;
    std::vector<Sample> samples;
};

// Label values escaped as the format asks: backslash, quote and newline.
std::string Escaped(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, text.find('\0'))) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) out += '?';
        else out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

template <std::size_t N>
std::string Escaped(const char (&field)[N]) {
    return Escaped(std::string_view(field, strnlen(field, N)));
}

class Exposition {
public:
    void Add(const std::string& name, const char* help, const char* type, std::string labels, double value) {
        Family& f = families_.try_emplace(name, Family{help, type, {}}).first->second;
        f.samples.push_back({std::move(labels), value});
    }
    std::string Text() const {
        std::string out;
        for (const auto& [name, f] : families_) {
            out += "# HELP " + name + " " + f.help + "\n# TYPE " + name + " " + f.type + "\n";
            for (const Sample& s : f.samples) {
                char value[32];
                std::snprintf(value, sizeof value, "%.17g", s.value);
                out += name + s.labels + " " + value + "\n";
            }
        }
        return out;
    }

private:
    std::map<std::string, Family> families_;
};

// The labels of a drive's series, with more of a series' own.
class DriveLabels {
public:
    DriveLabels(const DriveSlot& s, const char* command) {
        char address[48];
        std::snprintf(address, sizeof address, "adapter=\"%d\",target=\"%d\"", s.hostAdapter, s.targetId);
        base_ = std::string("{command=\"") + command + "\"," + address + ",serial=\"" + Escaped(s.serialNumber) + "\"";
    }
    std::string operator()(const std::string& more = {}) const { return base_ + more + "}"; }

private:
    std::string base_;
};

void Drive(Exposition& e, const DriveRow& row, const char* command) {
    const DriveSlot& s = row.report->judged;
    const DriveReport& r = *row.report;
    const DriveLabels with(s, command);
    const std::string labels = with();
    // Vendor and product as INQUIRY gives them, not as the drive list cuts
    // them for its field: a label that changed with the drive's state would
    // start a new series.
    const std::string_view inquiry(reinterpret_cast<const char*>(s.inquiryData), sizeof s.inquiryData);
    e.Add("tamro_drive_info",
          "Identity of each drive reached: vendor and product as INQUIRY gives them, model and firmware as the log "
          "prints them.",
          "gauge",
          with(",vendor=\"" + Escaped(inquiry.substr(8, 8)) + "\",product=\"" + Escaped(inquiry.substr(16, 16)) +
                      "\",model=\"" + Escaped(ModelText(s)) + "\",firmware=\"" + Escaped(FirmwareRevision(s)) + "\""),
          1);
    if (s.blockSize > 0) {
        e.Add("tamro_drive_capacity_bytes", "Capacity of the drive.", "gauge", labels,
              (static_cast<double>(s.lastLba) + 1) * s.blockSize);
        e.Add("tamro_drive_block_size_bytes", "Block size of the drive.", "gauge", labels, s.blockSize);
    }
    if (s.runFlags & kFlagPlistValid)
        e.Add("tamro_drive_primary_defects", "Entries of the primary defect list.", "gauge", labels, s.plistCount);
    if (s.runFlags & kFlagGlistValid)
        e.Add("tamro_drive_grown_defects", "Entries of the grown defect list.", "gauge", labels, s.glistCount);
    if (row.ErrorLogRead()) {
        int logged = 0;
        for (int entry = 0; entry < kLogEntryCapacity; ++entry) logged += LogEntryInUse(s, entry) ? 1 : 0;
        e.Add("tamro_drive_logged_errors", "Entries in the drive's own error log in its service area.", "gauge",
              labels, logged);
    }
    if (r.smartPage && r.smartPage->logRead) {
        const SmartPageValues& v = *r.smartPage;
        e.Add("tamro_drive_power_on_seconds_total", "Accumulated power-on time of the drive.", "counter", labels,
              v.powerOnMinutes * 60.0);
        e.Add("tamro_drive_read_sectors_total", "Sectors the drive has read, as its SMART data page counts them.",
              "counter", labels, v.sectorsRead);
        e.Add("tamro_drive_seek_operations_total", "Seek operations, as the drive's SMART data page counts them.",
              "counter", labels, v.seekOperations);
        for (std::size_t h = 0; h < v.readErrorsPerHead.size(); ++h)
            e.Add("tamro_drive_head_read_errors", "Current number of read errors of each head.", "gauge",
                  with(",head=\"" + std::to_string(h) + "\""), v.readErrorsPerHead[h]);
        for (std::size_t h = 0; h < v.seekErrorsPerHead.size(); ++h)
            e.Add("tamro_drive_head_seek_errors", "Current number of seek errors of each head.", "gauge",
                  with(",head=\"" + std::to_string(h) + "\""), v.seekErrorsPerHead[h]);
        if (v.seekErrors)
            e.Add("tamro_drive_seek_errors", "Current number of seek errors of the whole drive.", "gauge", labels,
                  *v.seekErrors);
        e.Add("tamro_drive_remaining_alternate_sectors", "Alternate sectors the drive has left.", "gauge", labels,
              v.remainingAlternates);
        e.Add("tamro_drive_spin_up_seconds", "Current spin-up time of the drive.", "gauge", labels, v.spinUpSeconds);
    }
    if (row.HealthChecked() && !row.OtherMakers())
        e.Add("tamro_drive_health_read", "1 when the defect counts, the error log and the SMART data page could all be read.",
              "gauge", labels, row.HealthRead() ? 1 : 0);
    if (row.HealthChecked() || row.Judged())
        e.Add("tamro_drive_factory_mode_left_on",
              "1 when the drive may still be in factory mode: its Factory ReSet(10) could not be sent or failed.",
              "gauge", labels, r.factoryModeLeftOn ? 1 : 0);
    if (row.Judged()) {
        const std::string verdict = VerdictName(s);
        for (const char* v : {"PASS", "FAIL", "NO Judge"})
            e.Add("tamro_drive_verdict", "The verdict of the drive's last run: 1 for the verdict it got.", "gauge",
                  with(std::string(",verdict=\"") + v + "\""), verdict == v ? 1 : 0);
        if (r.stoppedAt)
            e.Add("tamro_drive_last_run_timestamp_seconds", "When the drive's last run judged it.", "gauge", labels,
                  static_cast<double>(*r.stoppedAt));
        if (r.kind == ReportKind::Run) {
            const ErrorTally reads = TallyErrors(s.readErrors, s.readErrorCount);
            const ErrorTally others = TallyErrors(s.otherErrors, s.otherErrorCount);
            e.Add("tamro_drive_last_run_read_errors", "Read errors the last run's surface tests met.", "gauge", labels,
                  reads.errors);
            e.Add("tamro_drive_last_run_recovered_read_errors", "Recovered read errors the last run's surface tests met.",
                  "gauge", labels, reads.recovered);
            e.Add("tamro_drive_last_run_other_errors", "Other errors the last run's surface tests met.", "gauge", labels,
                  others.errors);
        }
    }
}

}  // namespace

std::string ResultsMetrics(const Results& results, int exitStatus) {
    Exposition e;
    const char* name = CommandName(results.command);
    for (const DriveRow& row : results.drives) Drive(e, row, name);
    const std::string command = std::string("{command=\"") + name + "\"}";
    e.Add("tamro_last_run_timestamp_seconds", "When tamro-cli last ended this command.", "gauge", command,
          static_cast<double>(results.stoppedAt));
    e.Add("tamro_last_run_exit_status", "The exit status of tamro-cli's last run of this command.", "gauge", command,
          exitStatus);
    e.Add("tamro_last_run_interrupted", "1 when the last run of this command was stopped by a signal.", "gauge", command,
          results.interrupted ? 1 : 0);
    e.Add("tamro_last_run_drives", "Drives the last run of this command reported.", "gauge", command,
          static_cast<double>(results.drives.size()));
    e.Add("tamro_last_run_absent_drives", "Drives named to the last run of this command that the scan did not find.",
          "gauge", command, static_cast<double>(results.absent.size()));
    return e.Text();
}

}  // namespace tamro::cli
