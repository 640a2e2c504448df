#include "platform/completion_event.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <algorithm>
#include <atomic>
#include <thread>
#include <chrono>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace tamro::platform {

#ifdef _WIN32

namespace {
class Win32Event final : public CompletionEvent {
public:
    explicit Win32Event(HANDLE h) : h_(h) {}
    ~Win32Event() override { CloseHandle(h_); }
    WaitResult Wait(std::uint32_t timeoutMs) override {
        switch (WaitForSingleObject(h_, timeoutMs)) {
            case WAIT_OBJECT_0: return WaitResult::Signalled;
            case WAIT_TIMEOUT: return WaitResult::TimedOut;
            case WAIT_ABANDONED: return WaitResult::Abandoned;
            default: return WaitResult::Failed;
        }
    }
    bool Reset() override { return ResetEvent(h_) != 0; }
    bool Signal() override { return SetEvent(h_) != 0; }
    void* Handle() const override { return h_; }

private:
    HANDLE h_;
};
}  // namespace

std::unique_ptr<CompletionEvent> CreateCompletionEvent() {
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (h == nullptr) return nullptr;
    return std::make_unique<Win32Event>(h);
}

#else

namespace {

// An eventfd: a library writes 1 to complete a request, a wait reads the
// counter back to zero. The descriptor is non-blocking so that a waiter whose
// poll saw the signal but lost the read to another reader goes on waiting
// instead of blocking past its time-out.
// Threads waiting for a completion now. Spinning pays only while a core is
// free for it: with more waiters than spare cores, a spin takes the time of
// the threads that would complete the requests.
class Waiting {
public:
    Waiting() : others_(Count().fetch_add(1, std::memory_order_relaxed)) {}
    ~Waiting() { Count().fetch_sub(1, std::memory_order_relaxed); }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;
    bool SpinPays() const {
        static const int spare = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
        return others_ < spare;
    }

private:
    static std::atomic<int>& Count() {
        static std::atomic<int> count{0};
        return count;
    }
    int others_;
};

class EventFdEvent final : public CompletionEvent {
public:
    explicit EventFdEvent(int fd) : fd_(fd) {}
    ~EventFdEvent() override { close(fd_); }

    WaitResult Wait(std::uint32_t timeoutMs) override {
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(timeoutMs);
        // A request that completes within microseconds is taken without
        // putting the thread to sleep; anything slower is waited for in poll.
        const Waiting waiting;
        const auto spinUntil = waiting.SpinPays() ? std::min(deadline, start + kSpin) : start;
        do {
            if (Consume()) return WaitResult::Signalled;
            if (errno != EAGAIN) return WaitResult::Failed;
        } while (Clock::now() < spinUntil);
        for (;;) {
            if (Consume()) return WaitResult::Signalled;
            if (errno != EAGAIN) return WaitResult::Failed;
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
            // Round up: a truncated remainder of 0 ms would spin, and a wait
            // must never end before its time-out.
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            pollfd p{fd_, POLLIN, 0};
            const int r = poll(&p, 1, static_cast<int>(ms));
            if (r < 0 && errno != EINTR) return WaitResult::Failed;
            if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) return WaitResult::Failed;
        }
    }

    bool Reset() override {
        if (Consume()) return true;
        return errno == EAGAIN;
    }

    bool Signal() override {
        const std::uint64_t one = 1;
        return write(fd_, &one, sizeof one) == static_cast<ssize_t>(sizeof one);
    }

    void* Handle() const override { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd_)); }

private:
    static constexpr std::chrono::microseconds kSpin{20};

    // True when a signal was taken; otherwise errno tells why not.
    bool Consume() {
        std::uint64_t value = 0;
        for (;;) {
            if (read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) return true;
            if (errno != EINTR) return false;
        }
    }

    int fd_;
};

}  // namespace

std::unique_ptr<CompletionEvent> CreateCompletionEvent() {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<EventFdEvent>(fd);
}

#endif

}  // namespace tamro::platform
