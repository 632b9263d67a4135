#include "request/DescriptionFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/File.h"
#include "platform/TextCodec.h"

namespace tarven {
namespace {

constexpr int kReadChunk = 510;
// The most a ByteBuffer takes: its storage, whole blocks with a NUL after the content, must fit
// a signed 32-bit size.
constexpr std::size_t kMaxContent =
    std::numeric_limits<std::int32_t>::max() / kBlockSize * kBlockSize - 1;

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The file's bytes; false, with the reason in `why`, when none could be read.
bool readWhole(const char16_t* path, std::string& bytes, std::string& why) {
    if (path == nullptr)
        return false;
    platform::FileReader file;
    if (!file.open(path)) {
        why = file.errorText();
        return false;
    }
    // The chunks are gathered first and handed to the buffer in one append: a buffer that grows
    // by one block per chunk is copied on every append where realloc cannot grow in place
    // (sanitizers, valgrind, other allocators), which made a 10 MB file take an hour.
    char scratch[kBlockSize];
    for (;;) {
        const long got = file.read(scratch, kReadChunk);
        if (got <= 0) {
            if (got < 0 && bytes.empty())
                why = file.errorText();
            break;
        }
        // Content that no longer fits 32 bits ends the reading like a read error.
        if (bytes.size() + static_cast<std::size_t>(got) > kMaxContent)
            break;
        bytes.append(scratch, static_cast<std::size_t>(got));
    }
    if (bytes.empty() && why.empty())
        why = "the file is empty";
    return !bytes.empty();
}

}  // namespace

int DescriptionFile::loadDescription(const char16_t* path, std::string* why) {
    std::string bytes;
    std::string reason;
    if (!readWhole(path, bytes, reason)) {
        if (why != nullptr)
            *why = reason;
        return 0;
    }
    ByteBuffer content;
    if (content.append(bytes.data(), static_cast<std::int32_t>(bytes.size())) == 0)
        return 0;
    parse(content.data);
    return 1;
}

void DescriptionFile::parse(char* bytes) {
    struct Entry {
        const char* key;
        const char* value;
    };
    std::vector<Entry> entries;
    char* p = bytes;
    for (bool more = true; more;) {
        while (isLineEnd(*p))
            ++p;
        if (*p == 0)
            break;
        char* const line = p;
        while (*p != 0 && !isLineEnd(*p))
            ++p;
        more = *p != 0;
        if (more)
            *p++ = 0;
        // A line that starts with a blank would store an empty key, which hides every entry
        // after it; such a line is ignored like one without a separator.
        if (*line == '#' || isBlank(*line))
            continue;
        char* separator = line;
        while (*separator != 0 && !isBlank(*separator))
            ++separator;
        if (*separator != 0) {
            *separator = 0;
            char* value = separator + 1;
            while (isBlank(*value))
                ++value;
            entries.push_back({line, value});
        }
    }
    if (first() != nullptr) {
        for (const Entry& entry : entries)
            set(entry.key, entry.value);
        return;
    }
    // Into an empty block, a set per line would search the whole block each time, which makes
    // a long file take hours. Keeping only each key's last line, in the order of those lines,
    // gives the same block in one pass.
    std::unordered_map<std::string_view, std::size_t> lastLine;
    for (std::size_t i = 0; i < entries.size(); ++i)
        lastLine[entries[i].key] = i;
    std::string content;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (lastLine[entries[i].key] != i)
            continue;
        content.append(entries[i].key).push_back('\0');
        content.append(entries[i].value).push_back('\0');
    }
    if (content.size() <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        storage->append(content.data(), static_cast<std::int32_t>(content.size()));
}

std::vector<SkippedLine> skippedLines(const char16_t* path) {
    static constexpr std::string_view kSettings[] = {
        "TARVEN_connect:",   "TARVEN_port:", "TARVEN_request:", "TARVEN_postbody:",
        "TARVEN_basicauth:", "TARVEN_tls:",  "TARVEN_cafile:",
    };
    std::vector<SkippedLine> skipped;
    std::string bytes;
    std::string why;
    if (!readWhole(path, bytes, why))
        return skipped;
    // The parse ends at the first NUL, and so does this.
    const std::string_view text(bytes.c_str());
    int number = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at;
        while (end < text.size() && !isLineEnd(text[end]))
            ++end;
        ++number;
        const std::string_view line = text.substr(at, end - at);
        at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t separator = 0;
        while (separator < line.size() && !isBlank(line[separator]))
            ++separator;
        if (separator == 0) {
            if (line.find_first_not_of(" \t") != std::string_view::npos)
                skipped.push_back({number, "the line is indented and is skipped"});
            continue;
        }
        const std::string key(line.substr(0, separator));
        if (separator == line.size()) {
            skipped.push_back({number, "'" + key + "' has no value; the line is skipped"});
            continue;
        }
        if (key.starts_with("TARVEN_") &&
            std::none_of(std::begin(kSettings), std::end(kSettings), [&key](std::string_view s) {
                return s.size() == key.size() &&
                       std::equal(s.begin(), s.end(), key.begin(),
                                  [](char a, char b) { return lower(a) == lower(b); });
            }))
            skipped.push_back({number, "'" + key + "' names no setting and is ignored"});
    }
    return skipped;
}

int cutAtLastSeparator(char16_t* buffer) {
    const int length = static_cast<int>(platform::wideLength(buffer));
    for (int i = length - 1; i >= 1; --i) {
        if (buffer[i] == platform::kPathSeparator) {
            buffer[i] = 0;
            return i;
        }
    }
    buffer[0] = 0;
    return 0;
}

int programDirectory(char16_t* buffer) {
    std::fill_n(buffer, kPathCapacity, u'\0');
    if (platform::executablePath(buffer, kPathCapacity) == 0) {
        buffer[0] = 0;
        return 0;
    }
    return cutAtLastSeparator(buffer);
}

bool joinPath(char16_t* buffer, const char16_t* directory, const char16_t* fileName) {
    const std::size_t dirLength = platform::wideLength(directory);
    const std::size_t nameLength = platform::wideLength(fileName);
    buffer[0] = 0;
    if (dirLength + 1 + nameLength + 1 > static_cast<std::size_t>(kPathCapacity))
        return false;
    std::copy_n(directory, dirLength, buffer);
    buffer[dirLength] = platform::kPathSeparator;
    std::copy_n(fileName, nameLength, buffer + dirLength + 1);
    buffer[dirLength + 1 + nameLength] = 0;
    return true;
}

}  // namespace tarven
