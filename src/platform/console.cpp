#include "platform/console.h"

#include <atomic>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <unistd.h>
#endif

namespace tamro::platform {

namespace {

std::function<void()>& Stop() {
    static auto* stop = new std::function<void()>;  // the handler may outlive static destruction
    return *stop;
}

std::atomic<bool> taken{false};

void RunStopOnce() {
    if (!taken.exchange(true)) Stop()();
}

#ifdef _WIN32
BOOL WINAPI ConsoleHandler(DWORD) {
    RunStopOnce();  // Windows calls this on a thread of its own
    return TRUE;
}
#endif

}  // namespace

#ifdef _WIN32

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

void OnInterrupt(std::function<void()> stop) {
    Stop() = std::move(stop);
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

#else

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void OnInterrupt(std::function<void()> stop) {
    Stop() = std::move(stop);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked here, and so in every thread started after; only the waiter
    // below takes them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        int taken = 0;
        while (sigwait(&signals, &taken) != 0) {
        }
        RunStopOnce();
    }).detach();
}

#endif

}  // namespace tamro::platform
