// Renders the window's main screens to PNG files, for looking at them
// without a display: render_screens <folder>. It walks the operator's way on
// the simulated bus: the disclaimer, the drive list, the write question, a
// finished download of the CV-7 sample, a finished Quick run, the retest
// question and the alarm of a failed scan.
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "sim_control.h"
#include "ui/main_window.h"
#include "ui/qt/form_view.h"

namespace {

using tamro::ui::ControlId;
using tamro::ui::Form;

bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 60000) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void Click(ControlId id) {
    if (!Form().OperatorClick(id)) std::fprintf(stderr, "%s cannot be clicked\n", tamro::ui::ControlName(id).data());
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string folder = argc > 1 ? argv[1] : ".";
    QApplication app(argc, argv);
    using namespace tamro::ui;
    InstallHandlers();
    qt::FormView view;
    view.show();
    view.activateWindow();  // the focused control is drawn ringed, as on a desktop
    bool ok = true;
    const auto render = [&](const char* name) {
        ok = qt::RenderToPng(view, QString::fromStdString(folder + "/" + name + ".png")) && ok;
    };

    sim_set_service_time_us(20000);  // keep the wait notice up while it is drawn
    ConstructForm();
    render("wait");
    sim_set_service_time_us(0);
    ok = WaitFor([] { return Form().IsEnabled(ControlId::accept) || Form().IsEnabled(ControlId::OK); }) && ok;
    render("disclaimer");

    Click(ControlId::accept);
    render("drive_list");

    Click(ControlId::WrtPermit);
    render("write_question");
    Click(ControlId::WtNG);

    // The sample image for the CV-7 series to the ticked drives, then Scan
    // back to the drive list.
    Form().SetFileChooser([](const FileRequest&) { return std::optional<std::string>(TAMRO_SAMPLES_DIR "/cv7-sample.frm"); });
    Click(ControlId::DL);
    Click(ControlId::Button8);
    ok = WaitFor([] { return Form().IsEnabled(ControlId::Button9); }) && ok;
    render("download_finished");
    Click(ControlId::Button9);

    Click(ControlId::SmtTest);
    Click(ControlId::Button4);
    ok = WaitFor([] { return Form().IsEnabled(ControlId::TEST); }) && ok;
    render("run_finished");

    Click(ControlId::TEST);
    render("retest_question");

    // START with the host adapters gone: the scan fails and the alarm stays.
    sim_set_support_status(0x00);
    Click(ControlId::Button6);
    ok = WaitFor([] { return Form().IsEnabled(ControlId::OK); }) && ok;
    render("alarm");

    std::printf("%s\n", ok ? "rendered" : "failed");
    std::fflush(nullptr);
    std::_Exit(ok ? 0 : 1);
}
