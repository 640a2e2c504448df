#include "diagnostics/worker_end.h"

#include <chrono>
#include <string>
#include <thread>

#include "reports/drive_log.h"
#include "transport/commands.h"
#include "ui/window_model.h"

namespace tamro {

void ShowAnalysisFinished() {
    using ui::ControlId;
    ui::WindowModel& form = ui::Form();
    form.Enable(ControlId::TEST);
    form.SetCaption(ControlId::DCONF, "<< The above indicated drives analysis was finished.>>", ui::colors::kGreen);
    form.Repaint();
    form.SetPosition(ControlId::PBar, form.Maximum(ControlId::PBar));
    form.SetPosition(ControlId::TBar, form.Maximum(ControlId::TBar));
    const std::string percent = ui::ProgressText(form.Position(ControlId::PBar));
    form.SetCaption(ControlId::PBarLabel, percent);
    form.SetCaption(ControlId::TBarLabel, percent);
}

void StopForKeptRequests() { logparts::ShowAlarm(kRequestBlocksExhaustedText); }

void ParkWorker() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace tamro
