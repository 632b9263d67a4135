#include "platform/Console.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/TextCodec.h"

namespace tarven::platform {
namespace {

bool parseNumber(const char* begin, const char* end, std::uintmax_t& number) {
    const auto [last, error] = std::from_chars(begin, end, number);
    return error == std::errc() && last == end && begin != end;
}

}  // namespace

bool isJournalStream(std::FILE* stream) {
    const char* value = std::getenv("JOURNAL_STREAM");
    if (value == nullptr)
        return false;
    const char* colon = std::strchr(value, ':');
    std::uintmax_t device = 0;
    std::uintmax_t inode = 0;
    if (colon == nullptr || !parseNumber(value, colon, device) ||
        !parseNumber(colon + 1, value + std::strlen(value), inode))
        return false;
    struct stat st {};
    if (::fstat(::fileno(stream), &st) != 0)
        return false;
    return static_cast<std::uintmax_t>(st.st_dev) == device &&
           static_cast<std::uintmax_t>(st.st_ino) == inode;
}

bool readableByOthers(const char16_t* path) {
    struct stat st {};
    if (::stat(utf16ToUtf8(path).c_str(), &st) != 0)
        return false;
    return (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

void prepareStandardStreams() {
    // The log's writes then fail and are dropped instead of raising SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

void writeText(std::FILE* stream, const char* bytes, std::size_t count) {
    // Straight to the descriptor once what the stream holds has gone: a chunk of the answer
    // then costs one write, not a copy into the stream's buffer first.
    if (std::fflush(stream) != 0)
        return;
    const int fd = ::fileno(stream);
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

}  // namespace tarven::platform
