#include "text/Decimal.h"

#include <gtest/gtest.h>

namespace tarven {
namespace {

TEST(Decimal, ReadsLikeTheClassicLibrary) {
    EXPECT_EQ(parseDecimal("80"), 80);
    EXPECT_EQ(parseDecimal("  \t+8080"), 8080);
    EXPECT_EQ(parseDecimal("-1"), -1);
    EXPECT_EQ(parseDecimal("443abc"), 443);
    EXPECT_EQ(parseDecimal("http"), 0);
    EXPECT_EQ(parseDecimal(""), 0);
    EXPECT_EQ(parseDecimal("+ 80"), 0);
    EXPECT_EQ(parseDecimal(nullptr), 0);
}

TEST(Decimal, LongNumbersWrapInsteadOfOverflowing) {
    EXPECT_EQ(parseDecimal("4294967297"), 1);
    // The low 16 bits, which pick a port, are those of the number written.
    EXPECT_EQ(parseDecimal("65616") & 0xFFFF, 80);
    EXPECT_EQ(parseDecimal("4295032912") & 0xFFFF, 80);
    EXPECT_EQ(parseDecimal("-65535") & 0xFFFF, 1);
    EXPECT_EQ(parseDecimal("123456789012345678901234567890") & 0xFFFF, 2770);
}

}  // namespace
}  // namespace tarven
