#include "ui/window_front_end.h"

namespace tamro::ui {

namespace {

Rgb ColourOf(Tone tone) {
    switch (tone) {
        case Tone::Green: return colors::kGreen;
        case Tone::Maroon: return colors::kMaroon;
        case Tone::Red: return colors::kRed;
        case Tone::Navy: return colors::kNavy;
        default: return colors::kBlack;
    }
}

// The engine computes the bars' positions for the window's bars.
static_assert(kProgressMaximum == tamro::kProgressMaximum);

bool IsRow(int slot) { return slot >= 0 && slot < static_cast<int>(kSlotRows); }

}  // namespace

std::string MoreDrivesText(int count) {
    if (count == 1) return "1 more drive is on the bus than these seven rows show: tamro-cli tests every drive.";
    return std::to_string(count) +
           " more drives are on the bus than these seven rows show: tamro-cli tests every drive.";
}

void WindowFrontEnd::Show(ControlId id, std::string_view text, Tone tone) {
    if (tone == Tone::Unchanged)
        form_.SetCaption(id, text);
    else
        form_.SetCaption(id, text, ColourOf(tone));
}

void WindowFrontEnd::Tell(std::optional<Announcement> announcement) {
    if (announcement) form_.Announce(std::move(*announcement));
}

void WindowFrontEnd::Status(int slot, std::string_view text, Tone tone, bool paint) {
    Show(ControlId::DCONF, text, tone);
    if (paint) form_.Repaint(ControlId::DCONF);
    Tell(narration_.Status(slot, text, tone));
}

void WindowFrontEnd::Judge(int slot, std::string_view text, Tone tone, bool paint) {
    if (!IsRow(slot)) return;
    Show(kJudgeLabels[slot], text, tone);
    if (paint) form_.Repaint(kJudgeLabels[slot]);
    Tell(narration_.Judge(slot, text));
}

void WindowFrontEnd::Progress(int, Bar bar, int position, bool labelled) {
    const ControlId id = bar == Bar::Total ? ControlId::PBar : ControlId::TBar;
    if (labelled)
        form_.SetProgress(id, position);
    else
        form_.SetPosition(id, position);
}

void WindowFrontEnd::LogWritten(int slot, const std::string&) {
    if (IsRow(slot)) form_.Enable(kLogButtons[slot]);
}

void WindowFrontEnd::ListReset(bool hidden) {
    if (hidden) form_.Hide(ControlId::Panel3);
    for (std::size_t n = 0; n < kSlotRows; ++n) {
        form_.SetFontColor(kSlotLines[n], colors::kBlack);
        form_.Disable(kLogButtons[n]);
    }
}

void WindowFrontEnd::DriveLine(int slot, std::string_view text, Tone tone) {
    if (IsRow(slot)) Show(kSlotLines[slot], text, tone);
}

void WindowFrontEnd::Selectable(int slot, bool ticked) {
    if (!IsRow(slot)) return;
    if (ticked) {
        form_.Check(kSelectBoxes[slot]);
        form_.Enable(kSelectBoxes[slot]);
    } else {
        form_.Uncheck(kSelectBoxes[slot]);
    }
}

void WindowFrontEnd::DrivesBeyondRows(int count) {
    if (count <= 0) {
        form_.Hide(ControlId::MoreDrives);
        return;
    }
    const std::string text = MoreDrivesText(count);
    form_.SetCaption(ControlId::MoreDrives, text);
    form_.Show(ControlId::MoreDrives);
    form_.Announce({text, Weight::Kept});
}

void WindowFrontEnd::ScanFailure(std::string_view text) { form_.SetCaption(ControlId::error, text); }

void WindowFrontEnd::ScanEnded(bool ok) {
    if (!ok) {
        form_.Show(ControlId::ALARM);
        form_.Show(ControlId::error);
        form_.Enable(ControlId::OK);
        form_.Hide(ControlId::WAIT);
    } else {
        form_.Hide(ControlId::ALARM);
        form_.Hide(ControlId::WAIT);
        form_.Enable(ControlId::accept);
        form_.Enable(ControlId::cancel);
    }
}

void WindowFrontEnd::Alarm(std::string_view text) {
    form_.Hide(ControlId::WAIT);
    form_.SetCaption(ControlId::error, text);
    form_.Show(ControlId::error);
    form_.Show(ControlId::ALARM);
    form_.Enable(ControlId::OK);
    form_.Repaint(ControlId::ALARM);
}

void WindowFrontEnd::WorkFinished(Work work) {
    constexpr std::string_view kFinished = "<< The above indicated drives analysis was finished.>>";
    form_.Enable(ControlId::TEST);
    form_.SetCaption(ControlId::DCONF, kFinished, colors::kGreen);
    form_.Announce({std::string(kFinished), Weight::Kept});
    form_.Repaint();
    const std::string percent = ProgressText(form_.Position(ControlId::PBar));
    form_.SetCaption(ControlId::PBarLabel, percent);
    form_.SetCaption(ControlId::TBarLabel, percent);
    if (work == Work::Download) form_.Enable(ControlId::Button9);
}

bool WindowFrontEnd::Chosen(int slot) const { return IsRow(slot) && form_.IsChecked(kSelectBoxes[slot]); }

TestMode WindowFrontEnd::Mode() const {
    if (form_.IsChecked(ControlId::ExtTest)) return TestMode::Extended;
    if (form_.IsChecked(ControlId::StdTest)) return TestMode::Standard;
    return TestMode::Quick;
}

std::string WindowFrontEnd::MicrocodeFileName() const { return form_.OpenDialogFileName(); }

}  // namespace tamro::ui
