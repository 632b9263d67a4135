#include "text/ByteBuffer.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "support/Allocation.h"

namespace tarven {
namespace {

std::size_t storageSize(const ByteBuffer& buffer) {
    return test::allocationSize(buffer.data);
}

TEST(ByteBuffer, GrowsInWholeBlocksKeepingANulAfterTheContent) {
    ByteBuffer buffer;
    const std::string bytes(511, 'x');
    EXPECT_EQ(buffer.append(bytes.data(), 511), 511);
    EXPECT_EQ(buffer.length, 511);
    EXPECT_EQ(buffer.data[511], 0);
    EXPECT_LT(storageSize(buffer), 1024u);  // still one block: 511 bytes and the NUL

    EXPECT_EQ(buffer.append("y", 1), 1);
    EXPECT_EQ(buffer.length, 512);
    EXPECT_EQ(buffer.data[512], 0);
    EXPECT_GE(storageSize(buffer), 1024u);
    EXPECT_EQ(std::string(buffer.data, 512), bytes + "y");
}

TEST(ByteBuffer, NothingToAppendObtainsNoStorage) {
    ByteBuffer buffer;
    EXPECT_EQ(buffer.append("abc", 0), 0);
    EXPECT_EQ(buffer.append(nullptr, 3), 0);
    EXPECT_EQ(buffer.appendText(nullptr), 0);
    EXPECT_EQ(buffer.appendText(""), 0);
    EXPECT_TRUE(buffer.isEmpty());
    EXPECT_EQ(buffer.data, nullptr);
}

TEST(ByteBuffer, ClearReleasesAndTheNextAppendStartsFromAZeroedBlock) {
    ByteBuffer buffer;
    const std::string junk(700, '\xff');
    buffer.append(junk.data(), 700);
    EXPECT_EQ(buffer.clear(), 0);
    EXPECT_TRUE(buffer.isEmpty());
    EXPECT_EQ(buffer.length, 0);

    EXPECT_EQ(buffer.appendText("ab"), 2);
    EXPECT_FALSE(buffer.isEmpty());
    for (int i = 2; i < kBlockSize; ++i)
        ASSERT_EQ(buffer.data[i], 0) << "at " << i;
}

TEST(ByteBuffer, HoldsNulBytesInsideTheContent) {
    ByteBuffer buffer;
    const char bytes[] = {'a', 0, 'b', 0};
    EXPECT_EQ(buffer.append(bytes, 4), 4);
    buffer.appendText("c");
    EXPECT_EQ(buffer.length, 5);
    EXPECT_EQ(std::string(buffer.data, 5), std::string("a\0b\0c", 5));
}

TEST(ByteBuffer, AppendThatWouldOverflowFailsAndKeepsTheContent) {
    ByteBuffer buffer;
    buffer.appendText("keep");
    const char byte = 'z';
    // Large counts are never read: the size check refuses them first.
    EXPECT_EQ(buffer.append(&byte, std::numeric_limits<std::int32_t>::max()), 0);
    EXPECT_EQ(buffer.append(&byte, std::numeric_limits<std::int32_t>::max() - 4), 0);
    EXPECT_EQ(buffer.append(&byte, -1), 0);
    EXPECT_EQ(buffer.length, 4);
    EXPECT_STREQ(buffer.data, "keep");
}

}  // namespace
}  // namespace tarven
