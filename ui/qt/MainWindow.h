#pragma once

#include <QDialog>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <string>

#include "log/BackgroundRun.h"
#include "log/Window.h"
#include "request/RequestRun.h"

class QPushButton;

namespace tarven {

class QtEditControl;

inline constexpr auto kRequestPeriod = std::chrono::milliseconds(3'600'000);
inline constexpr int kCloseResult = 0;

// What the window takes from its surroundings. Tests put fixed ones in place of the system's;
// what `run` points to must outlive the window and any run it left behind (see below). The
// description path and the system folder are copied.
struct DesktopEnvironment {
    enum class Tray {
        fromPlatform,  // hide into the notification area when the desktop has one
        present,       // act as if there were one
        absent,        // act as if there were none: no icon, and "hide" minimises
    };
    RunEnvironment run;  // handed to every run
    Tray tray = Tray::fromPlatform;
};

// The program's window (template 104): the "hide" and "TEST" buttons and the log. Built, it
// has written "** Init dialog." to the log, put its icon in the notification area and started
// the hourly timer; the first run comes with the first tick. "TEST" and every tick run the
// request on a thread of its own, one run at a time, while the window goes on painting and
// answering; the log shows the run's text as it comes. "TEST" is disabled during a run, and a
// tick during a run makes one run right after it. "hide" and Escape hide the window (minimise
// it where the desktop has no notification area); a left click on the tray icon hides or shows
// it. Enter does nothing, F1 and the caption's help button open the about box. Closing ends
// the dialog with kCloseResult; ending or destroying it stops the timer and removes the icon,
// and leaves a run still going to end by itself on its thread, writing nowhere. The window
// opens at the template's size, its smallest; when it grows, the log grows with it, the
// buttons keep their places at the top right, and a log that showed its end still does.
// The tray icon's tip tells how the last run went (RunSummary.h), and during a run the icon is
// the clock (icon 105).
class MainWindow final : public QDialog, public Window {
    Q_OBJECT
  public:
    explicit MainWindow(DesktopEnvironment environment = {});
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    EditControl* findControl(int id) override;
    void done(int result) override;

    bool running() const { return run_.running(); }
    // Shows the window in its normal state, in front and active, as a second start asks.
    void showAndRaise();
    // True once the window has left a run going on its thread; the program must then end
    // without waiting for it.
    bool leftRunBehind() const { return run_.leftBehind(); }

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void createControls();
    void createTrayIcon();
    void placeControls();
    void runNow();
    void startRun();
    void deliverLog();
    void showTrayState();
    void hideWindow();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void showAbout();
    bool trayAvailable() const;
    void stopTimerAndRemoveIcon();

    DesktopEnvironment environment_;
    std::u16string descriptionPath_;  // copies of what environment_.run points to
    std::u16string systemConfigFolder_;
    QtEditControl* log_ = nullptr;  // owned as a child widget
    QPushButton* hide_ = nullptr;
    QPushButton* test_ = nullptr;
    // The template's size and places, in pixels. The window opens at that size, which is
    // also its smallest; what it grows by moves the buttons and widens the log.
    QSize templateSize_;
    QRect hideRect_;
    QRect testRect_;
    QRect logRect_;
    QWidget* focusDuringRun_ = nullptr;  // where the focus went when "TEST" had it at the start
    BackgroundRun run_;
    QTimer requestTimer_;
    QTimer deliveryTimer_;                 // a delivery the run's pacing put off
    QSystemTrayIcon* trayIcon_ = nullptr;  // owned as a child; none when the tray is absent
};

}  // namespace tarven
