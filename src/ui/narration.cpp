#include "ui/narration.h"

namespace tamro::ui {

namespace {

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool IsRow(int slot) { return slot >= 0 && slot < static_cast<int>(kSlotRows); }

constexpr std::string_view kDriveStart = "Run.";

}  // namespace

std::optional<StatusStep> StepOf(std::string_view status) {
    const std::string_view text = Trimmed(status);
    if (!text.starts_with("**")) return std::nullopt;
    const std::size_t close = text.find("**", 2);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view heading = Trimmed(text.substr(2, close - 2));
    if (heading.empty()) return std::nullopt;
    return StatusStep{heading, !Trimmed(text.substr(close + 2)).empty()};
}

Narration::Drive& Narration::DriveOf(int slot) {
    return drives_[IsRow(slot) ? static_cast<std::size_t>(slot) : kSlotRows];
}

std::string Narration::Line(int slot) const {
    return IsRow(slot) ? SpokenText(captionOf_(kSlotLines[slot])) : std::string();
}

// "HA#0/ID01 " and what happens there: the address the slot's line begins with.
std::string Narration::Addressed(int slot, std::string_view what) const {
    const std::string line = Line(slot);
    const std::string address = line.substr(0, line.find(' '));
    if (address.empty()) return std::string(what);
    return address + ' ' + std::string(what);
}

std::optional<Announcement> Narration::Status(int slot, std::string_view text, Tone tone) {
    const std::string spoken = SpokenText(text);
    if (spoken.empty()) return std::nullopt;
    // A refusal or a failure is shown in red: always told.
    if (tone == Tone::Red) return Announcement{spoken, Weight::Kept, IsRow(slot) ? slot : -1};
    const std::optional<StatusStep> step = StepOf(text);
    std::lock_guard lock(mutex_);
    Drive& drive = DriveOf(slot);
    // Outside a drive's work (the drive list judging a drive that failed at
    // the scan) the status line only tells what the screen already shows.
    if (!drive.atWork) return std::nullopt;
    if (!step) {
        drive.heading.clear();
        return Announcement{spoken, Weight::Passing, slot};
    }
    if (drive.heading == step->heading) return std::nullopt;  // only its counter moved
    drive.heading.assign(step->heading);
    return Announcement{Addressed(slot, step->heading), step->counted ? Weight::Step : Weight::Passing, slot};
}

std::optional<Announcement> Narration::Judge(int slot, std::string_view text) {
    if (!IsRow(slot)) return std::nullopt;
    const std::string spoken = SpokenText(text);
    std::lock_guard lock(mutex_);
    Drive& drive = DriveOf(slot);
    if (spoken == kDriveStart) {
        drive = Drive{true, {}};
        const std::string line = Line(slot);
        return Announcement{line.empty() ? spoken : line + ' ' + spoken, Weight::Step, slot};
    }
    // The drive list's own texts (a box unticked, a drive that failed at the
    // scan) come while no work is on the drive.
    if (!drive.atWork) return std::nullopt;
    drive.atWork = false;
    if (spoken.empty()) return std::nullopt;  // stopped before a verdict
    return Announcement{Addressed(slot, spoken), Weight::Kept, slot};
}

}  // namespace tamro::ui
