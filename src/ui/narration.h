// What a listener is told of the engine's reports: each drive's start, each
// procedure's start ("HA#0/ID01 Random Seek Read"), each verdict as it is
// given, the end of the work and the errors; never a counter that moves many
// times a second. Other steps of a drive's work pass as they come, for the
// queue to coalesce.
// Derived from what the engine already reports: a step is the "** ... **"
// heading of the status line, a procedure a heading with a counter after it.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/engine_observer.h"
#include "ui/accessible_names.h"
#include "ui/announcements.h"
#include "ui/controls.h"

namespace tamro::ui {

class Narration {
public:
    // Reads a slot's line when an announcement names its drive.
    explicit Narration(CaptionOf captionOf) : captionOf_(std::move(captionOf)) {}

    // Safe from any thread; none when there is nothing new to tell.
    std::optional<Announcement> Status(int slot, std::string_view text, Tone tone);
    std::optional<Announcement> Judge(int slot, std::string_view text);

private:
    struct Drive {
        bool atWork = false;   // between "Run." and its verdict
        std::string heading;   // of the status line's latest step
    };
    Drive& DriveOf(int slot);
    std::string Line(int slot) const;
    std::string Addressed(int slot, std::string_view what) const;

    CaptionOf captionOf_;
    std::mutex mutex_;
    std::array<Drive, kSlotRows + 1> drives_{};  // the last one for reports of no slot
};

// The step a status text announces: its heading, and whether a counter
// follows it ("** Random Seek Read **  LBA=  1A2B3C"). None for a text that
// is no step.
struct StatusStep {
    std::string_view heading;
    bool counted = false;
};
std::optional<StatusStep> StepOf(std::string_view status);

}  // namespace tamro::ui
