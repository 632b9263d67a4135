#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "log/BackgroundRun.h"
#include "log/Window.h"
#include "ui/win32/Win32EditControl.h"

namespace tarven {

// The program's window (template 104), shown as a modal dialog by run(). Initialised, it has
// written "** Init dialog." to the log, put its icon in the notification area and started
// timer 1 (one hour). "TEST" and every tick run the request on a thread of its own, one run at
// a time, while the window goes on painting; the run's log edits reach the window through a
// LogRelay, woken with a posted message. "TEST" is disabled during a run, and a tick during a
// run makes one run right after it. "hide" and Escape hide the window, a left click on the
// tray icon hides or shows it; Enter does nothing; the caption's help button and F1 open the
// about box. Closing ends the dialog with 0, stops the timer and removes the icon; closing
// during a run ends the process there and then, with 0, which also ends the run. The log
// grows with the window, and a log that showed its end still does. The tray tip tells how the
// last run went (RunSummary.h), and during a run the icon is the clock (icon 105).
class MainWindow final : public Window {
  public:
    explicit MainWindow(HINSTANCE instance);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Shows the window until it is closed; the dialog's result.
    INT_PTR run();
    EditControl* findControl(int id) override;
    // True once the window has left a run going on its thread; the program must then end
    // without waiting for it.
    bool leftRunBehind() const { return run_.leftBehind(); }

  private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void initialise();
    void placeControls();
    void runNow();
    void startRun();
    void deliverLog();
    [[noreturn]] void endDuringRun();
    void hideWindow();
    void showAndRaise();
    void addTrayIcon();
    void showTrayState();
    void removeTrayIcon();
    void answerTipQuery(HWND asker) const;

    HINSTANCE instance_;
    HWND window_ = nullptr;
    std::unique_ptr<Win32EditControl> log_;
    HICON iconLarge_ = nullptr;
    HICON iconSmall_ = nullptr;
    HICON iconRunning_ = nullptr;
    bool trayAdded_ = false;
    UINT taskbarCreated_ = 0;
    // The template's sizes and places in pixels; the window opens at that size, its smallest.
    SIZE templateWindow_{};
    SIZE templateClient_{};
    RECT hideRect_{};
    RECT testRect_{};
    RECT logRect_{};
    BackgroundRun run_;
};

}  // namespace tarven
