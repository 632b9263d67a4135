#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/File.h"
#include "support/TempDir.h"

namespace tarven {
namespace {

// What neither system reads as absolute: a bare name, Windows' "root of the current drive" and
// "drive C's working folder".
TEST(Paths, OnlyAFullPathIsAbsolute) {
    EXPECT_TRUE(
        platform::isAbsolutePath(test::utf8(std::filesystem::temp_directory_path()).c_str()));
    for (const char* relative : {"", "ca.pem", "sub/ca.pem", "\\ca.pem", "C:ca.pem"})
        EXPECT_FALSE(platform::isAbsolutePath(relative)) << relative;
    EXPECT_FALSE(platform::isAbsolutePath(nullptr));
}

TEST(Paths, ARelativePathIsReadFromTheBasesFolderWhateverItsSeparator) {
    test::TempDir dir;
    const auto generic = [](const std::filesystem::path& path) {
        const std::u8string bytes = path.generic_u8string();
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string folder = generic(dir.path() / "sub");
    const std::u16string base = test::widePath(generic(dir.path() / "sub" / "tarven.txt"));
    EXPECT_EQ(platform::pathBeside(base, "ca.pem"), folder + "/ca.pem");
    EXPECT_EQ(platform::pathBeside(base, "certs/ca.pem"), folder + "/certs/ca.pem");
    const std::string absolute = test::utf8(dir.path() / "ca.pem");
    EXPECT_EQ(platform::pathBeside(base, absolute), absolute);
    EXPECT_EQ(platform::pathBeside(u"tarven.txt", "ca.pem"), "ca.pem");  // no folder to read from
}

}  // namespace
}  // namespace tarven
