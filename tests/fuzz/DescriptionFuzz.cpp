// The description parser on arbitrary bytes, checked against a plain model of the file's
// syntax: lines end at CR or LF, the data ends at the first NUL, "#" lines and lines that begin
// with a blank are ignored, the key runs to the first blank and the value starts after the
// blanks that follow it; a key set again moves to the end.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "request/DescriptionFile.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

Entries modelParse(const std::string& bytes) {
    Entries entries;
    const std::string text = bytes.substr(0, bytes.find('\0'));
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty() || line[0] == '#' || isBlank(line[0]))
            continue;
        const std::size_t separator = line.find_first_of(" \t");
        if (separator == std::string::npos)
            continue;
        std::size_t value = separator + 1;
        while (value < line.size() && isBlank(line[value]))
            ++value;
        const std::string key = line.substr(0, separator);
        std::erase_if(entries, [&](const auto& entry) { return entry.first == key; });
        entries.emplace_back(key, line.substr(value));
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Held the way the loader holds a file: appended in read-sized chunks to a ByteBuffer.
    constexpr std::size_t kReadChunk = 510;
    tarven::ByteBuffer content;
    for (std::size_t at = 0; at < size; at += kReadChunk) {
        const std::size_t n = std::min(kReadChunk, size - at);
        FUZZ_CHECK(content.append(bytes.data() + at, static_cast<std::int32_t>(n)) ==
                   static_cast<std::int32_t>(n));
    }
    if (content.length == 0)
        return 0;

    tarven::DescriptionFile description;
    description.parse(content.data);

    const Entries expected = modelParse(bytes);
    Entries walked;
    for (char* p = description.first(); p != nullptr; p = description.next()) {
        walked.emplace_back(description.currentKey(), description.currentValue());
        FUZZ_CHECK(walked.size() <= expected.size());
    }
    FUZZ_CHECK(walked == expected);
    for (const auto& [key, value] : expected) {
        const char* found = description.valueOf(key.c_str());
        FUZZ_CHECK(found != nullptr && value == found);
    }
    return 0;
}
