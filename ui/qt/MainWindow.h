#pragma once

#include <QDialog>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>

#include "request/RequestRun.h"
#include "ui/Window.h"

class QPushButton;

namespace tarven {

class QtEditControl;

inline constexpr auto kRequestPeriod = std::chrono::milliseconds(3'600'000);
inline constexpr int kCloseResult = 0;

// What the window takes from its surroundings. Tests put fixed ones in place of the system's;
// what `run` points to must outlive the window.
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
// request synchronously. "hide" and Escape hide the window (minimise it where the desktop has
// no notification area); a left click on the tray icon hides or shows it. Enter does nothing,
// F1 and the caption's help button open the about box. Closing ends the dialog with
// kCloseResult; ending or destroying it stops the timer and removes the icon.
class MainWindow final : public QDialog, public Window {
    Q_OBJECT
  public:
    explicit MainWindow(DesktopEnvironment environment = {});
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    EditControl* findControl(int id) override;
    void done(int result) override;

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void createControls();
    void createTrayIcon();
    void runNow();
    void hideWindow();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void showAbout();
    bool trayAvailable() const;
    void stopTimerAndRemoveIcon();

    DesktopEnvironment environment_;
    QtEditControl* log_ = nullptr;  // owned as a child widget
    QTimer requestTimer_;
    QSystemTrayIcon* trayIcon_ = nullptr;  // owned as a child; none when the tray is absent
};

}  // namespace tarven
