#include "platform/viewer.h"

#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
extern char** environ;
#endif

namespace tamro::platform {

namespace {

std::mutex launcherMutex;
testing::ViewerLauncher launcher;

void SystemViewer(const std::string& fileName) {
#ifdef _WIN32
    const std::string commandLine = "notepad " + fileName;
    WinExec(commandLine.c_str(), SW_SHOWNORMAL);
#else
    // One argument and no shell, so nothing in the name is interpreted; a
    // name that begins with '-' would be taken for an option.
    std::string argument = fileName.starts_with('-') ? "./" + fileName : fileName;
    char program[] = "xdg-open";
    char* argv[] = {program, argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return;
    // Reaped on a thread of its own, so the window never waits for the viewer
    // and no zombie is left behind.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) == -1 && errno == EINTR) {
        }
    }).detach();
#endif
}

}  // namespace

void StartTextViewer(const std::string& fileName) {
    testing::ViewerLauncher chosen;
    {
        std::lock_guard lock(launcherMutex);
        chosen = launcher;
    }
    if (chosen)
        chosen(fileName);
    else
        SystemViewer(fileName);
}

namespace testing {
void SetViewerLauncher(ViewerLauncher replacement) {
    std::lock_guard lock(launcherMutex);
    launcher = std::move(replacement);
}
}  // namespace testing

}  // namespace tamro::platform
