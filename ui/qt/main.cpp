// tarven: the desktop program. It shows its window until the window is closed, and returns 0.
// The command line is ignored, apart from the options Qt itself takes.

#include <QApplication>

#include "ui/qt/MainWindow.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The window hides into the notification area; only closing it ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    tarven::MainWindow window;
    QObject::connect(&window, &QDialog::finished, &application, [] { QApplication::quit(); });
    window.show();
    QApplication::exec();
    return 0;
}
