#pragma once

#include <cstddef>
#include <cstdint>

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

  private:
    std::intptr_t fd_ = -1;  // wide enough for a Windows handle, whose invalid value is -1 too
};

// Whether something exists at the path.
bool pathExists(const char16_t* path);

// Writes the running executable's full path, NUL-terminated, into `buffer` of `capacity`
// characters. Returns its length, or 0 when the path is unavailable or does not fit: a cut
// path would name the wrong directory.
int executablePath(char16_t* buffer, int capacity);

}  // namespace tarven::platform
