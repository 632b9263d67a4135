#include "platform/File.h"

#include <windows.h>

namespace tarven::platform {
namespace {

const wchar_t* wide(const char16_t* path) {
    return reinterpret_cast<const wchar_t*>(path);
}

}  // namespace

const char16_t kPathSeparator = u'\\';

FileReader::~FileReader() {
    close();
}

bool FileReader::open(const char16_t* path) {
    close();
    const DWORD attributes = ::GetFileAttributesW(wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    // Others may go on writing or replacing the file while it is read.
    const HANDLE handle = ::CreateFileW(wide(path), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    fd_ = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

long FileReader::read(void* buffer, std::size_t size) {
    if (fd_ == -1)
        return -1;
    DWORD got = 0;
    const DWORD wanted = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    if (!::ReadFile(reinterpret_cast<HANDLE>(fd_), buffer, wanted, &got, nullptr))
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return static_cast<long>(got);
}

void FileReader::close() {
    if (fd_ != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(fd_));
        fd_ = -1;
    }
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
