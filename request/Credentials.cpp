#include "request/Credentials.h"

#include <cstring>
#include <new>

namespace tarven {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::unique_ptr<char[]> encodeBasicCredentials(const char* text) {
    if (text == nullptr)
        return nullptr;
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    const std::size_t n = std::strlen(text);
    const std::size_t size = (n + 2) / 3 * 4 + 1;
    std::unique_ptr<char[]> out(new (std::nothrow) char[size]);
    if (!out)
        return nullptr;
    char* o = out.get();
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = kAlphabet[v & 63];
    }
    if (n - i == 1) {
        const unsigned v = in[i] << 16;
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = '=';
        *o++ = '=';
    } else if (n - i == 2) {
        const unsigned v = (in[i] << 16) | (in[i + 1] << 8);
        *o++ = kAlphabet[(v >> 18) & 63];
        *o++ = kAlphabet[(v >> 12) & 63];
        *o++ = kAlphabet[(v >> 6) & 63];
        *o++ = '=';
    }
    *o = 0;
    return out;
}

}  // namespace tarven
