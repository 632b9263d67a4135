#include "platform/File.h"

#include <windows.h>

#include <algorithm>
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

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// "C:" and the like.
bool hasDrive(const char* path) {
    return ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':';
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
    // "C:\..." or "C:/...", and "\\server\share". "\x" (the current drive's root) and "C:x"
    // (drive C's working folder) depend on the working state, as a relative path does.
    return (hasDrive(path) && isSeparator(path[2])) ||
           (isSeparator(path[0]) && isSeparator(path[1]));
}

std::string pathBeside(const std::u16string& base, const std::string& path) {
    if (isAbsolutePath(path.c_str()))
        return path;
    const std::string from = utf16ToUtf8(base.c_str());
    if (isSeparator(path[0])) {
        // The root of the base's own drive or share.
        std::size_t root = 0;
        if (hasDrive(from.c_str())) {
            root = 2;
        } else if (isSeparator(from[0]) && isSeparator(from[1])) {
            const std::size_t server = from.find_first_of("\\/", 2);
            root = server == std::string::npos
                       ? from.size()
                       : std::min(from.find_first_of("\\/", server + 1), from.size());
        }
        return root == 0 ? path : from.substr(0, root) + path;
    }
    std::size_t folder = from.find_last_of("\\/");
    folder = folder == std::string::npos ? (hasDrive(from.c_str()) ? 2 : 0) : folder + 1;
    if (hasDrive(path.c_str())) {
        // Another drive's working folder is the system's to find.
        if (!hasDrive(from.c_str()) || (from[0] | 0x20) != (path[0] | 0x20))
            return path;
        return from.substr(0, folder) + path.substr(2);
    }
    return from.substr(0, folder) + path;
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
