// Tests that write drive logs: the simulated bus of SimBus, a fresh empty
// working folder per test, the window model at its design state, and a
// slot 0 that holds a scanned maker's drive.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "sim_fixture.h"
#include "temp_folder.h"
#include "ui/window_model.h"

namespace tamro::test {

inline constexpr char kStart[] = "Mon Jan 05 09:10:11 2026";
inline constexpr char kStop[] = "Mon Jan 05 09:40:02 2026";

// Verdict banners and totals, as the log spells them.
inline const std::string kFailBanner =
    "\r\n       **********\r\n       *  FAIL  *\r\n       **********\r\n\r\n";
inline const std::string kPassBanner =
    "\r\n       **********\r\n       *  PASS  *\r\n       **********\r\n\r\n";
inline const std::string kNoJudgeBanner =
    "\r\n       **************\r\n       *  NO Judge  *\r\n       **************\r\n\r\n";

class LogFolder : public SimBus {
protected:
    void SetUp() override {
        SimBus::SetUp();
        ui::Form().Reset();
        home_ = std::filesystem::current_path();
        folder_ = MakeTempFolder("tamro-log");
        std::filesystem::current_path(folder_);
        MakeScannedDrive();
    }

    void TearDown() override {
        std::filesystem::current_path(home_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        SimBus::TearDown();
    }

    // What a scan leaves for a healthy maker's drive at HA#0/ID00, with the
    // times of a run; no runFlags, no SMART page (logLayout 255).
    static void MakeScannedDrive() {
        DriveSlot& s = Slot();
        std::strcpy(s.startTime, kStart);
        std::strcpy(s.stopTime, kStop);
        s.inquiryData[4] = 75;
        std::memcpy(s.inquiryData + 8, "HALCYON HC-3182W        HA05", 28);
        std::strcpy(s.serialNumber, "SER12345");
        s.blockSize = 512;
        s.vendorClass = kVendorHalcyon;
        s.logLayout = 255;
        std::strcpy(s.lastError, "Initial status for comment.");
        std::strcpy(s.comment, "Initial status for comment.");
    }

    static std::string ReadFile(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Bytes from hex text (blanks ignored), for setting up sense data.
    static void Hex(std::uint8_t* out, const char* text) {
        for (; *text; ++text) {
            if (*text == ' ') continue;
            const char pair[3] = {text[0], text[1], 0};
            *out++ = static_cast<std::uint8_t>(std::strtoul(pair, nullptr, 16));
            ++text;
        }
    }

    std::filesystem::path folder_;

private:
    std::filesystem::path home_;
};

}  // namespace tamro::test
