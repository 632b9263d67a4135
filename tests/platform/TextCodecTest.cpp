#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <string>

namespace tarven::platform {
namespace {

std::u16string decode(const std::string& bytes) {
    return utf8ToUtf16(bytes.data(), bytes.size());
}

TEST(TextCodec, DecodesUtf8IntoUtf16) {
    EXPECT_EQ(decode("GET / HTTP/1.0"), u"GET / HTTP/1.0");
    EXPECT_EQ(decode("\xE3\x83\x90\xE3\x83\xBC"), u"\u30D0\u30FC");
    EXPECT_EQ(decode("\xF0\x9F\x98\x80"), u"\U0001F600");  // a surrogate pair
    EXPECT_EQ(decode(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

// The measure must count exactly what decoding makes, past the word-at-a-time ASCII runs too,
// and call well-formed only what survives the trip there and back.
TEST(TextCodec, MeasureCountsTheUnitsDecodingMakesAndTellsWellFormedText) {
    const std::string ascii(70, 'a');
    const struct {
        std::string bytes;
        bool wellFormed;
    } cases[] = {
        {"", true},
        {ascii, true},
        {ascii + "\xF0\x9F\x98\x80" + ascii + "\xC3\xA9", true},
        {"\xEF\xBF\xBD", true},  // a real U+FFFD
        {ascii + "\xFF" + ascii, false},
        {"\xED\xA0\x80", false},      // an encoded surrogate
        {ascii + "\xE2\x82", false},  // cut short
        {"\xC0\xAF", false},
    };
    for (const auto& c : cases) {
        const Utf8Measure measure = measureUtf8(c.bytes.data(), c.bytes.size());
        const std::u16string wide = decode(c.bytes);
        EXPECT_EQ(measure.units, wide.size()) << c.bytes;
        EXPECT_EQ(measure.wellFormed, c.wellFormed) << c.bytes;
        EXPECT_EQ(utf16ToUtf8(wide.data(), wide.size()) == c.bytes, c.wellFormed) << c.bytes;
    }
}

TEST(TextCodec, EachIllFormedSequenceBecomesOneReplacementAndDecodingGoesOn) {
    EXPECT_EQ(decode("a\xFF"
                     "b"),
              u"a\uFFFDb");
    EXPECT_EQ(decode("\xE2\x82"), u"\uFFFD");  // cut short at the end
    EXPECT_EQ(decode("\xE2\x82"
                     "A"),
              u"\uFFFDA");                                     // cut short by another character
    EXPECT_EQ(decode("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong
    EXPECT_EQ(decode("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
    EXPECT_EQ(decode("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
    EXPECT_EQ(decode("\x80\x80"), u"\uFFFD\uFFFD");
}

TEST(TextCodec, EncodesUtf16BackAndReplacesLoneSurrogates) {
    const std::u16string text = u"x\u00E9\u30D0\U0001F600";
    EXPECT_EQ(utf16ToUtf8(text.c_str()), "x\xC3\xA9\xE3\x83\x90\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(utf16ToUtf8(lone),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

// ASCII is taken several bytes at a time; a multi-byte character or a bad byte may stand at any
// offset of such a run, and a NUL inside it is content like any other byte.
TEST(TextCodec, OtherCharactersAtEveryOffsetOfAnAsciiRun) {
    struct Middle {
        std::string bytes;
        std::u16string wide;
        bool roundTrips;
    };
    const Middle middles[] = {{"\xE3\x83\x90", u"\u30D0", true},
                              {"\xFF", u"\uFFFD", false},
                              {std::string(1, '\0'), std::u16string(1, u'\0'), true}};
    for (std::size_t before = 0; before <= 17; ++before) {
        for (const Middle& middle : middles) {
            const std::string bytes = std::string(before, 'a') + middle.bytes + "zzzzzzzzz";
            const std::u16string wide = std::u16string(before, u'a') + middle.wide + u"zzzzzzzzz";
            EXPECT_EQ(utf8ToUtf16(bytes.data(), bytes.size(), nullptr), wide.size()) << before;
            EXPECT_EQ(decode(bytes), wide) << before;
            if (middle.roundTrips) {
                EXPECT_EQ(utf16ToUtf8(wide.data(), wide.size()), bytes) << before;
            }
        }
    }
}

}  // namespace
}  // namespace tarven::platform
