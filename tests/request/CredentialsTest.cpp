#include <gtest/gtest.h>

#include <string>

#include "request/Credentials.h"

namespace tarven {
namespace {

std::string encode(const std::string& text) {
    const auto encoded = encodeBasicCredentials(text.c_str());
    return encoded ? std::string(encoded.get()) : std::string("<none>");
}

// An independent decoder, so the encoder is checked by a round trip too.
std::string decode(const std::string& text) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=')
            break;
        bits = (bits << 6) | static_cast<unsigned>(alphabet.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

TEST(EncodeBasicCredentials, MatchesTheStandardVectors) {
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}

TEST(EncodeBasicCredentials, ZeroGroupsAndHighBytesEncodeLikeAnyOther) {
    EXPECT_EQ(encode("@"), "QA==");  // its second six-bit group is zero: "A", not padding
    EXPECT_EQ(encode("\xff\xfe\xfd"), "//79");
    EXPECT_EQ(encode(" user : pass "), "IHVzZXIgOiBwYXNzIA==");  // nothing trimmed
}

TEST(EncodeBasicCredentials, RoundTripsEveryLengthAndByte) {
    std::string text;
    for (int i = 1; i < 256; ++i) {
        text += static_cast<char>(i);
        const std::string encoded = encode(text);
        ASSERT_EQ(encoded.size(), (text.size() + 2) / 3 * 4);
        ASSERT_EQ(decode(encoded), text);
    }
    EXPECT_EQ(encodeBasicCredentials(nullptr), nullptr);
}

}  // namespace
}  // namespace tarven
