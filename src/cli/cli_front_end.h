// The command line as the engine's front end: the choices come from the
// options, and what the engine reports becomes a progress display on stderr
// (bars on a terminal, one line per phase otherwise). Results are read from
// the drive table once the work is done.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"

namespace tamro::cli {

class CliFrontEnd final : public QuietObserver, public WorkChoices {
public:
    enum class Display { Bars, Lines, Quiet };
    CliFrontEnd(Display display, TestMode mode, std::string microcodeFile);

    // The drives to work on; from then on their progress is shown.
    void Choose(const std::array<bool, kSlotCount>& chosen);
    // The last texts of the status line and of the scan's failure.
    std::string LastStatus() const;
    std::string ScanFailureText() const;
    // The slot's record, null until its drive is judged.
    std::shared_ptr<const DriveReport> ReportOf(int slot) const;

    void Status(int slot, std::string_view text, Tone tone, bool paint) override;
    void Judge(int slot, std::string_view text, Tone tone, bool paint) override;
    void Progress(int slot, Bar bar, int position, bool labelled) override;
    void DriveReported(const std::shared_ptr<const DriveReport>& report) override;
    void ScanFailure(std::string_view text) override;
    void Alarm(std::string_view text) override;
    void WorkFinished(Work) override;

    bool Chosen(int slot) const override;
    TestMode Mode() const override { return mode_; }
    std::string MicrocodeFileName() const override { return microcodeFile_; }

private:
    struct Row {
        bool chosen = false;
        std::string phase;
        std::string verdict;
        int test = 0;
        std::shared_ptr<const DriveReport> report;
    };
    bool IsRow(int slot) const { return slot >= 0 && slot < kSlotCount; }
    void DrawLocked(bool force);
    void LineLocked(int slot, const std::string& text);

    const Display display_;
    const TestMode mode_;
    const std::string microcodeFile_;
    mutable std::mutex mutex_;
    std::array<Row, kSlotCount> rows_{};
    std::string status_;
    std::string scanFailure_;
    int drawnRows_ = 0;
    std::chrono::steady_clock::time_point drawn_{};
};

}  // namespace tamro::cli
