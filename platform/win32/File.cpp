#include "platform/File.h"

#include <windows.h>

#include <string>

#include "platform/TextCodec.h"

namespace tarven::platform {
namespace {

const wchar_t* wide(const char16_t* path) {
    return reinterpret_cast<const wchar_t*>(path);
}

// The system's own words for an error, without the line end it appends.
std::string errorWords(DWORD error) {
    wchar_t words[256] = {};
    DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, words, sizeof words / sizeof words[0], nullptr);
    while (length > 0 && (words[length - 1] == L'\n' || words[length - 1] == L'\r' ||
                          words[length - 1] == L'.' || words[length - 1] == L' '))
        --length;
    if (length == 0)
        return "error " + std::to_string(error);
    return utf16ToUtf8(reinterpret_cast<const char16_t*>(words), length);
}

}  // namespace

const char16_t kPathSeparator = u'\\';

FileReader::~FileReader() {
    close();
}

bool FileReader::open(const char16_t* path) {
    close();
    error_.clear();
    const DWORD attributes = ::GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error_ = errorWords(::GetLastError());
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error_ = "Is a directory";
        return false;
    }
    // Others may go on writing or replacing the file while it is read.
    const HANDLE handle = ::CreateFileW(wide(path), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error_ = errorWords(::GetLastError());
        return false;
    }
    fd_ = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

long FileReader::read(void* buffer, std::size_t size) {
    if (fd_ == -1)
        return -1;
    DWORD got = 0;
    const DWORD wanted = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    if (!::ReadFile(reinterpret_cast<HANDLE>(fd_), buffer, wanted, &got, nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_BROKEN_PIPE)
            return 0;
        error_ = errorWords(error);
        return -1;
    }
    return static_cast<long>(got);
}

void FileReader::close() {
    if (fd_ != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(fd_));
        fd_ = -1;
    }
}

bool isAbsolutePath(const char* path) {
    if (path == nullptr)
        return false;
    // "C:\..." or "C:/..."; "\\server\share", and "\..." from the current drive's root.
    const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || path[0] == '\\' || path[0] == '/';
}

bool pathExists(const char16_t* path) {
    return ::GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES;
}

int executablePath(char16_t* buffer, int capacity) {
    if (capacity <= 0)
        return 0;
    buffer[0] = 0;
    const DWORD got = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer),
                                           static_cast<DWORD>(capacity));
    // A path that fills the whole buffer was cut.
    if (got == 0 || got >= static_cast<DWORD>(capacity)) {
        buffer[0] = 0;
        return 0;
    }
    return static_cast<int>(got);
}

}  // namespace tarven::platform
