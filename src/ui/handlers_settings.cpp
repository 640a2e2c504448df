// The run settings and the slot rows: the exclusive choices of test mode and
// write permission, the write question, the selection boxes and the log
// buttons.
#include <string>

#include "discovery/drive_table.h"
#include "platform/viewer.h"
#include "reports/drive_log.h"
#include "ui/main_window.h"
#include "ui/window_model.h"

namespace tamro::ui {

namespace {

constexpr ControlId kModes[] = {ControlId::ExtTest, ControlId::StdTest, ControlId::SmtTest};

// Runs on every change of a mode box, so the unchecks below come back here
// for the other boxes; the chosen box can only be left by choosing another.
void TestModeChanged(ControlId box) {
    WindowModel& form = Form();
    if (form.IsChecked(box)) {
        for (ControlId other : kModes)
            if (other != box) form.Uncheck(other);
        form.SetFontColor(box, colors::kGreen);
    } else {
        form.SetFontColor(box, colors::kBlack);
    }
    if (!form.IsChecked(ControlId::ExtTest) && !form.IsChecked(ControlId::StdTest) &&
        !form.IsChecked(ControlId::SmtTest)) {
        form.Check(box);
        form.SetFontColor(box, colors::kGreen);
    }
}

// Writes are permitted from the moment WrtPermit is chosen; the question only
// lets the operator take it back.
void AskForConfirmation() {
    writePermitted = 1;
    WindowModel& form = Form();
    form.Show(ControlId::WtComfirm);
    form.Disable(ControlId::info);
    form.Disable(ControlId::Panel3);
}

void CloseQuestion() {
    WindowModel& form = Form();
    form.Hide(ControlId::WtComfirm);
    form.Enable(ControlId::info);
    form.Enable(ControlId::Panel3);
}

void OpenLog(int n) {
    WindowModel& form = Form();
    platform::StartTextViewer(LogFileName(DriveTable[static_cast<std::size_t>(n)].serialNumber));
    // Unchecked at once, so the next click opens the log again.
    form.Uncheck(kLogButtons[n]);
    form.Focus(ControlId::connect);
}

void SelectionChanged(int n) {
    WindowModel& form = Form();
    form.SetCaption(kJudgeLabels[n], form.IsChecked(kSelectBoxes[n]) ? "" : "------ ");
    form.Repaint(kJudgeLabels[n]);
}

}  // namespace

void ExtTestClick() { TestModeChanged(ControlId::ExtTest); }
void StdTestClick() { TestModeChanged(ControlId::StdTest); }
void SmtTestClick() { TestModeChanged(ControlId::SmtTest); }

void ReadOnlyClick() {
    WindowModel& form = Form();
    if (form.IsChecked(ControlId::ReadOnly)) {
        form.Uncheck(ControlId::WrtPermit);
        form.SetFontColor(ControlId::ReadOnly, colors::kGreen);
        writePermitted = 0;
    } else {
        form.SetFontColor(ControlId::ReadOnly, colors::kBlack);
    }
    if (!form.IsChecked(ControlId::ReadOnly) && !form.IsChecked(ControlId::WrtPermit)) {
        form.Check(ControlId::ReadOnly);
        writePermitted = 0;
    }
}

void WrtpermitClick() {
    WindowModel& form = Form();
    if (form.IsChecked(ControlId::WrtPermit)) {
        form.Uncheck(ControlId::ReadOnly);
        form.SetFontColor(ControlId::WrtPermit, colors::kRed);
        AskForConfirmation();
    } else {
        form.SetFontColor(ControlId::WrtPermit, colors::kBlack);
    }
    if (!form.IsChecked(ControlId::ReadOnly) && !form.IsChecked(ControlId::WrtPermit)) {
        form.Check(ControlId::WrtPermit);
        AskForConfirmation();
    }
}

void WtOKClick() { CloseQuestion(); }

void WtNGClick() {
    Form().Check(ControlId::ReadOnly);
    ReadOnlyClick();
    CloseQuestion();
}

void ID0Click() { OpenLog(0); }
void ID1Click() { OpenLog(1); }
void ID2Click() { OpenLog(2); }
void ID3Click() { OpenLog(3); }
void ID4Click() { OpenLog(4); }
void ID5Click() { OpenLog(5); }
void ID6Click() { OpenLog(6); }

void ID0DClick() { SelectionChanged(0); }
void ID1DClick() { SelectionChanged(1); }
void ID2DClick() { SelectionChanged(2); }
void ID3DClick() { SelectionChanged(3); }
void ID4DClick() { SelectionChanged(4); }
void ID5DClick() { SelectionChanged(5); }
void ID6DClick() { SelectionChanged(6); }

}  // namespace tamro::ui
