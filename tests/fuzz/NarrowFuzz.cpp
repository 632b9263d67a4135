// appendNarrow on arbitrary bytes, cut into two chunks as a receive loop may deliver them,
// checked against an independent UTF-8 decoder written after the WHATWG Encoding Standard,
// which replaces each maximal ill-formed subsequence with one U+FFFD.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "support/Fakes.h"
#include "log/LogView.h"

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

void emit(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

std::u16string referenceDecode(const std::string& bytes) {
    std::u16string out;
    char32_t cp = 0;
    int needed = 0;
    int seen = 0;
    unsigned lower = 0x80;
    unsigned upper = 0xBF;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned b = static_cast<unsigned char>(bytes[i]);
        if (needed == 0) {
            if (b <= 0x7F) {
                emit(out, b);
            } else if (b >= 0xC2 && b <= 0xDF) {
                needed = 1;
                cp = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                lower = b == 0xE0 ? 0xA0 : 0x80;
                upper = b == 0xED ? 0x9F : 0xBF;
                needed = 2;
                cp = b & 0x0F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                lower = b == 0xF0 ? 0x90 : 0x80;
                upper = b == 0xF4 ? 0x8F : 0xBF;
                needed = 3;
                cp = b & 0x07;
            } else {
                emit(out, kReplacement);
            }
            continue;
        }
        if (b < lower || b > upper) {
            // The sequence so far is one error; the byte starts afresh.
            cp = 0;
            needed = seen = 0;
            lower = 0x80;
            upper = 0xBF;
            emit(out, kReplacement);
            --i;
            continue;
        }
        lower = 0x80;
        upper = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        if (++seen == needed) {
            emit(out, cp);
            cp = 0;
            needed = seen = 0;
        }
    }
    if (needed != 0)
        emit(out, kReplacement);
    return out;
}

// The bytes a chunk shows: up to its first NUL.
std::string shown(const std::string& chunk) {
    return chunk.substr(0, chunk.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool counted = input.ConsumeBool();
    const auto cut = input.ConsumeIntegral<std::uint16_t>();
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    const std::size_t split = cut % (bytes.size() + 1);
    const std::string chunks[] = {bytes.substr(0, split), bytes.substr(split)};

    // Each chunk in a log of its own, so the log's trimming does not enter the comparison.
    for (const std::string& chunk : chunks) {
        tarven::test::MemoryWindow window;
        if (counted && !chunk.empty()) {
            // Exactly the chunk's bytes, with nothing after them to stop a read that overruns.
            std::vector<char> exact(chunk.begin(), chunk.end());
            tarven::appendNarrow(window, exact.data(), static_cast<std::int32_t>(exact.size()));
        } else {
            tarven::appendNarrow(window, chunk.c_str());
        }
        FUZZ_CHECK(window.log.text() == referenceDecode(shown(chunk)));
    }
    return 0;
}
