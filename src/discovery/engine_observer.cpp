#include "discovery/engine_observer.h"

#include <algorithm>
#include <atomic>

#include "discovery/drive_table.h"

namespace tamro {

namespace {

class Nobody final : public QuietObserver, public WorkChoices {
public:
    bool Chosen(int) const override { return false; }
    TestMode Mode() const override { return TestMode::Quick; }
    std::string MicrocodeFileName() const override { return {}; }
};

Nobody nobody;
std::atomic<EngineObserver*> observer{&nobody};
std::atomic<const WorkChoices*> choices{&nobody};

// Each worker's bars: the engine computes the next position from the last.
thread_local int bars[2] = {0, 0};

int& Stored(Bar bar) { return bars[bar == Bar::Total ? 0 : 1]; }

void Move(Bar bar, int position, bool labelled) {
    Stored(bar) = std::clamp(position, 0, kProgressMaximum);
    Observer().Progress(currentSlot, bar, Stored(bar), labelled);
}

}  // namespace

void SetFrontEnd(EngineObserver& o, const WorkChoices& c) {
    observer.store(&o);
    choices.store(&c);
}

EngineObserver& Observer() { return *observer.load(std::memory_order_relaxed); }
const WorkChoices& Choices() { return *choices.load(std::memory_order_relaxed); }

void ShowStatus(std::string_view text, Tone tone, bool paint) { Observer().Status(currentSlot, text, tone, paint); }

void SetBar(Bar bar, int position) { Move(bar, position, true); }

void PlaceBar(Bar bar, int position) { Move(bar, position, false); }

int BarPosition(Bar bar) { return Stored(bar); }

}  // namespace tamro
