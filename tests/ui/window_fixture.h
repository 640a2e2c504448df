// The window's model with its handlers, headless, on the simulator's default
// bus, in a fresh folder of its own for the log files.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "discovery/drive_table.h"
#include "platform/viewer.h"
#include "sim_control.h"
#include "temp_folder.h"
#include "transport/aspi.h"
#include "transport/commands.h"
#include "ui/main_window.h"
#include "ui/window_model.h"

namespace tamro::test {

using ui::ControlId;
using ui::Form;

// Polls, never waits for one of the program's own time-outs.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The viewer's stand-in: remembers every file it was started on.
struct ViewerCalls {
    std::mutex mutex;
    std::vector<std::string> files;
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex);
        return files;
    }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::filesystem::current_path();
        folder_ = MakeTempFolder("tamro-window");
        std::filesystem::current_path(folder_);

        testing::ClearStopRequest();
        testing::ReleaseAspiBinding();
        testing::SetAspiModuleName("wnaspi32");
        testing::SetAspiWaits(AspiWaits{});
        testing::SetEventFactory(nullptr);
        sim_reset_default();
        sim_set_service_time_us(0);

        ui::Form().Reset();
        ui::InstallHandlers();
        writePermitted = 0;  // as at the program's start
        platform::testing::SetViewerLauncher([this](const std::string& name) {
            std::lock_guard lock(viewer.mutex);
            viewer.files.push_back(name);
        });
        Form().SetFileChooser([this](const ui::FileRequest& request) {
            lastRequest = {std::string(request.title), std::string(request.filter),
                           std::string(request.initialFolder)};
            return chooserAnswer;
        });
    }

    void TearDown() override {
        platform::testing::SetViewerLauncher(nullptr);
        Form().SetFileChooser(nullptr);
        sim_clear_faults();
        testing::ClearStopRequest();
        testing::ReleaseAspiBinding();
        std::filesystem::current_path(home_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Construction, then the scan worker to its end.
    void Start() {
        ui::ConstructForm();
        ASSERT_TRUE(WaitUntil([] { return Form().IsEnabled(ControlId::accept) || Form().IsEnabled(ControlId::OK); }));
        ASSERT_TRUE(Form().IsEnabled(ControlId::accept)) << Form().Caption(ControlId::error);
    }

    // The disclaimer accepted: the drive list.
    void StartAndAccept() {
        Start();
        if (HasFatalFailure()) return;
        Click(ControlId::accept);
    }

    static void Click(ControlId id) { ASSERT_TRUE(Form().OperatorClick(id)) << ui::ControlName(id) << " refused"; }
    static bool Showing(ControlId id) { return Form().IsShowing(id); }
    // What the operator can click.
    static bool Usable(ControlId id) { return Form().IsShowing(id) && Form().IsEffectivelyEnabled(id); }

    static bool RunEnded() { return Form().IsEnabled(ControlId::TEST); }

    std::filesystem::path folder_;
    ViewerCalls viewer;
    std::optional<std::string> chooserAnswer;
    struct Request {
        std::string title, filter, initialFolder;
    };
    std::optional<Request> lastRequest;

private:
    std::filesystem::path home_;
};

inline constexpr ControlId kSelect[kSlotCount] = {ControlId::ID0D, ControlId::ID1D, ControlId::ID2D, ControlId::ID3D,
                                                  ControlId::ID4D, ControlId::ID5D, ControlId::ID6D};
inline constexpr ControlId kJudge[kSlotCount] = {ControlId::J0, ControlId::J1, ControlId::J2, ControlId::J3,
                                                 ControlId::J4, ControlId::J5, ControlId::J6};
inline constexpr ControlId kLogButton[kSlotCount] = {ControlId::ID0, ControlId::ID1, ControlId::ID2, ControlId::ID3,
                                                     ControlId::ID4, ControlId::ID5, ControlId::ID6};
// Every target of the default bus's two adapters.
inline bool AnyDriveInFactoryMode() {
    for (int ha = 0; ha < 2; ++ha)
        for (int id = 0; id < 16; ++id)
            if (sim_disk_factory_mode(ha, id) == 1) return true;
    return false;
}

inline constexpr ControlId kModes[] = {ControlId::ExtTest, ControlId::StdTest, ControlId::SmtTest};

}  // namespace tamro::test
