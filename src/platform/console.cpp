#include "platform/console.h"

#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace tamro::platform {

namespace {

std::function<void(InterruptKind)>& Stop() {
    static auto* stop = new std::function<void(InterruptKind)>;  // the handler may outlive static destruction
    return *stop;
}

std::mutex& StopMutex() {
    static auto* m = new std::mutex;
    return *m;
}

// One at a time, so that a second interrupt's words follow the first's.
void RunStop(InterruptKind kind) {
    std::lock_guard lock(StopMutex());
    Stop()(kind);
}

#ifdef _WIN32
BOOL WINAPI ConsoleHandler(DWORD event) {
    // Windows calls this on a thread of its own.
    RunStop(event == CTRL_C_EVENT ? InterruptKind::Interrupt : InterruptKind::Terminate);
    return TRUE;
}
#endif

}  // namespace

#ifdef _WIN32

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

namespace {

// The console window `stream` writes to, as columns and lines; none when it
// is no console.
std::optional<SMALL_RECT> ConsoleWindow(std::FILE* stream) {
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return std::nullopt;
    return info.srWindow;
}

}  // namespace

int TerminalColumns(std::FILE* stream) {
    const std::optional<SMALL_RECT> window = ConsoleWindow(stream);
    const int columns = window ? window->Right - window->Left + 1 : 0;
    return columns > 0 ? columns : 80;
}

int TerminalRows(std::FILE* stream) {
    const std::optional<SMALL_RECT> window = ConsoleWindow(stream);
    const int rows = window ? window->Bottom - window->Top + 1 : 0;
    return rows > 0 ? rows : 0;
}

const char* DriveAccessHint() {
    return "is the SCSI adapter's driver installed, and is the program run as an administrator?";
}

void OnInterrupt(std::function<void(InterruptKind)> stop) {
    Stop() = std::move(stop);
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

#else

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

int TerminalRows(std::FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_row;
}

const char* DriveAccessHint() {
    return "is the sg module loaded (modprobe sg), and may this user open /dev/sg* "
           "(a member of the group disk, after logging in again)?";
}

void OnInterrupt(std::function<void(InterruptKind)> stop) {
    Stop() = std::move(stop);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // Blocked here, and so in every thread started after; only the waiter
    // below takes them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        for (;;) {
            int taken = 0;
            if (sigwait(&signals, &taken) != 0) continue;
            RunStop(taken == SIGINT ? InterruptKind::Interrupt : InterruptKind::Terminate);
        }
    }).detach();
}

#endif

}  // namespace tamro::platform
