#include "platform/TextCodec.h"

#include <cstdint>
#include <cstring>

namespace tarven::platform {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';
// What decodeOne gives for a maximal ill-formed subsequence; no scalar value is this large.
constexpr char32_t kIllFormed = 0x110000;

// Decodes one scalar value starting at `p`; returns how many bytes it used (at least 1) and
// the value, or kIllFormed for a maximal ill-formed subsequence. `cutShort` tells whether
// that subsequence is only one because the bytes ended.
std::size_t decodeOne(const unsigned char* p, std::size_t left, char32_t& value,
                      bool* cutShort = nullptr) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        value = b0;
        return 1;
    }
    std::size_t need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0;
        if (b0 == 0xED)
            hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F;
    } else {
        value = kIllFormed;
        return 1;
    }
    std::size_t used = 1;
    for (std::size_t i = 0; i < need; ++i) {
        if (used >= left || p[used] < lo || p[used] > hi) {
            if (cutShort)
                *cutShort = used >= left;
            value = kIllFormed;
            return used;
        }
        cp = (cp << 6) | (p[used] & 0x3F);
        ++used;
        lo = 0x80;
        hi = 0xBF;
    }
    value = cp;
    return used;
}

// The number of ASCII bytes at the start of `p`, looked at 32 and then eight at a time where
// it can.
std::size_t asciiRun(const unsigned char* p, std::size_t count) {
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    std::size_t n = 0;
    for (std::uint64_t w[4]; n + sizeof w <= count; n += sizeof w) {
        std::memcpy(w, p + n, sizeof w);
        if (((w[0] | w[1] | w[2] | w[3]) & kHighBits) != 0)
            break;
    }
    for (std::uint64_t word; n + sizeof word <= count; n += sizeof word) {
        std::memcpy(&word, p + n, sizeof word);
        if ((word & kHighBits) != 0)
            break;
    }
    while (n < count && p[n] < 0x80)
        ++n;
    return n;
}

// Writes one scalar value as UTF-8 at `out`; returns the position after it.
char* writeUtf8(char* out, char32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

}  // namespace

std::size_t utf8ToUtf16(const char* bytes, std::size_t count, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < count) {
        // ASCII, most of what passes through the log, maps unit for unit.
        const std::size_t run = asciiRun(p + i, count - i);
        if (run > 0) {
            if (out) {
                for (std::size_t k = 0; k < run; ++k)
                    out[units + k] = p[i + k];
            }
            units += run;
            i += run;
            continue;
        }
        char32_t cp;
        i += decodeOne(p + i, count - i, cp);
        if (cp == kIllFormed) {
            cp = kReplacement;
        }
        if (cp >= 0x10000) {
            if (out) {
                out[units] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                out[units + 1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
            units += 2;
        } else {
            if (out)
                out[units] = static_cast<char16_t>(cp);
            units += 1;
        }
    }
    return units;
}

std::u16string utf8ToUtf16(const char* bytes, std::size_t count) {
    std::u16string text(utf8ToUtf16(bytes, count, nullptr), u'\0');
    utf8ToUtf16(bytes, count, text.data());
    return text;
}

Utf8Measure measureUtf8(const char* bytes, std::size_t count) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    Utf8Measure measure;
    std::size_t i = 0;
    while (i < count) {
        const std::size_t run = asciiRun(p + i, count - i);
        measure.units += run;
        i += run;
        if (i == count)
            break;
        char32_t cp;
        i += decodeOne(p + i, count - i, cp);
        if (cp == kIllFormed)
            measure.wellFormed = false;
        measure.units += cp >= 0x10000 && cp != kIllFormed ? 2 : 1;
    }
    return measure;
}

std::size_t incompleteUtf8Tail(const char* bytes, std::size_t count) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    // Only the last byte that can start a sequence may begin one still open; continuation
    // bytes never start one, and no sequence is longer than four.
    for (std::size_t back = 1; back <= 3 && back <= count; ++back) {
        const unsigned char b = p[count - back];
        if (b < 0x80)
            return 0;
        if (b >= 0xC0) {
            char32_t value;
            bool cutShort = false;
            decodeOne(p + count - back, back, value, &cutShort);
            return cutShort ? back : 0;
        }
    }
    return 0;
}

std::string utf16ToUtf8(const char16_t* text, std::size_t count) {
    // Room for the longest result: three bytes a unit (a surrogate pair makes four from two).
    std::string out(count * 3, '\0');
    char* end = out.data();
    for (std::size_t i = 0; i < count; ++i) {
        // ASCII four units at a time.
        constexpr std::uint64_t kNonAscii = 0xFF80FF80FF80FF80u;
        for (std::uint64_t word; i + 4 <= count; i += 4, end += 4) {
            std::memcpy(&word, text + i, sizeof word);
            if ((word & kNonAscii) != 0)
                break;
            for (int k = 0; k < 4; ++k)
                end[k] = static_cast<char>(text[i + k]);
        }
        if (i == count)
            break;
        char32_t c = text[i];
        if (c < 0x80) {
            *end++ = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        end = writeUtf8(end, c);
    }
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

std::string utf16ToUtf8(const char16_t* text) {
    return utf16ToUtf8(text, wideLength(text));
}

std::size_t wideLength(const char16_t* text) {
    std::size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

}  // namespace tarven::platform
