// The auto-reset, unnamed completion event that ASPI requests signal.
#pragma once

#include <cstdint>
#include <memory>

namespace tamro::platform {

enum class WaitResult { Signalled, TimedOut, Abandoned, Failed };

class CompletionEvent {
public:
    virtual ~CompletionEvent() = default;

    // Waits until the event is signalled or timeoutMs have passed. A
    // successful wait consumes the signal (auto-reset).
    virtual WaitResult Wait(std::uint32_t timeoutMs) = 0;

    // Drops a pending signal. False when the event is unusable.
    virtual bool Reset() = 0;

    // Sets the event, as a library does when a request completes.
    virtual bool Signal() = 0;

    // The value that goes into SRB_PostProc.
    virtual void* Handle() const = 0;
};

// A new event, created non-signalled; null when the system refuses one.
std::unique_ptr<CompletionEvent> CreateCompletionEvent();

}  // namespace tamro::platform
