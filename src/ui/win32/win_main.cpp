// Start-up on Windows: the one window on the window's thread, the scan
// worker started by its construction. The command line is not read.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "ui/main_window.h"
#include "ui/win32/form_window.h"

namespace {

[[noreturn]] void End() {
    // A run or a download may still be working on its own thread: it sends
    // no further command, a drive it left in factory mode is switched back,
    // and it ends with the process rather than racing the destruction of
    // what it uses. Nothing is saved.
    tamro::ui::StopWorkForExit(tamro::ui::ExitBound());
    std::fflush(nullptr);
    std::_Exit(0);
}

void ShowFailure(const char* what) { MessageBoxA(nullptr, what, "TAMRO", MB_OK | MB_ICONERROR | MB_TASKMODAL); }

[[noreturn]] void ShowFailureAndEnd(const char* what) {
    ShowFailure(what);
    End();
}

// An exception that escapes a worker's thread entry ends up here, as one
// that escapes a window procedure ends up in ShowFailureAndEnd.
[[noreturn]] void Terminate() {
    std::string what = "Unexpected failure.";
    if (const std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
    }
    ShowFailureAndEnd(what.c_str());
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::set_terminate(Terminate);
    tamro::ui::win32::SetFailureHandler(ShowFailureAndEnd);
    // The controls hand their accessible objects to readers through COM;
    // without it they fall back to the system's nameless ones.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        tamro::ui::InstallHandlers();
        tamro::ui::win32::FormWindow window;
        window.Show();
        tamro::ui::ConstructForm();
        window.RunMessageLoop();
    } catch (const std::exception& e) {
        ShowFailure(e.what());
    } catch (...) {
        ShowFailure("Unexpected failure.");
    }
    End();
}
