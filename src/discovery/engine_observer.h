// What the engine (the scan, the run, the download) reports as it goes, and
// what it asks of whoever started it. The engine decides everything; a front
// end only renders it: the window model as captions, colours and bars, the
// command line as text and JSON. Workers report, several at once when drives
// are tested in parallel, so a front end is safe from any thread and never
// makes a worker wait.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tamro {

struct DriveReport;

// Both bars run from 0 to this.
inline constexpr int kProgressMaximum = 1000;

// The colour a text is shown in; Unchanged keeps the one it has.
enum class Tone : std::uint8_t { Unchanged, Black, Green, Maroon, Red, Navy };

// The whole work's bar and the bar of the drive's current procedure.
enum class Bar : std::uint8_t { Total, Test };

enum class TestMode { Quick, Standard, Extended };

enum class Work : std::uint8_t { Run, Download };

class EngineObserver {
public:
    virtual ~EngineObserver() = default;
    // What the worker on `slot` is doing now (-1: no slot). `paint`: at once.
    virtual void Status(int slot, std::string_view text, Tone tone, bool paint) = 0;
    // The slot's JUDGE text: "Run.", a verdict, or blank.
    virtual void Judge(int slot, std::string_view text, Tone tone, bool paint) = 0;
    // A bar moved; `labelled`: its percentage moves with it.
    virtual void Progress(int slot, Bar bar, int position, bool labelled) = 0;
    // The slot's log is complete and may be opened.
    virtual void LogWritten(int slot, const std::string& path) = 0;
    // The drive list: every line back to black and no log to open; with no
    // drive at all the list is hidden too.
    virtual void ListReset(bool hidden) = 0;
    virtual void DriveLine(int slot, std::string_view text, Tone tone) = 0;
    // Ticked and open to the operator, or unticked.
    virtual void Selectable(int slot, bool ticked) = 0;
    // How many drives the scan found past the seven rows (0: none).
    virtual void DrivesBeyondRows(int) {}
    // Why the scan failed, before it ends.
    virtual void ScanFailure(std::string_view text) = 0;
    // The scan's end: the disclaimer's buttons, or its failure as an alarm.
    virtual void ScanEnded(bool ok) = 0;
    // Nothing more can be done: `text` with OK to end the program.
    virtual void Alarm(std::string_view text) = 0;
    // Every chosen drive is done.
    virtual void WorkFinished(Work work) = 0;
    // A drive's record, once it is judged and its log written or refused:
    // what a front end reports of the drive, instead of the live slot.
    virtual void DriveReported(const std::shared_ptr<const DriveReport>&) {}
};

// Renders nothing: a base for a front end that wants only some of it.
class QuietObserver : public EngineObserver {
public:
    void Status(int, std::string_view, Tone, bool) override {}
    void Judge(int, std::string_view, Tone, bool) override {}
    void Progress(int, Bar, int, bool) override {}
    void LogWritten(int, const std::string&) override {}
    void ListReset(bool) override {}
    void DriveLine(int, std::string_view, Tone) override {}
    void Selectable(int, bool) override {}
    void ScanFailure(std::string_view) override {}
    void ScanEnded(bool) override {}
    void Alarm(std::string_view) override {}
    void WorkFinished(Work) override {}
};

// What was chosen; read whenever the engine needs it, as the window's
// controls are read, so a choice changed during a download counts.
class WorkChoices {
public:
    virtual ~WorkChoices() = default;
    virtual bool Chosen(int slot) const = 0;
    virtual TestMode Mode() const = 0;
    // The microcode file as the download's log names it.
    virtual std::string MicrocodeFileName() const = 0;
};

// Set before any work starts and kept for the process's life. Until then the
// engine reports to nobody and nothing is chosen.
void SetFrontEnd(EngineObserver& observer, const WorkChoices& choices);
EngineObserver& Observer();
const WorkChoices& Choices();

// The calling worker's reports, for the slot it works on.
void ShowStatus(std::string_view text, Tone tone = Tone::Unchanged, bool paint = true);
// Moves a bar of the calling worker, clamped to its range; PlaceBar leaves
// the percentage as it is.
void SetBar(Bar bar, int position);
void PlaceBar(Bar bar, int position);
// Where the calling worker last put the bar.
int BarPosition(Bar bar);

}  // namespace tamro
