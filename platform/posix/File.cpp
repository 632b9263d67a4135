#include "platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstring>

#include <string>

#include "platform/TextCodec.h"

namespace tarven::platform {
namespace {

std::string errorWords(int error) {
    char words[256] = {};
    return ::strerror_r(error, words, sizeof words);
}

}  // namespace

const char16_t kPathSeparator = u'/';

FileReader::~FileReader() {
    close();
}

bool FileReader::open(const char16_t* path) {
    close();
    error_.clear();
    const std::string bytes = utf16ToUtf8(path);
    int fd;
    do {
        fd = ::open(bytes.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = errorWords(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        error_ = errorWords(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return false;
    }
    // Opened non-blocking only so that a FIFO cannot stall the open; reads block as usual.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

long FileReader::read(void* buffer, std::size_t size) {
    if (fd_ < 0)
        return -1;
    ssize_t got;
    do {
        got = ::read(static_cast<int>(fd_), buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        error_ = errorWords(errno);
    return static_cast<long>(got);
}

void FileReader::close() {
    if (fd_ >= 0) {
        ::close(static_cast<int>(fd_));
        fd_ = -1;
    }
}

bool isAbsolutePath(const char* path) {
    return path != nullptr && path[0] == '/';
}

std::string pathBeside(const std::u16string& base, const std::string& path) {
    if (isAbsolutePath(path.c_str()))
        return path;
    const std::size_t separator = base.find_last_of(u'/');
    if (separator == std::u16string::npos)
        return path;
    return utf16ToUtf8(base.substr(0, separator + 1).c_str()) + path;
}

bool pathExists(const char16_t* path) {
    struct stat st {};
    return ::stat(utf16ToUtf8(path).c_str(), &st) == 0;
}

int executablePath(char16_t* buffer, int capacity) {
    if (capacity <= 0)
        return 0;
    buffer[0] = 0;
    char bytes[PATH_MAX];
    const ssize_t got = ::readlink("/proc/self/exe", bytes, sizeof bytes - 1);
    if (got <= 0)
        return 0;
    const std::u16string wide = utf8ToUtf16(bytes, static_cast<std::size_t>(got));
    if (wide.size() >= static_cast<std::size_t>(capacity))
        return 0;
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = 0;
    return static_cast<int>(wide.size());
}

}  // namespace tarven::platform
