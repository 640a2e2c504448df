// Renders the window's screens to PNG files, for looking at them without a
// display: render_screens <folder>.
#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim_control.h"
#include "ui/main_window.h"
#include "ui/qt/form_view.h"

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string folder = argc > 1 ? argv[1] : ".";
    QApplication app(argc, argv);
    using namespace tamro::ui;
    InstallHandlers();
    qt::FormView view;
    view.show();
    sim_set_service_time_us(20000);  // keep the wait notice up while it is drawn
    ConstructForm();
    bool ok = qt::RenderToPng(view, QString::fromStdString(folder + "/wait.png"));
    sim_set_service_time_us(0);
    QElapsedTimer t;
    t.start();
    while (!Form().IsEnabled(ControlId::accept) && !Form().IsEnabled(ControlId::OK) && t.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    ok = qt::RenderToPng(view, QString::fromStdString(folder + "/disclaimer.png")) && ok;
    std::printf("%s\n", ok ? "rendered" : "failed");
    std::fflush(nullptr);
    std::_Exit(ok ? 0 : 1);
}
