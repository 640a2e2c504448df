// tamro-viewer <file>: shows one text file read-only. The main window starts
// it on a drive's log.
#include <QApplication>

#include "viewer/text_viewer.h"

int main(int argc, char** argv) {
    // Qt gets only the program's name: the one argument is the file, whatever
    // it looks like.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    tamro::viewer::TextViewer viewer(path);
    viewer.show();
    return app.exec();
}
