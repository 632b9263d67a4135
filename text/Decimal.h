#pragma once

#include <cstdint>

namespace tarven {

// Reads a decimal integer the way the classic C library does: optional leading white space,
// an optional sign, then digits up to the first other character; 0 when there are no digits.
// Unlike atoi, a number too long for 32 bits is defined: it wraps modulo 2^32, so its low
// 16 bits are those of the number written.
std::int32_t parseDecimal(const char* text);

}  // namespace tarven
