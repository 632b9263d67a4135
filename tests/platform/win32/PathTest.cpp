// Windows' paths that are neither relative nor absolute: read from the base's drive, as Windows
// would read them with the base's folder as the working one.

#include <gtest/gtest.h>

#include "platform/File.h"

namespace tarven {
namespace {

TEST(WindowsPaths, RootedAndDriveRelativePathsKeepToTheBasesDrive) {
    EXPECT_TRUE(platform::isAbsolutePath("c:/ca.pem"));
    EXPECT_TRUE(platform::isAbsolutePath("\\\\server\\share\\ca.pem"));
    const char16_t* base = u"D:\\Tarven\\conf/tarven.txt";
    EXPECT_EQ(platform::pathBeside(base, "\\certs\\ca.pem"), "D:\\certs\\ca.pem");
    EXPECT_EQ(platform::pathBeside(base, "/ca.pem"), "D:/ca.pem");
    EXPECT_EQ(platform::pathBeside(base, "d:ca.pem"), "D:\\Tarven\\conf/ca.pem");
    EXPECT_EQ(platform::pathBeside(base, "E:ca.pem"), "E:ca.pem");  // E's folder is the system's
    EXPECT_EQ(platform::pathBeside(base, "C:\\ca.pem"), "C:\\ca.pem");

    EXPECT_EQ(platform::pathBeside(u"\\\\server\\share\\tarven.txt", "\\ca.pem"),
              "\\\\server\\share\\ca.pem");
    EXPECT_EQ(platform::pathBeside(u"D:tarven.txt", "ca.pem"), "D:ca.pem");
    EXPECT_EQ(platform::pathBeside(u"conf\\tarven.txt", "\\ca.pem"), "\\ca.pem");
}

}  // namespace
}  // namespace tarven
