#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/TextCodec.h"

namespace tarven::platform {

// Windows has no journal, and no permission bits of the Linux kind.
bool isJournalStream(std::FILE*) {
    return false;
}

bool readableByOthers(const char16_t*) {
    return false;
}

void prepareStandardStreams() {
    // Binary mode: the log's CR LF must not become CR CR LF, and a pipe gets the same bytes as
    // on Linux. A reader that goes away only makes the writes fail; Windows raises no signal.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::vector<std::string> programArguments(int, char**) {
    // The narrow arguments come through the code page, which cannot hold every name; the wide
    // command line holds them all.
    std::vector<std::string> arguments;
    int count = 0;
    const std::unique_ptr<wchar_t*, decltype(&::LocalFree)> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count), ::LocalFree);
    for (int i = 1; wide != nullptr && i < count; ++i)
        arguments.push_back(utf16ToUtf8(reinterpret_cast<const char16_t*>(wide.get()[i])));
    return arguments;
}

void writeText(std::FILE* stream, const char* bytes, std::size_t count) {
    std::fflush(stream);
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) {
        std::fwrite(bytes, 1, count, stream);
        std::fflush(stream);
        return;
    }
    // A console takes wide text, which shows whatever the console's code page.
    const std::u16string wide = utf8ToUtf16(bytes, count);
    std::size_t written = 0;
    while (written < wide.size()) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(wide.size() - written, 8192));
        DWORD done = 0;
        if (!::WriteConsoleW(handle, wide.data() + written, part, &done, nullptr) || done == 0)
            return;
        written += done;
    }
}

}  // namespace tarven::platform
