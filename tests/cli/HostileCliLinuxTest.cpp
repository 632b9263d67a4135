// tarven-cli's memory, which must not grow with the size of the answer: measured with
// getrusage, which Windows does not have.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/CliFixtures.h"
#include "support/SameText.h"

namespace tarven {
namespace {

using test::HostileCliTest;

constexpr std::size_t kDateLineSize = test::kCliDateLineSize;

// The peak resident memory, in kB, of the largest child this process has waited for.
long childrenPeakKb() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

TEST_F(HostileCliTest, AFiftyMegabyteAnswerIsStreamedNotHeld) {
    constexpr std::size_t kAnswerBytes = 50u * 1024 * 1024;
    test::TestPeer small({.answer = "HTTP/1.0 200 OK\r\n\r\nsmall\r\n"});
    ASSERT_EQ(cli(describe(small)).exitCode, 0);
    const long baselineKb = childrenPeakKb();

    test::TestPeer large({.streamBytes = kAnswerBytes});
    const std::string file = describe(large);
    const test::ProcessResult result = cli(file);
    const long peakKb = childrenPeakKb();
    EXPECT_EQ(result.exitCode, 0);
    // The whole answer, once, between the opening and the close.
    const std::string expected =
        opening(file, large) + test::fillerBytes(0, kAnswerBytes) + "** Socket close.\r\n";
    ASSERT_GT(result.out.size(), expected.size());
    EXPECT_TRUE(test::sameText(result.out.substr(0, expected.size()), expected));
    EXPECT_EQ(result.out.size(), expected.size() + kDateLineSize);

    std::printf("peak RSS of tarven-cli: %ld kB, after a small answer: %ld kB\n", peakKb,
                baselineKb);
#if !defined(__SANITIZE_ADDRESS__)
    // Under ASan, freed memory waits in quarantine; under valgrind the peak is valgrind's own.
    if (std::getenv("TARVEN_CLI_UNDER_VALGRIND") == nullptr) {
        EXPECT_LT(peakKb - baselineKb, 4 * 1024);
    }
#endif
}

}  // namespace
}  // namespace tarven
