// encodeBasicCredentials on arbitrary texts, checked by decoding the result: the exact length,
// only alphabet characters before the padding, and the original bytes back.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "request/Credentials.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    const char* at = std::strchr(kAlphabet, c);
    return (c != 0 && at != nullptr) ? static_cast<int>(at - kAlphabet) : -1;
}

// Decodes padded Base64; false when the text is not canonical padded Base64.
bool decode(const std::string& text, std::string& out) {
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        const std::size_t padding = !last                 ? 0
                                    : text[at + 3] != '=' ? 0
                                    : text[at + 2] != '=' ? 1
                                                          : 2;
        unsigned group = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const int v = i < 4 - padding ? sextet(text[at + i]) : 0;
            if (v < 0)
                return false;
            group = (group << 6) | static_cast<unsigned>(v);
        }
        // Padding stands for zero bits only.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0))
            return false;
        out += static_cast<char>(group >> 16);
        if (padding < 2)
            out += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1)
            out += static_cast<char>(group & 0xFF);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(std::strlen(text.c_str()));

    const std::unique_ptr<char[]> encoded = tarven::encodeBasicCredentials(text.c_str());
    FUZZ_CHECK(encoded != nullptr);
    const std::string result = encoded.get();
    FUZZ_CHECK(result.size() == (text.size() + 2) / 3 * 4);
    std::string decoded;
    FUZZ_CHECK(decode(result, decoded));
    FUZZ_CHECK(decoded == text);
    return 0;
}
