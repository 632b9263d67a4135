// tarven.exe: the desktop program. It shows its window until the window is closed, and
// returns 0; the command line is ignored. A second start in the same session shows the first
// one's window and ends with 0.

#include <windows.h>

#include "ui/win32/MainWindow.h"
#include "ui/win32/SingleInstance.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    constexpr int kExitDone = 0;
    constexpr int kExitFailed = 1;
    tarven::SingleInstance single;
    switch (single.start()) {
        case tarven::SingleInstance::Start::first:
            break;
        case tarven::SingleInstance::Start::shownOther:
            return kExitDone;
        case tarven::SingleInstance::Start::otherSilent:
            return kExitFailed;
    }
    bool leftRunBehind = false;
    {
        tarven::MainWindow window(instance);
        window.run();
        leftRunBehind = window.leftRunBehind();
    }
    // A run closed in mid-way is still on its thread: end at once, which closes its socket,
    // rather than run the static destructors beside it. The tray icon is gone already.
    if (leftRunBehind)
        ExitProcess(kExitDone);
    return kExitDone;
}
