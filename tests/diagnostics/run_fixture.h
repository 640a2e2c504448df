// Set-up for the run driver and the slot display: buses the scan reads for
// real, the window's model at its design state, a fresh working folder for
// the logs, and readers of the trace and the log files.
#pragma once

#include <chrono>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/run_driver.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "sim_fixture.h"
#include "temp_folder.h"
#include "ui/window_model.h"

namespace tamro::test {

namespace fs = std::filesystem;
using ui::ControlId;

inline constexpr ControlId kBoxes[7] = {ControlId::ID0D, ControlId::ID1D, ControlId::ID2D, ControlId::ID3D,
                                        ControlId::ID4D, ControlId::ID5D, ControlId::ID6D};
inline constexpr ControlId kJudges[7] = {ControlId::J0, ControlId::J1, ControlId::J2, ControlId::J3,
                                         ControlId::J4, ControlId::J5, ControlId::J6};
inline constexpr ControlId kLines[7] = {ControlId::id0l, ControlId::id1l, ControlId::id2l, ControlId::id3l,
                                        ControlId::id4l, ControlId::id5l, ControlId::id6l};

class RunBus : public SimBus {
protected:
    void SetUp() override {
        SimBus::SetUp();
        sim_clear_bus();
        sim_set_completion(SIM_COMPLETE_IMMEDIATE);
        sim_add_adapter("SIMASPI", "RUN", 16, 15);
        ui::Form().Reset();
        folder = MakeTempFolder(std::string("tamro-run-") +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        previous = fs::current_path();
        fs::current_path(folder);
        Quick();
    }
    void TearDown() override {
        ui::Form().SetChangeListener(nullptr);
        fs::current_path(previous);
        fs::remove_all(folder);
        SimBus::TearDown();
    }

    static SimDiskConfig Disk(const char* serial, int vendor = SIM_VENDOR_HALCYON) {
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        cfg.serial = serial;
        cfg.vendor = vendor;
        cfg.last_lba = 199999;
        return cfg;
    }

    static void Quick() { SetMode(false, false, true); }
    static void Standard() { SetMode(false, true, false); }
    static void SetMode(bool ext, bool std, bool quick) {
        ui::Form().SetChecked(ControlId::ExtTest, ext);
        ui::Form().SetChecked(ControlId::StdTest, std);
        ui::Form().SetChecked(ControlId::SmtTest, quick);
    }

    // The scan and the slot display, as ACCEPT runs them; the trace then
    // holds only what the run sends.
    static void ScanAndShow() {
        ASSERT_EQ(ScanBuses(), 0);
        ShowSlots();
        sim_trace_clear();
    }

    static std::vector<std::uint8_t> Ops(int target) {
        std::vector<std::uint8_t> out;
        for (const auto& e : Trace())
            if (e.target == target) out.push_back(e.cdb[0]);
        return out;
    }

    static bool Sent(int target, std::uint8_t opcode) {
        for (std::uint8_t op : Ops(target))
            if (op == opcode) return true;
        return false;
    }

    static std::string Log(const std::string& serial) {
        std::ifstream in(serial + ".log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    fs::path folder, previous;
};

}  // namespace tamro::test
