// tarven: the desktop program. It shows its window until the window is closed, and returns 0.
// The command line is ignored, apart from the options Qt itself takes.

#include <QApplication>
#include <cstdlib>

#include "ui/qt/MainWindow.h"

int main(int argc, char** argv) {
    bool leftRunBehind = false;
    {
        QApplication application(argc, argv);
        // The window hides into the notification area; only closing it ends the program.
        QApplication::setQuitOnLastWindowClosed(false);
        tarven::MainWindow window;
        QObject::connect(&window, &QDialog::finished, &application, [] { QApplication::quit(); });
        window.show();
        QApplication::exec();
        leftRunBehind = window.leftRunBehind();
    }
    // A run closed in mid-way is still on its thread: end at once, which closes its socket,
    // rather than run the static destructors beside it.
    if (leftRunBehind)
        std::quick_exit(0);
    return 0;
}
