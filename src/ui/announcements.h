// What a listener is told as work goes on, at a pace a listener can take: a
// screen reader that is handed a new announcement while it still speaks the
// previous one cuts it short, so announcements wait for each other, and what
// piles up meanwhile is said in one go. Toolkit-free and clock-free: the
// caller says what time it is.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tamro::ui {

using Clock = std::chrono::steady_clock;

// How much an announcement matters when others pile up behind it.
enum class Weight : unsigned char {
    Passing,  // any other status: the latest wins, and only while nothing else waits
    Step,     // a drive's or a procedure's start: a later step of the drive replaces it
    Kept,     // a verdict, an error, the end of the work: never dropped
};

struct Announcement {
    std::string text;
    Weight weight = Weight::Passing;
    int slot = -1;  // the drive it is about; -1: the whole work
};

// Announcements never come closer than this, and a long one keeps the next
// waiting until it has been said.
inline constexpr Clock::duration kAnnouncementGap = std::chrono::seconds(2);
inline constexpr Clock::duration kSpeakingTimePerCharacter = std::chrono::milliseconds(70);

class AnnouncementQueue {
public:
    // A Kept or Step announcement drops what it makes stale: a waiting
    // Passing one, and a waiting step of its drive (of every drive, for the
    // end of the work). A Passing one waits only when nothing else does.
    void Post(Announcement announcement);

    // Everything waiting as one text, when the previous announcement has had
    // its time; none otherwise.
    std::optional<std::string> Take(Clock::time_point now);

    // When Take will have something; none when nothing waits.
    std::optional<Clock::time_point> NextDue() const;

    void Clear();

private:
    std::vector<Announcement> waiting_;
    std::optional<Clock::time_point> quietUntil_;
};

// How long a listener needs to hear `text`, at least the gap.
Clock::duration SpeakingTime(const std::string& text);

}  // namespace tamro::ui
