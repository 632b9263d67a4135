#include "ui/win32/SingleInstance.h"

namespace tarven {
namespace {

constexpr const wchar_t* kMutexName = L"Local\\Tarven.Desktop";
constexpr const wchar_t* kWindowMark = L"Tarven.MainWindow";
constexpr const wchar_t* kShowMessageName = L"Tarven.ShowWindow";
// The first one may hold the mutex a moment before its window exists.
constexpr int kFindTries = 50;
constexpr DWORD kFindPause = 100;

BOOL CALLBACK findMarked(HWND window, LPARAM found) {
    if (GetPropW(window, kWindowMark) == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

SingleInstance::~SingleInstance() {
    if (mutex_ != nullptr)
        CloseHandle(mutex_);
}

SingleInstance::Start SingleInstance::start() {
    mutex_ = CreateMutexW(nullptr, FALSE, kMutexName);
    if (mutex_ == nullptr || GetLastError() != ERROR_ALREADY_EXISTS)
        return Start::first;  // also where no mutex can be had: better two than none
    for (int i = 0; i < kFindTries; ++i) {
        HWND other = nullptr;
        EnumWindows(findMarked, reinterpret_cast<LPARAM>(&other));
        if (other != nullptr) {
            DWORD otherProcess = 0;
            GetWindowThreadProcessId(other, &otherProcess);
            AllowSetForegroundWindow(otherProcess);
            if (PostMessageW(other, showMessage(), 0, 0))
                return Start::shownOther;
        }
        Sleep(kFindPause);
    }
    return Start::otherSilent;
}

void SingleInstance::markWindow(HWND window) {
    SetPropW(window, kWindowMark, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
}

void SingleInstance::unmarkWindow(HWND window) {
    RemovePropW(window, kWindowMark);
}

UINT SingleInstance::showMessage() {
    return RegisterWindowMessageW(kShowMessageName);  // the same number for every caller
}

}  // namespace tarven
