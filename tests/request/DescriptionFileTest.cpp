#include "request/DescriptionFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/File.h"
#include "support/TempDir.h"

namespace tarven {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entriesOf(PairBlock& block) {
    Entries entries;
    for (char* p = block.first(); p != nullptr; p = block.next()) {
        entries.emplace_back(block.currentKey(), block.currentValue());
    }
    return entries;
}

class DescriptionFileTest : public testing::Test {
  protected:
    // Loads `bytes` from a real file; returns the load result.
    int load(const std::string& bytes) {
        const auto path = test::widePath(dir.write("tarven.txt", bytes));
        return description.loadDescription(path.c_str());
    }
    test::TempDir dir;
    DescriptionFile description;
};

TEST_F(DescriptionFileTest, ReadsKeysAndValuesInFileOrder) {
    ASSERT_EQ(load("# heartbeat\r\n"
                   "TARVEN_connect: example.test\r\n"
                   "TARVEN_request: GET /ping?ip=%IPADDRESS% HTTP/1.0\r\n"
                   "Host: example.test\r\n"),
              1);
    EXPECT_EQ(entriesOf(description),
              (Entries{{"TARVEN_connect:", "example.test"},
                       {"TARVEN_request:", "GET /ping?ip=%IPADDRESS% HTTP/1.0"},
                       {"Host:", "example.test"}}));
}

TEST_F(DescriptionFileTest, SplitsAtTheFirstBlankAndKeepsInnerAndTrailingBlanks) {
    ASSERT_EQ(load("key\t \t value with  inner \t\n"
                   "trailing   \n"
                   "alone\n"
                   "X-Tab:\tv\n"),
              1);
    EXPECT_EQ(entriesOf(description),
              (Entries{{"key", "value with  inner \t"}, {"trailing", ""}, {"X-Tab:", "v"}}));
}

TEST_F(DescriptionFileTest, AcceptsEveryLineEndAndBlankLines) {
    for (const char* bytes :
         {"a 1\rb 2\r\r\rc 3", "a 1\nb 2\n\n\nc 3\n", "a 1\r\n\nb 2\n\r\rc 3\r\n"}) {
        DescriptionFile fresh;
        const auto path = test::widePath(dir.write("ends.txt", bytes));
        ASSERT_EQ(fresh.loadDescription(path.c_str()), 1);
        EXPECT_EQ(entriesOf(fresh), (Entries{{"a", "1"}, {"b", "2"}, {"c", "3"}}));
    }
}

TEST_F(DescriptionFileTest, ALaterLineWithTheSameKeyWinsAndMovesToTheEnd) {
    ASSERT_EQ(load("A: 1\nB: 2\nA: 3\n"), 1);
    EXPECT_EQ(entriesOf(description), (Entries{{"B:", "2"}, {"A:", "3"}}));
}

TEST_F(DescriptionFileTest, IndentedLinesAreIgnoredAndHideNothingAfterThem) {
    // Stored as an empty key, such a line would end the walk and hide the request line.
    ASSERT_EQ(load("TARVEN_connect: host\n  stray indent\n\tX: y\nTARVEN_request: GET /\n"), 1);
    EXPECT_EQ(entriesOf(description),
              (Entries{{"TARVEN_connect:", "host"}, {"TARVEN_request:", "GET /"}}));
}

TEST_F(DescriptionFileTest, TheFirstNulEndsTheData) {
    ASSERT_EQ(load(std::string("a 1\nb 2\0c 3\n", 12)), 1);
    EXPECT_EQ(entriesOf(description), (Entries{{"a", "1"}, {"b", "2"}}));

    DescriptionFile leadingNul;
    const auto path = test::widePath(dir.write("leading-nul.txt", std::string("\0a 1\n", 5)));
    EXPECT_EQ(leadingNul.loadDescription(path.c_str()), 1);  // not empty, so loaded
    EXPECT_EQ(leadingNul.first(), nullptr);
}

TEST_F(DescriptionFileTest, ReadsFilesLongerThanOneChunk) {
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes += "Key" + std::to_string(i) + ": " + std::string(20, 'v') + "\n";
    ASSERT_EQ(load(bytes), 1);
    const Entries entries = entriesOf(description);
    ASSERT_EQ(entries.size(), 200u);
    EXPECT_EQ(entries.back().first, "Key199:");
}

TEST_F(DescriptionFileTest, OnlyCommentsAndBlankLinesLoadAnEmptyBlock) {
    EXPECT_EQ(load("# one\r\n\r\n#two\nnoseparator\n"), 1);
    EXPECT_EQ(description.first(), nullptr);
}

TEST_F(DescriptionFileTest, WhatCannotBeReadIsNotLoaded) {
    EXPECT_EQ(load(""), 0);
    const auto missing = test::widePath(dir.path() / "missing.txt");
    EXPECT_EQ(description.loadDescription(missing.c_str()), 0);
    std::filesystem::create_directory(dir.path() / "folder.txt");
    const auto folder = test::widePath(dir.path() / "folder.txt");
    EXPECT_EQ(description.loadDescription(folder.c_str()), 0);
    EXPECT_EQ(description.loadDescription(nullptr), 0);
}

TEST_F(DescriptionFileTest, WidePathsReachTheFileSystemAsUtf8) {
    const auto path = test::widePath(dir.write("\xE8\xA8\xAD\xE5\xAE\x9A.txt", "k v\n"));
    EXPECT_EQ(description.loadDescription(path.c_str()), 1);
    EXPECT_STREQ(description.valueOf("k"), "v");
}

// Paths written with the system's own separator.
std::u16string withSeparator(std::u16string path) {
    std::replace(path.begin(), path.end(), u'/', platform::kPathSeparator);
    return path;
}

TEST(ProgramDirectory, CutsAtTheLastSeparatorButNeverTheFirstCharacter) {
    const std::u16string program = withSeparator(u"/usr/local/bin/tarven");
    char16_t path[kPathCapacity] = {};
    std::copy(program.begin(), program.end(), path);
    EXPECT_EQ(cutAtLastSeparator(path), 14);
    EXPECT_EQ(std::u16string(path), withSeparator(u"/usr/local/bin"));
    char16_t root[kPathCapacity] = {platform::kPathSeparator, u't', u'a', u'r', u'v', u'e', u'n'};
    EXPECT_EQ(cutAtLastSeparator(root), 0);
    EXPECT_EQ(std::u16string(root), u"");
    char16_t bare[kPathCapacity] = u"tarven";
    EXPECT_EQ(cutAtLastSeparator(bare), 0);
    EXPECT_EQ(std::u16string(bare), u"");
}

TEST(JoinPath, BuildsThePathOrRefusesOneThatDoesNotFit) {
    char16_t path[kPathCapacity];
    ASSERT_TRUE(joinPath(path, u"", u"tarven.txt"));
    EXPECT_EQ(std::u16string(path), withSeparator(u"/tarven.txt"));  // a program in the root
    const std::u16string opt = withSeparator(u"/opt");
    ASSERT_TRUE(joinPath(path, opt.c_str(), u"tarven.txt"));
    EXPECT_EQ(std::u16string(path), withSeparator(u"/opt/tarven.txt"));

    const std::u16string fits(259 - 11, u'd');  // directory, separator and name: 259
    EXPECT_TRUE(joinPath(path, fits.c_str(), u"tarven.txt"));
    const std::u16string tooLong(259 - 10, u'd');
    EXPECT_FALSE(joinPath(path, tooLong.c_str(), u"tarven.txt"));
    EXPECT_EQ(path[0], 0);
}

}  // namespace
}  // namespace tarven
