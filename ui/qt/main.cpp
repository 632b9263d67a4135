// tarven: the desktop program. It shows its window until the window is closed, and returns 0.
// --help and --version print and end before any display is needed; other arguments are
// ignored, apart from the options Qt itself takes. A second start shows the first one's window
// and ends with 0.

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "BuildInfo.h"
#include "net/TlsSession.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/SingleInstance.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;

void printUsage() {
    std::fputs(
        "Usage: tarven [--help | --version]\n"
        "Shows the Tarven window and sends the request described in tarven.txt when TEST is\n"
        "pressed and once an hour, also while the window is hidden in the notification area.\n"
        "A second start shows the window of the one already running.\n"
        "\n"
        "tarven.txt is looked for beside the program, then in $XDG_CONFIG_HOME/tarven/\n"
        "(~/.config/tarven/ by default), then in /etc/tarven/.\n"
        "On a machine without a desktop, use tarven-cli.\n"
        "\n"
        "  --help     show this help and exit\n"
        "  --version  show the version and exit\n",
        stdout);
}

// Qt ends a program that gets no display with a fatal message and an abort, after warnings
// that name its plugins. While the application starts, this handler drops the warnings and
// turns the fatal message into one line and a plain failure.
void startupMessage(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtFatalMsg)
        return;
    std::fputs("tarven: no display; use tarven-cli on a machine without a desktop\n", stderr);
    std::fflush(stderr);
    std::_Exit(kExitFailed);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage();
            return kExitDone;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tarven %s\n", tarven::build::kVersion);
            std::printf("TLS: %s\n", tarven::tlsLibraryVersion().c_str());
            return kExitDone;
        }
    }

    bool leftRunBehind = false;
    {
        const QtMessageHandler previous = qInstallMessageHandler(startupMessage);
        QApplication application(argc, argv);
        qInstallMessageHandler(previous);

        tarven::SingleInstance instance;
        switch (instance.start()) {
            case tarven::SingleInstance::Start::first:
                break;
            case tarven::SingleInstance::Start::shownOther:
                return kExitDone;
            case tarven::SingleInstance::Start::otherSilent:
                std::fputs("tarven: another tarven is running but does not answer\n", stderr);
                return kExitFailed;
        }
        // The window hides into the notification area; only closing it ends the program.
        QApplication::setQuitOnLastWindowClosed(false);
        tarven::MainWindow window;
        QObject::connect(&window, &QDialog::finished, &application, [] { QApplication::quit(); });
        QObject::connect(&instance, &tarven::SingleInstance::showRequested, &window,
                         &tarven::MainWindow::showAndRaise);
        window.show();
        QApplication::exec();
        leftRunBehind = window.leftRunBehind();
    }
    // A run closed in mid-way is still on its thread: end at once, which closes its socket,
    // rather than run the static destructors beside it.
    if (leftRunBehind)
        std::quick_exit(kExitDone);
    return kExitDone;
}
