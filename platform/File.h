#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarven::platform {

// The separator between a directory and a name in a path.
extern const char16_t kPathSeparator;

// A file opened for reading only. The descriptor (or handle) is closed by close() or the
// destructor.
class FileReader {
  public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens an existing regular file; true on success. A directory counts as not openable.
    bool open(const char16_t* path);
    // Reads up to `size` bytes; returns the count read, 0 at the end, -1 on error.
    // A read that a signal interrupts is retried.
    long read(void* buffer, std::size_t size);
    void close();
    // Why the last open or read failed, in the system's words ("Permission denied"); empty
    // when it did not.
    const std::string& errorText() const { return error_; }

  private:
    std::intptr_t fd_ = -1;  // wide enough for a Windows handle, whose invalid value is -1 too
    std::string error_;
};

// Whether a path (UTF-8) names the same file whatever the working folder (and drive).
bool isAbsolutePath(const char* path);

// The path (UTF-8) that `path` names when read from the folder of the file at `base`: an
// absolute one as it is, a relative one joined to that folder. A base without a folder leaves
// it relative.
std::string pathBeside(const std::u16string& base, const std::string& path);

// Whether something exists at the path.
bool pathExists(const char16_t* path);

// Writes the running executable's full path, NUL-terminated, into `buffer` of `capacity`
// characters. Returns its length, or 0 when the path is unavailable or does not fit: a cut
// path would name the wrong directory.
int executablePath(char16_t* buffer, int capacity);

}  // namespace tarven::platform
