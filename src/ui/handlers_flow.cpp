// The screens and the tools: ACCEPT, CANCEL on the drive list, RUN., NewTEST,
// START, MicroCode DL, Exec and Scan.
//
// A handler that starts a worker starts it last: the worker's end enables
// controls (NewTEST, Scan), and a worker that ends at once must not have
// them disabled again after it.
#include "diagnostics/run_driver.h"
#include "diagnostics/worker_end.h"
#include "discovery/drive_table.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "microcode/microcode.h"
#include "platform/folders.h"
#include "transport/commands.h"
#include "ui/main_window.h"
#include "ui/window_model.h"

namespace tamro::ui {

namespace {

constexpr ControlId kSettings[] = {ControlId::ExtTest, ControlId::StdTest, ControlId::SmtTest,
                                   ControlId::ReadOnly, ControlId::WrtPermit};

void ZeroProgress() {
    Form().SetProgress(ControlId::PBar, 0);
    Form().SetProgress(ControlId::TBar, 0);
}

// EXIT and NewTEST in place of ACCEPT and CANCEL.
void ShowExitAndNewTest(bool newTestEnabled) {
    WindowModel& form = Form();
    form.Hide(ControlId::accept);
    form.Show(ControlId::EXIT);
    form.Enable(ControlId::EXIT);
    form.Show(ControlId::accept_p);
    form.Hide(ControlId::cancel);
    form.Show(ControlId::TEST);
    form.SetEnabled(ControlId::TEST, newTestEnabled);
    form.Show(ControlId::cancel_p);
}

void DisableTools() {
    WindowModel& form = Form();
    form.Disable(ControlId::Button8);
    form.Disable(ControlId::Button9);
    form.Disable(ControlId::DL);
}

}  // namespace

void acceptClick() {
    WindowModel& form = Form();
    form.Hide(ControlId::disclaimer);
    form.Hide(ControlId::accept_p);
    form.Hide(ControlId::cancel_p);
    for (ControlId id : {ControlId::info, ControlId::connect, ControlId::Panel4, ControlId::Panel3, ControlId::Button1})
        form.Show(id);
    form.Enable(ControlId::Button1);
    form.Hide(ControlId::WtComfirm);

    // A new pass starts read-only; the test mode stays as it was chosen.
    for (ControlId mode : {ControlId::ExtTest, ControlId::StdTest, ControlId::SmtTest}) form.Enable(mode);
    form.Enable(ControlId::ReadOnly);
    form.Check(ControlId::ReadOnly);
    form.SetFontColor(ControlId::ReadOnly, colors::kGreen);
    writePermitted = 0;
    form.Enable(ControlId::WrtPermit);
    form.Uncheck(ControlId::WrtPermit);
    form.SetFontColor(ControlId::WrtPermit, colors::kBlack);

    for (ControlId box : kSelectBoxes) form.Disable(box);
    ShowSlots();
    form.Show(ControlId::Button4);
    form.Enable(ControlId::Button4);
    ZeroProgress();
    form.Disable(ControlId::Button8);
    form.Enable(ControlId::Button9);
    form.Enable(ControlId::DL);
}

void Button1Click() {
    WindowModel& form = Form();
    form.Hide(ControlId::Panel3);
    form.Hide(ControlId::Panel4);
    ShowExitAndNewTest(true);
    DisableTools();
}

void Button4Click() {
    WindowModel& form = Form();
    for (ControlId box : kSelectBoxes) form.Disable(box);
    for (ControlId box : kSettings) form.Disable(box);
    form.Disable(ControlId::Button1);
    form.Disable(ControlId::Button4);
    ShowExitAndNewTest(false);
    DisableTools();
    // The run enables NewTEST when it ends.
    Runthread::Start();
}

void TESTClick() {
    WindowModel& form = Form();
    form.SetCaption(ControlId::DCONF, " ", colors::kNavy);
    form.Show(ControlId::disclaimer);
    form.Hide(ControlId::connect);
    form.Hide(ControlId::info);
    form.Disable(ControlId::TEST);
    form.Disable(ControlId::EXIT);
    form.Show(ControlId::RETESTL);
    form.Show(ControlId::Bevel15);
    form.Show(ControlId::RETEST);
}

void Button6Click() {
    WindowModel& form = Form();
    form.Hide(ControlId::RETEST);
    form.Hide(ControlId::TEST);
    form.Hide(ControlId::EXIT);
    form.Show(ControlId::ALARM);
    form.Show(ControlId::WAIT);
    form.Hide(ControlId::error);
    form.Disable(ControlId::OK);
    form.Show(ControlId::disclaimer);
    form.Disable(ControlId::accept);
    form.Disable(ControlId::cancel);
    form.Show(ControlId::accept);
    form.Show(ControlId::cancel);
    form.Show(ControlId::accept_p);
    form.Show(ControlId::cancel_p);
    form.Repaint();
    // Ends like the scan at construction: the disclaimer's buttons, or the alarm.
    Startthread::Start();
}

bool LoadChosenMicrocode() {
    WindowModel& form = Form();
    const auto chosen = form.ExecuteOpenDialog(platform::CurrentFolder());
    if (!chosen || !LoadMicrocodeImage(*chosen)) return false;
    if (form.Caption(ControlId::DCONF).starts_with(kMicrocodeRefusal)) {
        form.SetCaption(ControlId::DCONF, "");
        form.Repaint(ControlId::DCONF);
    }
    return true;
}

void DLClick() {
    WindowModel& form = Form();
    form.Disable(ControlId::Button8);
    if (LoadChosenMicrocode()) form.Enable(ControlId::Button8);
}

void Button8Click() {
    WindowModel& form = Form();
    DisableTools();
    form.Disable(ControlId::Button1);
    form.Disable(ControlId::Button4);
    // The download enables Scan when it ends; the boxes stay open to it.
    MicroCodethread::Start();
}

void Button9Click() {
    WindowModel& form = Form();
    // On this thread, to its end; a failure is not shown, the rows show what
    // the scan left. A library that keeps every request is the exception:
    // the rows would show an empty bus.
    if (ScanBuses() == -1 && RequestBlocksExhausted()) {
        StopForKeptRequests();
        return;
    }
    ShowSlots();
    form.SetCaption(ControlId::DCONF, " ");
    form.Enable(ControlId::DL);
    form.Enable(ControlId::Button1);
    form.Enable(ControlId::Button4);
    ZeroProgress();
}

}  // namespace tamro::ui
