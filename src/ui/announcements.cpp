#include "ui/announcements.h"

#include <algorithm>

namespace tamro::ui {

namespace {

// One announcement after another, each ending as a sentence does, so that a
// screen reader pauses between them.
void Append(std::string& text, const std::string& part) {
    if (!text.empty()) {
        const char last = text.back();
        if (last != '.' && last != '?' && last != '!' && last != '>') text += '.';
        text += ' ';
    }
    text += part;
}

}  // namespace

void AnnouncementQueue::Post(Announcement announcement) {
    if (announcement.weight == Weight::Passing) {
        const bool othersWait = std::any_of(waiting_.begin(), waiting_.end(),
                                            [](const Announcement& a) { return a.weight != Weight::Passing; });
        if (othersWait) return;
        waiting_.clear();
        waiting_.push_back(std::move(announcement));
        return;
    }
    std::erase_if(waiting_, [&announcement](const Announcement& a) {
        if (a.weight == Weight::Passing) return true;
        return a.weight == Weight::Step && (announcement.slot < 0 || a.slot == announcement.slot);
    });
    waiting_.push_back(std::move(announcement));
}

std::optional<std::string> AnnouncementQueue::Take(Clock::time_point now) {
    if (waiting_.empty() || (quietUntil_ && now < *quietUntil_)) return std::nullopt;
    std::string text;
    for (const Announcement& a : waiting_) Append(text, a.text);
    waiting_.clear();
    quietUntil_ = now + SpeakingTime(text);
    return text;
}

std::optional<Clock::time_point> AnnouncementQueue::NextDue() const {
    if (waiting_.empty()) return std::nullopt;
    return quietUntil_.value_or(Clock::time_point{});
}

void AnnouncementQueue::Clear() {
    waiting_.clear();
    quietUntil_.reset();
}

Clock::duration SpeakingTime(const std::string& text) {
    return std::max(kAnnouncementGap, kSpeakingTimePerCharacter * static_cast<long>(text.size()));
}

}  // namespace tamro::ui
