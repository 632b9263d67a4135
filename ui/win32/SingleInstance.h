#pragma once

#include <windows.h>

namespace tarven {

// One desktop program per user session. The first start holds a named mutex in the session's
// namespace; a later start finds it taken, asks the first one's window to show itself and
// ends. The mutex goes with the process that held it, also when that one died.
class SingleInstance {
  public:
    enum class Start {
        first,        // this is the only one: go on, and mark the window with markWindow
        shownOther,   // another one runs and was asked to show its window
        otherSilent,  // another one holds the mutex but no window of it could be found
    };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Start start();

    // Marks the first one's main window, so that a later start finds it.
    static void markWindow(HWND window);
    static void unmarkWindow(HWND window);
    // The message a later start posts to the marked window: show and raise yourself.
    static UINT showMessage();

  private:
    HANDLE mutex_ = nullptr;
};

}  // namespace tarven
