// The command line as the engine's front end: the choices come from the
// options, and what the engine reports becomes a progress display on stderr
// (bars on a terminal, one line per phase otherwise). Results are read from
// the drive table once the work is done.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"

namespace tamro::cli {

using ProgressClock = std::chrono::steady_clock;

// How the display meets time and its terminal; tests give their own.
struct DisplayEnvironment {
    std::function<ProgressClock::time_point()> now = [] { return ProgressClock::now(); };
    std::function<int()> columns = [] { return 80; };
    // The terminal's height; 0: not known, every drive gets its line.
    std::function<int()> rows = [] { return 0; };
    // In a pipe, a drive at work that has said nothing this long says where
    // it is, so that a long phase never looks like a hang.
    ProgressClock::duration heartbeat = std::chrono::seconds(30);
    std::FILE* out = stderr;
};

// One drive's bar as a terminal shows it, never wider than `columns` - 1 (a
// line as wide as the terminal wraps on some, and a wrapped line is not
// drawn over the next time).
std::string BarLine(const std::string& name, int position, const std::string& elapsed, const std::string& what,
                    int columns);
// "0:02:05".
std::string ElapsedText(ProgressClock::duration elapsed);

class CliFrontEnd final : public QuietObserver, public WorkChoices {
public:
    enum class Display { Bars, Lines, Quiet };
    CliFrontEnd(Display display, TestMode mode, std::string microcodeFile, DisplayEnvironment environment = {});

    // The drives to work on, by slot; from then on their progress is shown.
    void Choose(const std::vector<bool>& chosen);
    // Bars: drawn again (the time moves on); lines: each drive at work that
    // has been silent for the heartbeat reports. A timer calls it.
    void Tick();
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
        std::optional<ProgressClock::time_point> started, ended;
        ProgressClock::time_point said{};  // its last line in a pipe
    };
    bool IsRow(int slot) const { return slot >= 0 && static_cast<std::size_t>(slot) < rows_.size(); }
    Row* ChosenRow(int slot);
    void StartLocked(Row& row, ProgressClock::time_point now);
    std::string ElapsedLocked(const Row& row, ProgressClock::time_point now) const;
    void DrawLocked(bool force);
    void LineLocked(int slot, const std::string& text, ProgressClock::time_point now);

    const Display display_;
    const TestMode mode_;
    const std::string microcodeFile_;
    const DisplayEnvironment env_;
    mutable std::mutex mutex_;
    std::vector<Row> rows_;
    std::string status_;
    std::string scanFailure_;
    int drawnRows_ = 0;
    std::optional<ProgressClock::time_point> drawn_;
};

}  // namespace tamro::cli
