#include "support/Process.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <thread>

#include "platform/TextCodec.h"

namespace tarven::test {
namespace {

std::u16string wide(const std::string& text) {
    return platform::utf8ToUtf16(text.data(), text.size());
}

// One argument as the C runtime's command-line parser reads it back.
void appendQuoted(std::u16string& line, const std::u16string& argument) {
    line += u'"';
    std::size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, u'\\');
    line += u'"';
}

// Reads the pipe to its end into `into`.
void drain(HANDLE pipe, std::string& into) {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        into.append(buffer, got);
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, ProcessOptions) {
    ProcessResult result;
    if (argv.empty())
        return result;
    // An extra entry replaces the inherited one of its name (names are case-blind here).
    std::u16string block;
    const std::unique_ptr<wchar_t, decltype(&::FreeEnvironmentStringsW)> inherited(
        ::GetEnvironmentStringsW(), ::FreeEnvironmentStringsW);
    for (const wchar_t* e = inherited.get(); e != nullptr && *e != 0; e += std::wcslen(e) + 1) {
        const std::u16string entry(reinterpret_cast<const char16_t*>(e));
        const std::u16string name = entry.substr(0, entry.find(u'=', 1) + 1);
        bool replaced = false;
        for (const std::string& extra : environment) {
            const std::u16string extraName = wide(extra.substr(0, extra.find('=') + 1));
            replaced = replaced ||
                       ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(name.c_str()), -1,
                                              reinterpret_cast<const wchar_t*>(extraName.c_str()),
                                              -1, TRUE) == CSTR_EQUAL;
        }
        if (!replaced)
            block += entry + u'\0';
    }
    for (const std::string& extra : environment)
        block += wide(extra) + u'\0';
    block += u'\0';

    std::u16string line;
    for (const std::string& a : argv) {
        if (!line.empty())
            line += u' ';
        appendQuoted(line, wide(a));
    }

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!::CreatePipe(&outRead, &outWrite, &inherit, 0))
        return result;
    if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        ::CloseHandle(outRead);
        ::CloseHandle(outWrite);
        return result;
    }
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION child{};
    const std::u16string program = wide(argv[0]);
    const BOOL started = ::CreateProcessW(
        reinterpret_cast<const wchar_t*>(program.c_str()), reinterpret_cast<wchar_t*>(line.data()),
        nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
        reinterpret_cast<wchar_t*>(block.data()), nullptr, &startup, &child);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (started) {
        std::thread errReader([&] { drain(errRead, result.err); });
        drain(outRead, result.out);
        errReader.join();
        ::WaitForSingleObject(child.hProcess, INFINITE);
        DWORD code = 0;
        if (::GetExitCodeProcess(child.hProcess, &code))
            result.exitCode = static_cast<int>(code);
        ::CloseHandle(child.hThread);
        ::CloseHandle(child.hProcess);
    }
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    return result;
}

std::string programFromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? value : "";
}

}  // namespace tarven::test
