// tarven-cli's cases that need Linux: its TLS library is a module of its own, found beside it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BuildInfo.h"
#include "cli/CliFixtures.h"

namespace tarven {
namespace {

using test::CliTest;
const std::string& kAnswer = test::kCliAnswer;

// The TLS library is in a module found from the program's folder; a copy elsewhere has none.
TEST_F(CliTest, WithoutItsTlsModuleTlsRunsStopCleanlyAndPlainOnesStillWork) {
    const auto copy = copyOfProgram();
    const std::vector<std::string> home = test::ownConfigFolders(dir.path());

    const auto tls = dir.write("tls.txt",
                               "TARVEN_connect: 127.0.0.1\nTARVEN_port: 9\n"
                               "TARVEN_tls: on\nTARVEN_request: GET /\n");
    const test::ProcessResult stopped =
        test::runProcess({copy.string(), "--file", tls.string()}, home);
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_EQ(stopped.out,
              tls.string() + " Loading...\r\n** TLS is not available in this build.\r\n");

    const test::ProcessResult version = test::runProcess({copy.string(), "--version"}, home);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("tarven-cli ") + build::kVersion + "\nTLS: none\n");

    test::TestPeer peer({true, kAnswer, test::PeerScript::After::close});
    const auto plain = dir.write("plain.txt", describe(peer));
    const test::ProcessResult ran =
        test::runProcess({copy.string(), "--file", plain.string()}, home);
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_NE(ran.out.find("** Reciving...\r\n" + kAnswer + "** Socket close.\r\n"),
              std::string::npos)
        << ran.out;
}

}  // namespace
}  // namespace tarven
