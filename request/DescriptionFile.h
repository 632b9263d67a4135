#pragma once

#include <string>
#include <vector>

#include "text/PairBlock.h"

namespace tarven {

// Room for a full path, its NUL included.
inline constexpr int kPathCapacity = 260;

// The PairBlock that reads a description file: lines of "key value", where the key runs up to
// the first space or tab and the value starts after the blanks that follow it.
class DescriptionFile : public PairBlock {
  public:
    DescriptionFile() = default;
    ~DescriptionFile() override = default;

    // Reads and parses the file at `path`. Returns 1 when it was read, 0 when it cannot be
    // opened or no byte could be read from it (an empty file included); `why` then receives
    // the reason ("Permission denied", "the file is empty") when given.
    int loadDescription(const char16_t* path, std::string* why = nullptr);
    // Parses bytes already in memory; the same rules as loadDescription.
    void parse(char* bytes);
};

// The lines of a description file that do nothing without saying so, each as its number (from
// 1) and what is wrong with it: a key without a value, an indented line, a "TARVEN_" key that
// names no setting. The file's reading and parsing stay as they are.
struct SkippedLine {
    int number;
    std::string what;
};
std::vector<SkippedLine> skippedLines(const char16_t* path);

// Writes the directory of the running executable, without its trailing separator, into
// `buffer` of kPathCapacity characters. Returns its length; 0 when the directory is the root
// or the executable's path is unavailable.
int programDirectory(char16_t* buffer);

// Cuts a path at its last separator after the first character; the logic of
// programDirectory on a path already in `buffer`.
int cutAtLastSeparator(char16_t* buffer);

// Builds directory, separator and file name into `buffer` of kPathCapacity characters.
// False, with the buffer empty, when they do not fit: a cut path would name another file.
bool joinPath(char16_t* buffer, const char16_t* directory, const char16_t* fileName);

}  // namespace tarven
