#include "platform/viewer.h"

#include <mutex>
#include <utility>

#include "platform/dynamic_library.h"

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
std::string programOverride;

void SystemViewer(const std::string& fileName) {
#ifdef _WIN32
    const std::string commandLine = "notepad " + fileName;
    WinExec(commandLine.c_str(), SW_SHOWNORMAL);
#else
    std::string program;
    {
        std::lock_guard lock(launcherMutex);
        program = programOverride;
    }
    // Beside the program, as the wnaspi32 library is: it opens on any
    // machine, with or without a desktop's own viewer.
    if (program.empty()) {
        const std::string folder = ExecutableFolder();
        if (folder.empty()) return;
        program = folder + "/tamro-viewer";
    }
    // The name is the one argument and no shell reads it.
    std::string argument = fileName;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return;
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

void SetViewerProgram(std::string path) {
    std::lock_guard lock(launcherMutex);
    programOverride = std::move(path);
}
}  // namespace testing

}  // namespace tamro::platform
