// The window as the engine's front end: what the engine reports becomes the
// controls' state, and its choices are the controls' (the ticked boxes, the
// test mode, the file the dialog chose). The first use of the window model
// attaches it.
#pragma once

#include <string>

#include "discovery/engine_observer.h"
#include "ui/narration.h"
#include "ui/window_model.h"

namespace tamro::ui {

// What the window says of the drives its seven rows cannot hold.
std::string MoreDrivesText(int count);

class WindowFrontEnd final : public EngineObserver, public WorkChoices {
public:
    explicit WindowFrontEnd(WindowModel& form)
        : form_(form), narration_([&form](ControlId id) { return form.Caption(id); }) {}

    void Status(int slot, std::string_view text, Tone tone, bool paint) override;
    void Judge(int slot, std::string_view text, Tone tone, bool paint) override;
    void Progress(int slot, Bar bar, int position, bool labelled) override;
    void LogWritten(int slot, const std::string& path) override;
    void ListReset(bool hidden) override;
    void DriveLine(int slot, std::string_view text, Tone tone) override;
    void Selectable(int slot, bool ticked) override;
    void DrivesBeyondRows(int count) override;
    void ScanFailure(std::string_view text) override;
    void ScanEnded(bool ok) override;
    void Alarm(std::string_view text) override;
    void WorkFinished(Work work) override;

    bool Chosen(int slot) const override;
    TestMode Mode() const override;
    std::string MicrocodeFileName() const override;

private:
    void Show(ControlId id, std::string_view text, Tone tone);
    void Tell(std::optional<Announcement> announcement);
    WindowModel& form_;
    Narration narration_;
};

}  // namespace tamro::ui
