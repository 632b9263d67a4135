// The search through the XDG config folder and /etc/tarven, Linux's places for the file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BuildInfo.h"
#include "platform/TextCodec.h"
#include "request/RequestRun.h"
#include "support/Fakes.h"
#include "support/TempDir.h"

namespace tarven {
namespace {

const std::string kHint = "Please create a tarven.txt file first.\r\nThe creation method is in " +
                          platform::utf16ToUtf8(build::kDescriptionDocUrl) + "\r\n";

TEST(RequestRunSearch, FallsBackToTheUserConfigFolder) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.path() / "tarven");
    dir.write("tarven/tarven-search-check.txt", "# nothing but a comment\n");
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    test::MemoryWindow window;
    EXPECT_FALSE(runRequest(window, u"tarven-search-check.txt"));
    EXPECT_EQ(window.text(),
              "tarven-search-check.txt Loading...\r\n"
              "** TARVEN_connect was not specified.\r\n");

    ::setenv("XDG_CONFIG_HOME", (dir.path() / "elsewhere").c_str(), 1);
    EXPECT_FALSE(runRequest(window, u"tarven-search-check.txt"));
    EXPECT_EQ(window.text(),
              "tarven-search-check.txt Loading...\r\nLoading file failed.\r\n" + kHint);

    // Then the machine-wide folder, which is named even when nothing is there.
    RunEnvironment environment;
    EXPECT_EQ(findDescription(u"tarven-search-check.txt", environment),
              u"/etc/tarven/tarven-search-check.txt");
    const std::u16string etc = test::widePath(dir.path() / "etc");
    environment.systemConfigFolder = etc.c_str();
    std::filesystem::create_directories(dir.path() / "etc");
    dir.write("etc/tarven-search-check.txt", "TARVEN_connect: 127.0.0.1\n");
    EXPECT_FALSE(runRequest(window, u"tarven-search-check.txt", environment));
    EXPECT_EQ(window.text(),
              "tarven-search-check.txt Loading...\r\n"
              "** TARVEN_port was not specified.80 use.\r\n"
              "** TARVEN_request was not specified.\r\n");
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(findDescription(u"tarven-search-check.txt", environment),
              test::widePath(dir.path() / "tarven" / "tarven-search-check.txt"));
}

}  // namespace
}  // namespace tarven
