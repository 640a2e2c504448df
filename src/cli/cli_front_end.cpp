#include "cli/cli_front_end.h"

#include <cstdio>

#include "cli/results.h"

namespace tamro::cli {

namespace {

// A phase is the status line without the LBA that changes with every
// command.
std::string PhaseOf(std::string_view text) {
    if (const std::size_t lba = text.find("LBA="); lba != std::string_view::npos) text = text.substr(0, lba);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return std::string(text);
}

std::string VerdictOf(std::string_view judge) {
    if (judge == "PASS" || judge == "FAIL") return std::string(judge);
    if (judge == "------ ") return "------";
    return {};
}

// The drive's address, which the scan set and no worker changes.
std::string Name(int slot) {
    const DriveSlot& s = DriveTable[static_cast<std::size_t>(slot)];
    return AddressText(s.hostAdapter, s.targetId);
}

}  // namespace

CliFrontEnd::CliFrontEnd(Display display, TestMode mode, std::string microcodeFile)
    : display_(display), mode_(mode), microcodeFile_(std::move(microcodeFile)) {}

void CliFrontEnd::Choose(const std::array<bool, kSlotCount>& chosen) {
    std::lock_guard lock(mutex_);
    for (int s = 0; s < kSlotCount; ++s) rows_[static_cast<std::size_t>(s)].chosen = chosen[static_cast<std::size_t>(s)];
}

std::string CliFrontEnd::LastStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::string CliFrontEnd::ScanFailureText() const {
    std::lock_guard lock(mutex_);
    return scanFailure_;
}

std::shared_ptr<const DriveReport> CliFrontEnd::ReportOf(int slot) const {
    std::lock_guard lock(mutex_);
    return IsRow(slot) ? rows_[static_cast<std::size_t>(slot)].report : nullptr;
}

bool CliFrontEnd::Chosen(int slot) const {
    std::lock_guard lock(mutex_);
    return IsRow(slot) && rows_[static_cast<std::size_t>(slot)].chosen;
}

void CliFrontEnd::Status(int slot, std::string_view text, Tone, bool) {
    std::lock_guard lock(mutex_);
    status_ = std::string(text);
    if (!IsRow(slot) || !rows_[static_cast<std::size_t>(slot)].chosen) return;
    Row& row = rows_[static_cast<std::size_t>(slot)];
    std::string phase = PhaseOf(text);
    if (phase.empty() || phase == row.phase) return;
    row.phase = std::move(phase);
    if (display_ == Display::Lines) LineLocked(slot, row.phase);
    DrawLocked(false);
}

void CliFrontEnd::Judge(int slot, std::string_view text, Tone, bool) {
    std::lock_guard lock(mutex_);
    if (!IsRow(slot) || !rows_[static_cast<std::size_t>(slot)].chosen) return;
    Row& row = rows_[static_cast<std::size_t>(slot)];
    std::string verdict = VerdictOf(text);
    if (verdict.empty() || verdict == row.verdict) return;
    row.verdict = std::move(verdict);
    row.test = kProgressMaximum;
    if (display_ == Display::Lines) LineLocked(slot, row.verdict);
    DrawLocked(true);
}

void CliFrontEnd::Progress(int slot, Bar bar, int position, bool) {
    if (bar != Bar::Test) return;
    std::lock_guard lock(mutex_);
    if (!IsRow(slot)) return;
    rows_[static_cast<std::size_t>(slot)].test = position;
    DrawLocked(false);
}

void CliFrontEnd::DriveReported(const std::shared_ptr<const DriveReport>& report) {
    std::lock_guard lock(mutex_);
    if (report && IsRow(report->slot)) rows_[static_cast<std::size_t>(report->slot)].report = report;
}

void CliFrontEnd::ScanFailure(std::string_view text) {
    std::lock_guard lock(mutex_);
    scanFailure_ = std::string(text);
}

void CliFrontEnd::Alarm(std::string_view text) {
    std::lock_guard lock(mutex_);
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::fprintf(stderr, "tamro-cli: %s\n", line.c_str());
}

void CliFrontEnd::WorkFinished(Work) {
    std::lock_guard lock(mutex_);
    DrawLocked(true);
}

void CliFrontEnd::LineLocked(int slot, const std::string& text) {
    std::fprintf(stderr, "%s  %s\n", Name(slot).c_str(), text.c_str());
}

// Every chosen drive's bar, drawn over the previous drawing; at most ten
// times a second unless a verdict came.
void CliFrontEnd::DrawLocked(bool force) {
    if (display_ != Display::Bars) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    if (drawnRows_ > 0) std::fprintf(stderr, "\x1b[%dA", drawnRows_);
    int rows = 0;
    constexpr int kWidth = 30;
    for (int s = 0; s < kSlotCount; ++s) {
        const Row& row = rows_[static_cast<std::size_t>(s)];
        if (!row.chosen) continue;
        const int filled = row.test * kWidth / kProgressMaximum;
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kWidth, '.');
        const std::string& what = row.verdict.empty() ? row.phase : row.verdict;
        std::fprintf(stderr, "\r\x1b[K%s [%s] %3d%%  %.40s\n", Name(s).c_str(),
                     bar.c_str(), row.test * 100 / kProgressMaximum, what.c_str());
        ++rows;
    }
    drawnRows_ = rows;
    std::fflush(stderr);
}

}  // namespace tamro::cli
