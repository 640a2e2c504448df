#include "cli/cli_front_end.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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
    const DriveSlot& s = Slot(slot);
    return AddressText(s.hostAdapter, s.targetId);
}

}  // namespace

std::string ElapsedText(ProgressClock::duration elapsed) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::string BarLine(const std::string& name, int position, const std::string& elapsed, const std::string& what,
                    int columns) {
    const std::size_t limit = static_cast<std::size_t>(std::max(columns - 1, 1));
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", position * 100 / kProgressMaximum);
    // The bar gives way first, so that the phase keeps room to be read.
    constexpr std::size_t kWidest = 30, kNarrowest = 8, kRoomForPhase = 22;
    const std::size_t fixed = name.size() + 4 + std::strlen(percent) + 1 + elapsed.size() + 2;
    const std::size_t spare = limit > fixed + kRoomForPhase ? limit - fixed - kRoomForPhase : 0;
    const std::size_t width = std::min(kWidest, spare);
    std::string line = name + " ";
    if (width >= kNarrowest) {
        std::string bar(static_cast<std::size_t>(position) * width / kProgressMaximum, '#');
        bar.resize(width, '.');
        line += "[" + bar + "] ";
    }
    line += std::string(percent) + " " + elapsed + "  " + what;
    if (line.size() > limit) line.resize(limit);
    return line;
}

CliFrontEnd::CliFrontEnd(Display display, TestMode mode, std::string microcodeFile, DisplayEnvironment environment)
    : display_(display), mode_(mode), microcodeFile_(std::move(microcodeFile)), env_(std::move(environment)) {}

void CliFrontEnd::Choose(const std::vector<bool>& chosen) {
    std::lock_guard lock(mutex_);
    rows_.resize(std::max(rows_.size(), chosen.size()));
    for (std::size_t s = 0; s < rows_.size(); ++s) rows_[s].chosen = s < chosen.size() && chosen[s];
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

CliFrontEnd::Row* CliFrontEnd::ChosenRow(int slot) {
    if (!IsRow(slot) || !rows_[static_cast<std::size_t>(slot)].chosen) return nullptr;
    return &rows_[static_cast<std::size_t>(slot)];
}

void CliFrontEnd::StartLocked(Row& row, ProgressClock::time_point now) {
    if (row.started) return;
    row.started = now;
    row.said = now;
}

std::string CliFrontEnd::ElapsedLocked(const Row& row, ProgressClock::time_point now) const {
    if (!row.started) return ElapsedText({});
    return ElapsedText(row.ended.value_or(now) - *row.started);
}

void CliFrontEnd::Status(int slot, std::string_view text, Tone, bool) {
    std::lock_guard lock(mutex_);
    status_ = std::string(text);
    Row* row = ChosenRow(slot);
    if (row == nullptr) return;
    const auto now = env_.now();
    StartLocked(*row, now);
    std::string phase = PhaseOf(text);
    if (phase.empty() || phase == row->phase) return;
    row->phase = std::move(phase);
    if (display_ == Display::Lines) LineLocked(slot, row->phase, now);
    DrawLocked(false);
}

void CliFrontEnd::Judge(int slot, std::string_view text, Tone, bool) {
    std::lock_guard lock(mutex_);
    Row* row = ChosenRow(slot);
    if (row == nullptr) return;
    const auto now = env_.now();
    StartLocked(*row, now);
    std::string verdict = VerdictOf(text);
    if (verdict.empty() || verdict == row->verdict) return;
    row->verdict = std::move(verdict);
    row->test = kProgressMaximum;
    row->ended = now;
    if (display_ == Display::Lines) LineLocked(slot, row->verdict, now);
    DrawLocked(true);
}

void CliFrontEnd::Progress(int slot, Bar bar, int position, bool) {
    if (bar != Bar::Test) return;
    std::lock_guard lock(mutex_);
    if (!IsRow(slot)) return;
    rows_[static_cast<std::size_t>(slot)].test = position;
    DrawLocked(false);
}

void CliFrontEnd::Tick() {
    std::lock_guard lock(mutex_);
    if (display_ == Display::Bars) {
        DrawLocked(true);
        return;
    }
    if (display_ != Display::Lines) return;
    const auto now = env_.now();
    for (std::size_t s = 0; s < rows_.size(); ++s) {
        const Row& row = rows_[s];
        if (!row.chosen || !row.started || row.ended || now - row.said < env_.heartbeat) continue;
        LineLocked(static_cast<int>(s), row.phase.empty() ? "started" : row.phase, now);
    }
}

void CliFrontEnd::DriveReported(const std::shared_ptr<const DriveReport>& report) {
    std::lock_guard lock(mutex_);
    // The drive list judges a drive that failed at the scan before any is chosen.
    if (!report || report->slot < 0 || report->slot >= kDriveCapacity) return;
    if (!IsRow(report->slot)) rows_.resize(static_cast<std::size_t>(report->slot) + 1);
    rows_[static_cast<std::size_t>(report->slot)].report = report;
}

void CliFrontEnd::ScanFailure(std::string_view text) {
    std::lock_guard lock(mutex_);
    scanFailure_ = std::string(text);
}

void CliFrontEnd::Alarm(std::string_view text) {
    std::lock_guard lock(mutex_);
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::fprintf(env_.out, "tamro-cli: %s\n", line.c_str());
}

void CliFrontEnd::WorkFinished(Work) {
    std::lock_guard lock(mutex_);
    DrawLocked(true);
}

// In a pipe: the drive, what it does, how far its procedure is and how long
// it has been at work.
void CliFrontEnd::LineLocked(int slot, const std::string& text, ProgressClock::time_point now) {
    Row& row = rows_[static_cast<std::size_t>(slot)];
    row.said = now;
    std::fprintf(env_.out, "%s  %s  %3d%%  %s\n", Name(slot).c_str(), text.c_str(), row.test * 100 / kProgressMaximum,
                 ElapsedLocked(row, now).c_str());
    std::fflush(env_.out);
}

// Every chosen drive's bar, drawn over the previous drawing; at most ten
// times a second unless a verdict came. A terminal too low for every drive
// shows those at work first and one line for the rest: a drawing taller than
// the terminal could not be drawn over.
void CliFrontEnd::DrawLocked(bool force) {
    if (display_ != Display::Bars) return;
    const auto now = env_.now();
    if (!force && drawn_ && now - *drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    // Read at each drawing: the terminal may have been resized meanwhile.
    const int columns = env_.columns();
    const int height = env_.rows();
    std::vector<std::size_t> shown;
    for (std::size_t s = 0; s < rows_.size(); ++s)
        if (rows_[s].chosen) shown.push_back(s);
    const std::size_t room = height > 2 ? static_cast<std::size_t>(height - 2) : shown.size();
    std::size_t judged = 0, hidden = 0;
    if (shown.size() > room + 1) {
        const auto rank = [this](std::size_t s) { return rows_[s].ended ? 2 : rows_[s].started ? 0 : 1; };
        std::stable_sort(shown.begin(), shown.end(), [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
        for (std::size_t k = room; k < shown.size(); ++k) judged += rows_[shown[k]].ended ? 1 : 0;
        hidden = shown.size() - room;
        shown.resize(room);
        std::sort(shown.begin(), shown.end());
    }
    std::string frame;
    if (drawnRows_ > 0) frame += "\x1b[" + std::to_string(drawnRows_) + "A";
    for (std::size_t s : shown) {
        const Row& row = rows_[s];
        const std::string& what = row.verdict.empty() ? row.phase : row.verdict;
        const std::string line = BarLine(Name(static_cast<int>(s)), row.test, ElapsedLocked(row, now), what, columns);
        frame += "\r\x1b[K" + line + "\n";
    }
    if (hidden > 0) {
        std::string more =
            "... " + std::to_string(hidden) + " more drives, " + std::to_string(judged) + " of them judged";
        more.resize(std::min(more.size(), static_cast<std::size_t>(std::max(columns - 1, 1))));
        frame += "\r\x1b[K" + more + "\n";
    }
    drawnRows_ = static_cast<int>(shown.size()) + (hidden > 0 ? 1 : 0);
    std::fputs(frame.c_str(), env_.out);
    std::fflush(env_.out);
}

}  // namespace tamro::cli
