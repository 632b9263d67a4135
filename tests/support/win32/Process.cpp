#include "support/Process.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <thread>

#include "platform/TextCodec.h"

namespace tarven::test {
namespace {

constexpr DWORD kRunLimitMs = 120 * 1000;

std::u16string wide(const std::string& text) {
    return platform::utf8ToUtf16(text.data(), text.size());
}

// Closes the handle when it goes.
class Handle {
  public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE* out() {
        reset();
        return &handle_;
    }
    void reset() {
        if (handle_ != nullptr)
            ::CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    HANDLE handle_ = nullptr;
};

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

// The environment block: an extra entry replaces the inherited one of its name (names are
// case-blind here).
std::u16string environmentBlock(const std::vector<std::string>& environment) {
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
    return block;
}

// A pipe whose writing end alone is inheritable, so that no other child holds it open and its
// end of data arrives when the child is gone.
bool childPipe(Handle& read, Handle& write) {
    return ::CreatePipe(read.out(), write.out(), nullptr, 0) &&
           ::SetHandleInformation(write.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

// Whether the file is a Windows program. Wine starts a Linux program given to CreateProcessW
// as well, but outside the job and with the test's own output instead of the pipes, which then
// stay open for as long as it runs; and it reports the start as failed.
bool isWindowsProgram(const std::u16string& path) {
    const Handle file(::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char magic[2] = {};
    DWORD got = 0;
    return file.get() != nullptr && ::ReadFile(file.get(), magic, 2, &got, nullptr) && got == 2 &&
           magic[0] == 'M' && magic[1] == 'Z';
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, ProcessOptions options) {
    ProcessResult result;
    if (argv.empty())
        return result;
    std::u16string block = environmentBlock(environment);
    std::u16string line;
    for (const std::string& a : argv) {
        if (!line.empty())
            line += u' ';
        appendQuoted(line, wide(a));
    }

    Handle outRead, outWrite, errRead, errWrite;
    if (!childPipe(outRead, outWrite) || !childPipe(errRead, errWrite))
        return result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherit, OPEN_EXISTING, 0, nullptr));
    // The child and whatever it starts die with the job: when the limit is reached, and when
    // this process goes.
    const Handle job(::CreateJobObjectW(nullptr, nullptr));
    if (input.get() == nullptr || job.get() == nullptr)
        return result;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    // Only these three handles reach the child, even while other threads start programs.
    HANDLE inherited[] = {input.get(), outWrite.get(), errWrite.get()};
    SIZE_T attributeSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::unique_ptr<char[]> attributeBytes(new char[attributeSize]);
    const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBytes.get());
    if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize))
        return result;
    const std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, decltype(&::DeleteProcThreadAttributeList)>
        attributeList(attributes, ::DeleteProcThreadAttributeList);
    if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                     sizeof inherited, nullptr, nullptr))
        return result;

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = outWrite.get();
    startup.StartupInfo.hStdError = errWrite.get();
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION started{};
    const std::u16string program = wide(argv[0]);
    if (!isWindowsProgram(program)) {
        result.err = "cannot start " + argv[0] + ": not a Windows program";
        return result;
    }
    if (!::CreateProcessW(reinterpret_cast<const wchar_t*>(program.c_str()),
                          reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_SUSPENDED |
                              EXTENDED_STARTUPINFO_PRESENT,
                          reinterpret_cast<wchar_t*>(block.data()), nullptr, &startup.StartupInfo,
                          &started)) {
        result.err = "cannot start " + argv[0] + ": error " + std::to_string(::GetLastError());
        return result;
    }
    const Handle process(started.hProcess);
    const Handle thread(started.hThread);
    if (!::AssignProcessToJobObject(job.get(), process.get())) {
        ::TerminateProcess(process.get(), 1);
        return result;
    }
    outWrite.reset();
    errWrite.reset();
    if (options.noReader)
        outRead.reset();
    ::ResumeThread(thread.get());

    std::thread errReader([&] { drain(errRead.get(), result.err); });
    std::thread outReader;
    if (outRead.get() != nullptr)
        outReader = std::thread([&] { drain(outRead.get(), result.out); });
    if (::WaitForSingleObject(process.get(), kRunLimitMs) != WAIT_OBJECT_0)
        result.timedOut = true;
    // Whatever the child left behind would hold the pipes open.
    ::TerminateJobObject(job.get(), 1);
    ::WaitForSingleObject(process.get(), INFINITE);
    errReader.join();
    if (outReader.joinable())
        outReader.join();
    DWORD code = 0;
    if (!result.timedOut && ::GetExitCodeProcess(process.get(), &code))
        result.exitCode = static_cast<int>(code);
    if (result.timedOut)
        result.err += "[killed after " + std::to_string(kRunLimitMs / 1000) + " s]";
    return result;
}

std::string programFromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? value : "";
}

}  // namespace tarven::test
