// tray-tip-probe: prints the tray tip of the running tarven.exe, for the desktop test. Trays
// under Wine and Xvfb show no tip one could read, so it asks the window itself: it sends the
// window the message "Tarven.TrayTip" and prints the WM_COPYDATA that comes back, as UTF-8.
// Exit status 0 with the tip printed, 1 when no window answered.

#include <windows.h>

#include <string>

namespace {

constexpr const wchar_t* kWindowMark = L"Tarven.MainWindow";
constexpr ULONG_PTR kTipCopyData = 1;

BOOL CALLBACK findMarked(HWND window, LPARAM found) {
    if (GetPropW(window, kWindowMark) == nullptr)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

struct Answer {
    bool came = false;
    std::wstring tip;
};

LRESULT CALLBACK probeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        auto* answer = reinterpret_cast<Answer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (answer != nullptr && data->dwData == kTipCopyData) {
            answer->tip.assign(static_cast<const wchar_t*>(data->lpData),
                               data->cbData / sizeof(wchar_t));
            answer->came = true;
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main() {
    HWND target = nullptr;
    EnumWindows(findMarked, reinterpret_cast<LPARAM>(&target));
    if (target == nullptr)
        return 1;
    WNDCLASSW probeClass{};
    probeClass.lpfnWndProc = probeProc;
    probeClass.hInstance = GetModuleHandleW(nullptr);
    probeClass.lpszClassName = L"TarvenTrayTipProbe";
    RegisterClassW(&probeClass);
    const HWND own = CreateWindowW(probeClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   nullptr, probeClass.hInstance, nullptr);
    if (own == nullptr)
        return 1;
    Answer answer;
    SetWindowLongPtrW(own, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&answer));
    // The answer is sent back while this send waits, so it has come when the send returns.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(target, RegisterWindowMessageW(L"Tarven.TrayTip"),
                        reinterpret_cast<WPARAM>(own), 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    DestroyWindow(own);
    if (!answer.came)
        return 1;
    std::string text(static_cast<std::size_t>(WideCharToMultiByte(
                         CP_UTF8, 0, answer.tip.data(), static_cast<int>(answer.tip.size()),
                         nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, answer.tip.data(), static_cast<int>(answer.tip.size()),
                        text.data(), static_cast<int>(text.size()), nullptr, nullptr);
    text += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
    return 0;
}
