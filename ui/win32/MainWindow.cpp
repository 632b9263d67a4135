#include "ui/win32/MainWindow.h"

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "log/LogView.h"
#include "request/RequestRun.h"
#include "ui/win32/AboutBox.h"
#include "ui/win32/ResourceIds.h"
#include "ui/win32/SingleInstance.h"

namespace tarven {
namespace {

constexpr UINT_PTR kRequestTimer = 1;
constexpr UINT_PTR kDeliveryTimer = 2;  // a log delivery the run's pacing put off
constexpr UINT kRequestPeriod = 3'600'000;
constexpr UINT kTrayMessage = WM_APP + 1000;  // 0x83E8
constexpr UINT kDeliverLogMessage = WM_APP + 1;
constexpr UINT kTrayIconId = 1;
// Asked by wParam's window, the window answers with its tray tip in a WM_COPYDATA.
constexpr const wchar_t* kTipQueryName = L"Tarven.TrayTip";
constexpr ULONG_PTR kTipCopyData = 1;

RECT childRect(HWND dialog, int id) {
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void moveChild(HWND dialog, int id, const RECT& rect) {
    MoveWindow(GetDlgItem(dialog, id), rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top, TRUE);
}

HICON loadIcon(HINSTANCE instance, int id, int size) {
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// Push buttons take Enter for themselves, so that Enter presses nothing (command 1).
LRESULT CALLBACK buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(button, GWLP_USERDATA));
    if (message == WM_GETDLGCODE && lParam != 0 &&
        reinterpret_cast<const MSG*>(lParam)->wParam == VK_RETURN)
        return DLGC_WANTMESSAGE | CallWindowProcW(previous, button, message, wParam, lParam);
    if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_RETURN)
        return 0;
    return CallWindowProcW(previous, button, message, wParam, lParam);
}

void takeEnter(HWND button) {
    const LONG_PTR previous =
        SetWindowLongPtrW(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&buttonProc));
    SetWindowLongPtrW(button, GWLP_USERDATA, previous);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {
    iconLarge_ = loadIcon(instance_, TARVEN_ICON_MAIN, 32);
    iconSmall_ = loadIcon(instance_, TARVEN_ICON_MAIN, 16);
    iconRunning_ = loadIcon(instance_, TARVEN_ICON_RUNNING, 16);
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
}

MainWindow::~MainWindow() {
    run_.leave();
    for (HICON icon : {iconLarge_, iconSmall_, iconRunning_}) {
        if (icon != nullptr)
            DestroyIcon(icon);
    }
}

INT_PTR MainWindow::run() {
    return DialogBoxParamW(instance_, MAKEINTRESOURCEW(TARVEN_MAIN_WINDOW), nullptr, dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainWindow::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<MainWindow*>(lParam);
        self->window_ = window;
        self->initialise();
        return FALSE;  // the focus is set
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    return self->handle(message, wParam, lParam);
}

void MainWindow::initialise() {
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconLarge_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall_));
    RECT outer{};
    GetWindowRect(window_, &outer);
    templateWindow_ = {outer.right - outer.left, outer.bottom - outer.top};
    RECT client{};
    GetClientRect(window_, &client);
    templateClient_ = {client.right, client.bottom};
    hideRect_ = childRect(window_, TARVEN_ID_HIDE);
    testRect_ = childRect(window_, TARVEN_ID_TEST);
    logRect_ = childRect(window_, TARVEN_ID_LOG);
    takeEnter(GetDlgItem(window_, TARVEN_ID_HIDE));
    takeEnter(GetDlgItem(window_, TARVEN_ID_TEST));
    log_ = std::make_unique<Win32EditControl>(GetDlgItem(window_, TARVEN_ID_LOG));
    SingleInstance::markWindow(window_);

    appendNarrow(*this, "** Init dialog.\r\n");
    addTrayIcon();
    SetTimer(window_, kRequestTimer, kRequestPeriod, nullptr);
    SetFocus(GetDlgItem(window_, TARVEN_ID_HIDE));
}

INT_PTR MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case TARVEN_ID_TEST:
                    runNow();
                    return TRUE;
                case TARVEN_ID_HIDE:  // also Escape
                    hideWindow();
                    return TRUE;
                case IDOK:  // Enter
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_TIMER:
            if (wParam == kRequestTimer) {
                runNow();
            } else if (wParam == kDeliveryTimer) {
                KillTimer(window_, kDeliveryTimer);
                deliverLog();
            }
            return FALSE;
        case WM_SYSCOMMAND:
            // The caption's help button: the about box instead of help on single controls.
            if ((wParam & 0xFFF0) == SC_CONTEXTHELP) {
                showAboutBox(instance_, window_);
                return TRUE;
            }
            return FALSE;
        case WM_HELP:
            showAboutBox(instance_, window_);
            return TRUE;
        case WM_GETMINMAXINFO:
            if (templateWindow_.cx > 0) {
                auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
                limits->ptMinTrackSize = {templateWindow_.cx, templateWindow_.cy};
            }
            return TRUE;
        case WM_SIZE:
            placeControls();
            return TRUE;
        case kDeliverLogMessage:
            deliverLog();
            return TRUE;
        case kTrayMessage:
            if (LOWORD(lParam) == WM_LBUTTONDOWN) {
                if (IsWindowVisible(window_)) {
                    ShowWindow(window_, SW_HIDE);
                } else {
                    showAndRaise();
                }
            }
            return FALSE;
        case WM_CLOSE:
            if (run_.running())
                endDuringRun();
            EndDialog(window_, 0);
            return TRUE;
        case WM_DESTROY:
            KillTimer(window_, kRequestTimer);
            KillTimer(window_, kDeliveryTimer);
            removeTrayIcon();
            run_.leave();
            SingleInstance::unmarkWindow(window_);
            log_.reset();
            return FALSE;
        default:
            break;
    }
    if (message == taskbarCreated_) {
        trayAdded_ = false;
        addTrayIcon();
        return FALSE;
    }
    if (message == SingleInstance::showMessage()) {
        showAndRaise();
        return TRUE;
    }
    if (message == RegisterWindowMessageW(kTipQueryName)) {
        answerTipQuery(reinterpret_cast<HWND>(wParam));
        return TRUE;
    }
    return FALSE;
}

void MainWindow::placeControls() {
    if (!log_)
        return;  // not initialised yet
    RECT client{};
    GetClientRect(window_, &client);
    const LONG wider = std::max<LONG>(client.right - templateClient_.cx, 0);
    const LONG taller = std::max<LONG>(client.bottom - templateClient_.cy, 0);
    // A log that showed its end still shows it at the new size.
    const bool showedEnd = log_->showsEnd();
    RECT hide = hideRect_;
    OffsetRect(&hide, wider, 0);
    RECT test = testRect_;
    OffsetRect(&test, wider, 0);
    RECT log = logRect_;
    log.right += wider;
    log.bottom += taller;
    moveChild(window_, TARVEN_ID_HIDE, hide);
    moveChild(window_, TARVEN_ID_TEST, test);
    moveChild(window_, TARVEN_ID_LOG, log);
    if (showedEnd)
        log_->showEnd();
}

EditControl* MainWindow::findControl(int id) {
    return id == kLogControlId ? log_.get() : nullptr;
}

void MainWindow::runNow() {
    if (run_.request())  // "TEST" is disabled during a run, so only a tick waits for its end
        startRun();
}

void MainWindow::startRun() {
    const HWND test = GetDlgItem(window_, TARVEN_ID_TEST);
    if (GetFocus() == test)
        SendMessageW(window_, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(GetDlgItem(window_, TARVEN_ID_HIDE)), TRUE);
    EnableWindow(test, FALSE);
    const HWND window = window_;
    run_.start(
        log_->text(), log_->characterLimit(),
        [window] { PostMessageW(window, kDeliverLogMessage, 0, 0); },
        [](Window& relay, std::string& answerHead) {
            RunEnvironment run;
            run.answerHead = &answerHead;
            return runRequest(relay, kDescriptionFileName, run);
        });
    showTrayState();
}

void MainWindow::deliverLog() {
    if (const auto delay = run_.deliveryDelay(); delay.count() > 0) {
        SetTimer(window_, kDeliveryTimer, static_cast<UINT>(delay.count()), nullptr);
        return;
    }
    KillTimer(window_, kDeliveryTimer);
    if (!run_.deliverTo(*log_))
        return;
    const platform::SystemClock clock;
    const bool again = run_.finish(log_->text(), clock.now());
    showTrayState();
    EnableWindow(GetDlgItem(window_, TARVEN_ID_TEST), TRUE);
    if (again)
        startRun();
}

// The program would end at once after the dialog anyway (the run is left to the process's end),
// so it ends here, before EndDialog hides the window: a hide can wait on the window system,
// about 2 s under Wine with no window manager, and a close during a run must end within 1 s.
void MainWindow::endDuringRun() {
    KillTimer(window_, kRequestTimer);
    removeTrayIcon();
    ExitProcess(0);
}

void MainWindow::hideWindow() {
    if (!IsWindowVisible(window_))
        return;
    // Without an icon in the tray a hidden window could not be had back.
    ShowWindow(window_, trayAdded_ ? SW_HIDE : SW_MINIMIZE);
}

void MainWindow::showAndRaise() {
    ShowWindow(window_, IsIconic(window_) ? SW_RESTORE : SW_SHOWNORMAL);
    SetForegroundWindow(window_);
}

void MainWindow::addTrayIcon() {
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof record;
    record.hWnd = window_;
    record.uID = kTrayIconId;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kTrayMessage;
    record.hIcon = run_.running() ? iconRunning_ : iconSmall_;
    run_.summary().trayTip().copy(reinterpret_cast<char16_t*>(record.szTip), kTrayTipLimit);
    trayAdded_ = Shell_NotifyIconW(NIM_ADD, &record) != FALSE;
}

void MainWindow::showTrayState() {
    if (!trayAdded_) {
        addTrayIcon();  // a shell that came without telling
        return;
    }
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof record;
    record.hWnd = window_;
    record.uID = kTrayIconId;
    record.uFlags = NIF_ICON | NIF_TIP;
    record.hIcon = run_.running() ? iconRunning_ : iconSmall_;
    run_.summary().trayTip().copy(reinterpret_cast<char16_t*>(record.szTip), kTrayTipLimit);
    if (!Shell_NotifyIconW(NIM_MODIFY, &record))
        addTrayIcon();
}

void MainWindow::removeTrayIcon() {
    if (!trayAdded_)
        return;
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof record;
    record.hWnd = window_;
    record.uID = kTrayIconId;
    Shell_NotifyIconW(NIM_DELETE, &record);
    trayAdded_ = false;
}

void MainWindow::answerTipQuery(HWND asker) const {
    if (asker == nullptr || !IsWindow(asker))
        return;
    const std::u16string& tip = run_.summary().trayTip();
    COPYDATASTRUCT data{};
    data.dwData = kTipCopyData;
    data.cbData = static_cast<DWORD>(tip.size() * sizeof(char16_t));
    data.lpData = const_cast<char16_t*>(tip.data());
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(asker, WM_COPYDATA, reinterpret_cast<WPARAM>(window_),
                        reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 1000, &ignored);
}

}  // namespace tarven
