// The program's folder as Linux names it, in /proc.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "request/DescriptionFile.h"
#include "support/TempDir.h"

namespace tarven {
namespace {

TEST(ProgramDirectory, NamesTheFolderOfTheRunningProgram) {
    char16_t directory[kPathCapacity];
    const int length = programDirectory(directory);
    const std::string expected = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(length, static_cast<int>(expected.size()));
    EXPECT_EQ(test::widePath(expected), std::u16string(directory));
}

}  // namespace
}  // namespace tarven
