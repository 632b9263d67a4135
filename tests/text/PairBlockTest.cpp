#include "text/PairBlock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarven {
namespace {

std::vector<std::string> keysInOrder(PairBlock& block) {
    std::vector<std::string> keys;
    for (char* p = block.first(); p != nullptr; p = block.next())
        keys.emplace_back(p);
    return keys;
}

using Keys = std::vector<std::string>;

TEST(PairBlock, SettingAnExistingKeyMovesItToTheEnd) {
    PairBlock block;
    EXPECT_EQ(block.set("k1", "v1"), 6);
    block.set("k2", "v2");
    block.set("k3", "v3");
    EXPECT_EQ(block.set("k1", "new"), 7);
    EXPECT_EQ(keysInOrder(block), (Keys{"k2", "k3", "k1"}));
    EXPECT_STREQ(block.valueOf("k1"), "new");
    EXPECT_EQ(block.storage->length, 6 + 6 + 7);
}

TEST(PairBlock, CaseFoldingFindsTheFirstOfKeysThatDifferInCase) {
    PairBlock block;
    block.set("Host:", "a");
    block.set("host:", "b");
    EXPECT_EQ(keysInOrder(block).size(), 2u);
    EXPECT_STREQ(block.valueOf("host:"), "b");
    EXPECT_STREQ(block.valueOfNoCase("HOST:"), "a");
    EXPECT_EQ(block.valueOf("HOST:"), nullptr);
    // Only A-Z fold: bytes above 127 and punctuation compare exactly.
    block.set("\xC3\x84x", "c");
    EXPECT_EQ(block.findNoCase("\xC3\xA4x"), nullptr);
    EXPECT_EQ(block.findNoCase("[x"), nullptr);
    block.set("{", "d");
    EXPECT_EQ(block.findNoCase("["), nullptr);
}

TEST(PairBlock, EmptyValuesAreStoredFoundAndSteppedOver) {
    PairBlock block;
    block.set("a", "");
    block.set("b", "");
    block.set("c", "3");
    EXPECT_EQ(keysInOrder(block), (Keys{"a", "b", "c"}));
    EXPECT_STREQ(block.valueOf("b"), "");
    EXPECT_STREQ(block.valueOf("c"), "3");
}

TEST(PairBlock, RemoveKeepsTheOthersInOrderWherever) {
    for (const char* gone : {"a", "b", "c"}) {
        PairBlock block;
        block.set("a", "1");
        block.set("b", "2");
        block.set("c", "3");
        EXPECT_EQ(block.remove(gone), 1) << gone;
        Keys expected{"a", "b", "c"};
        std::erase(expected, gone);
        EXPECT_EQ(keysInOrder(block), expected) << gone;
        EXPECT_EQ(block.storage->data[block.storage->length], 0);
        EXPECT_EQ(block.remove(gone), 0);
    }
}

TEST(PairBlock, RemovingTheOnlyEntryLeavesNoStorage) {
    PairBlock block;
    block.set("only", "x");
    EXPECT_EQ(block.remove("only"), 1);
    EXPECT_TRUE(block.storage->isEmpty());
    EXPECT_EQ(block.first(), nullptr);
    EXPECT_EQ(block.next(), nullptr);
    EXPECT_EQ(block.find("only"), nullptr);
    EXPECT_EQ(block.valueOfNoCase("ONLY"), nullptr);
    EXPECT_EQ(block.intValueOfNoCase("only"), 0);
    EXPECT_EQ(block.currentValue(), nullptr);
}

TEST(PairBlock, SetAcceptsTextsThatLiveInsideTheBlock) {
    PairBlock block;
    block.set("first", "1");
    block.set("second", std::string(600, 'v').c_str());  // forces the storage to move
    const char* key = block.find("first");
    const char* value = block.valueOf("second");
    ASSERT_NE(key, nullptr);
    // Both texts are the block's own; the removal frees them before the append.
    EXPECT_GT(block.set(key, value), 0);
    EXPECT_EQ(keysInOrder(block), (Keys{"second", "first"}));
    EXPECT_EQ(std::string(block.valueOf("first")), std::string(600, 'v'));
}

TEST(PairBlock, NoneArgumentsChangeNothing) {
    PairBlock block;
    EXPECT_EQ(block.set(nullptr, "v"), 0);
    EXPECT_EQ(block.set("k", nullptr), 0);
    EXPECT_TRUE(block.storage->isEmpty());
    EXPECT_EQ(block.find(nullptr), nullptr);
}

TEST(PairBlock, IntValueReadsDecimalIgnoringCase) {
    PairBlock block;
    block.set("TARVEN_port:", " +8080x");
    block.set("empty", "");
    EXPECT_EQ(block.intValueOfNoCase("tarven_PORT:"), 8080);
    EXPECT_EQ(block.intValueOfNoCase("empty"), 0);
    EXPECT_EQ(block.intValueOfNoCase("absent"), 0);
}

TEST(PairBlock, AnEmptyKeyEndsTheWalkUnlessItComesFirst) {
    PairBlock block;
    block.set("a", "1");
    block.set("", "hidden");
    block.set("b", "2");
    EXPECT_EQ(keysInOrder(block), (Keys{"a"}));
    EXPECT_EQ(block.find("b"), nullptr);  // unreachable behind the empty key

    PairBlock leading;
    leading.set("", "v");
    leading.set("x", "1");
    EXPECT_STREQ(leading.first(), "");
    EXPECT_STREQ(leading.next(), "x");
    EXPECT_STREQ(leading.valueOf(""), "v");  // the first entry is always compared
}

TEST(PairBlock, NextAtTheEndStaysAtTheEnd) {
    PairBlock block;
    // 511 bytes of content: its NUL is the last byte of the one block.
    block.set(std::string(508, 'k').c_str(), "v");
    ASSERT_EQ(block.storage->length, 511);
    ASSERT_NE(block.first(), nullptr);
    EXPECT_EQ(block.next(), nullptr);
    EXPECT_EQ(block.next(), nullptr);  // a second call reads nothing past the storage
}

}  // namespace
}  // namespace tarven
