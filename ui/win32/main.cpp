// tarven.exe: the desktop program. It shows its window until the window is closed, and
// returns 0. --help and --version print and end: to the standard output the program was given
// (a pipe or file), else to the console it was started from, else in a message box, as a GUI
// program has no console of its own. Other arguments are ignored. A second start in the same
// session shows the first one's window and ends with 0.

#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string>

#include "BuildInfo.h"
#include "net/TlsSession.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/SingleInstance.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;

constexpr const char* kUsage =
    "Usage: tarven [--help | --version]\n"
    "Shows the Tarven window and sends the request described in tarven.txt when TEST is\n"
    "pressed and once an hour, also while the window is hidden in the notification area.\n"
    "A second start shows the window of the one already running.\n"
    "\n"
    "tarven.txt is looked for beside the program, then in %APPDATA%\\Tarven\\, then in\n"
    "%ProgramData%\\Tarven\\.\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n";

struct CloseHandleDeleter {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, CloseHandleDeleter>;

bool usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

bool writeAll(HANDLE handle, const std::string& text) {
    DWORD written = 0;
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// The text is ASCII, so the same bytes serve a pipe, a file and a console.
void tell(const std::string& text) {
    if (writeAll(GetStdHandle(STD_OUTPUT_HANDLE), text))
        return;
    if (!usable(GetStdHandle(STD_OUTPUT_HANDLE)) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        const OwnedHandle console(CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        const bool told = console.get() != INVALID_HANDLE_VALUE && writeAll(console.get(), text);
        FreeConsole();
        if (told)
            return;
    }
    const std::wstring wide(text.begin(), text.end());
    MessageBoxW(nullptr, wide.c_str(), L"Tarven", MB_OK | MB_ICONINFORMATION);
}

struct LocalFreeDeleter {
    void operator()(LPWSTR* arguments) const { LocalFree(arguments); }
};

// --help or --version when one of them is on the command line, else nothing.
std::wstring commandLineRequest() {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> arguments(
        CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments)
        return {};
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments.get()[i];
        if (argument == L"--help" || argument == L"-h" || argument == L"/?")
            return L"--help";
        if (argument == L"--version")
            return argument;
    }
    return {};
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const std::wstring request = commandLineRequest();
    if (request == L"--help") {
        tell(kUsage);
        return kExitDone;
    }
    if (request == L"--version") {
        tell(std::string("tarven ") + tarven::build::kVersion +
             "\nTLS: " + tarven::tlsLibraryVersion() + "\n");
        return kExitDone;
    }
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
