#pragma once

#include <cstddef>
#include <string>

namespace tarven::platform {

// Multi-byte text on this system is UTF-8. Bytes that do not decode become U+FFFD, one for each
// maximal ill-formed subsequence, so a bad byte never costs the rest of the text.
// Returns the number of UTF-16 units the bytes convert to; writes them to `out` when given,
// which must have room for that many.
std::size_t utf8ToUtf16(const char* bytes, std::size_t count, char16_t* out);

std::u16string utf8ToUtf16(const char* bytes, std::size_t count);

// What utf8ToUtf16 makes of the bytes, found without converting them: the number of units, and
// whether the bytes are well-formed throughout, so that converting them to UTF-16 and back
// gives the same bytes.
struct Utf8Measure {
    std::size_t units = 0;
    bool wellFormed = true;
};
Utf8Measure measureUtf8(const char* bytes, std::size_t count);

// The length of a sequence at the end of the bytes that is incomplete but could still be
// completed by bytes that follow (at most 3), or 0. Text that arrives in parts keeps it for the
// next part, so a character cut between two parts still decodes.
std::size_t incompleteUtf8Tail(const char* bytes, std::size_t count);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* text, std::size_t count);
std::string utf16ToUtf8(const char16_t* text);

// Length of a NUL-terminated wide text.
std::size_t wideLength(const char16_t* text);

}  // namespace tarven::platform
