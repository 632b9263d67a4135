// Description files that only Linux can make: a FIFO, and one its reader may not open
// (permission bits, and fork to give up root).

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "request/BadDescriptionFixtures.h"

namespace tarven {
namespace {

using test::BadDescriptionTest;
const std::string& kNotLoaded = test::kNotLoaded;

TEST_F(BadDescriptionTest, AFifoIsNotLoaded) {
    // A pipe with no writer must not stall the run.
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.txt").c_str(), 0600), 0);
    EXPECT_FALSE(runPath(dir.path() / "fifo.txt"));
    EXPECT_EQ(log(), kNotLoaded);
    EXPECT_LT(took, std::chrono::seconds(2));
    EXPECT_EQ(peer->connections(), 0);
}

TEST_F(BadDescriptionTest, UnreadableFileIsNotLoaded) {
    const auto file = dir.write("tarven.txt", "TARVEN_connect: 127.0.0.1\n");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    if (::geteuid() != 0) {
        EXPECT_FALSE(runPath(file));
        EXPECT_EQ(log(), kNotLoaded);
        return;
    }
    // Root reads any file, so the run is made by a child that has given up root.
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr)
        GTEST_SKIP() << "no user 'nobody' to drop root privileges to";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
            ::_exit(3);
        if (::access(file.c_str(), R_OK) == 0)
            ::_exit(4);
        const bool done = runPath(file);
        ::_exit(!done && log() == kNotLoaded ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong result or log; 3: could not drop root; "
                                         "4: the file stayed readable";
}

}  // namespace
}  // namespace tarven
