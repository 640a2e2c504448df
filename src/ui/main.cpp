// Start-up: the one window on the window's thread, the scan worker started
// by its construction.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "ui/main_window.h"
#include "ui/qt/form_view.h"

int main(int, char** argv) {
    // The program takes no arguments; Qt gets only the program's name so
    // that nothing on the command line changes its behaviour either.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    try {
        tamro::ui::InstallHandlers();
        tamro::ui::qt::FormView view;
        view.show();
        tamro::ui::ConstructForm();
        app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "TAMRO", QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, "TAMRO", "Unexpected failure.");
    }
    // A run or a scan may still be working on its own thread; it ends with
    // the process rather than racing the destruction of what it uses.
    std::fflush(nullptr);
    std::_Exit(0);
}
