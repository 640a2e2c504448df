// Start-up: the one window on the window's thread, the scan worker started
// by its construction.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "ui/main_window.h"
#include "ui/qt/form_view.h"

namespace {

[[noreturn]] void End() {
    // A run or a download may still be working on its own thread: it sends
    // no further command, a drive it left in factory mode is switched back,
    // and it ends with the process rather than racing the destruction of
    // what it uses. Nothing is saved.
    tamro::ui::StopWorkForExit(tamro::ui::ExitBound());
    std::fflush(nullptr);
    std::_Exit(0);
}

void ShowFailure(const char* what) {
    QMessageBox::critical(nullptr, "TAMRO", QString::fromLocal8Bit(what));
}

// Qt cannot carry an exception out of an event handler, so one that escapes
// a handler is caught here, shown, and ends the program like one that
// escapes start-up.
class Application final : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            ShowFailure(e.what());
        } catch (...) {
            ShowFailure("Unexpected failure.");
        }
        End();
    }
};

}  // namespace

int main(int, char** argv) {
    // The program takes no arguments; Qt gets only the program's name so
    // that nothing on the command line changes its behaviour either.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    Application app(qtArgc, qtArgv);
    try {
        tamro::ui::InstallHandlers();
        tamro::ui::qt::FormView view;
        view.show();
        view.activateWindow();  // the keyboard is the window's from the start
        tamro::ui::ConstructForm();
        app.exec();
    } catch (const std::exception& e) {
        ShowFailure(e.what());
    } catch (...) {
        ShowFailure("Unexpected failure.");
    }
    End();
}
