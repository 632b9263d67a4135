#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "BuildInfo.h"
#include "cli/CliFixtures.h"
#include "platform/TextCodec.h"
#include "support/TestCertificates.h"

namespace tarven {
namespace {

using test::CliTest;
const std::string& kAnswer = test::kCliAnswer;
const std::regex& kDateLine = test::kCliDateLine;

TEST_F(CliTest, RunsTheFileItIsGivenAndStreamsTheLog) {
    test::TestPeer peer({true, kAnswer, test::PeerScript::After::close});
    const auto file = dir.write("beat.txt", describe(peer));
    const test::ProcessResult result = cli({"--file", test::utf8(file)});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(peer.received(), "GET /beat HTTP/1.0\r\nConnection: close\r\n\r\n");
    const std::string expected = test::utf8(file) +
                                 " Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer.portText() +
                                 "\r\n** Connceted.\r\nGET /beat HTTP/1.0\r\nConnection: close\r\n"
                                 "\r\n\r\n\r\n** Reciving...\r\n" +
                                 kAnswer + "** Socket close.\r\n";
    ASSERT_GE(result.out.size(), expected.size());
    EXPECT_EQ(result.out.substr(0, expected.size()), expected);
    EXPECT_TRUE(std::regex_match(result.out.substr(expected.size()), kDateLine)) << result.out;
}

TEST_F(CliTest, MakesAVerifiedHttpsExchangeWithTheGivenAuthority) {
    // Under Wine the certificates come from the Linux build.
    if (!std::filesystem::exists(test::programFromEnvironment("TARVEN_TLS_HELPER")))
        GTEST_SKIP() << "no tarven-tls-helper: build the Linux side first";
    test::TestAuthority authority(dir.path());
    ASSERT_TRUE(authority.ready());
    const test::TestAuthority::Server certificate = authority.issue("server", {"127.0.0.1"});
    test::TestPeer peer({.answer = kAnswer,
                         .tlsCertificateFile = certificate.certificateFile.string(),
                         .tlsKeyFile = certificate.keyFile.string()});
    const auto file = dir.write("tls.txt", describe(peer) + "TARVEN_tls: on\nTARVEN_cafile: " +
                                               test::utf8(authority.certificateFile()) + "\n");
    const test::ProcessResult result = cli({"--file", test::utf8(file)});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(peer.received(), "GET /beat HTTP/1.0\r\nConnection: close\r\n\r\n");
    // The version is the one the two sides agreed on: Wine's TLS offers less than OpenSSL.
    ASSERT_NE(peer.negotiated(), "");
    EXPECT_NE(result.out.find("\r\n** Connceted.\r\n** TLS: " + peer.negotiated() +
                              ", certificate verified for 127.0.0.1.\r\nGET /beat HTTP/1.0\r\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("** Reciving...\r\n" + kAnswer + "** Socket close.\r\n"),
              std::string::npos)
        << result.out;
}

TEST_F(CliTest, FailedRunsExitWithOne) {
    const auto missing = dir.path() / "missing.txt";
    const test::ProcessResult noFile = cli({"--file=" + test::utf8(missing)});
    EXPECT_EQ(noFile.exitCode, 1);
    EXPECT_EQ(noFile.out,
              test::utf8(missing) +
                  " Loading...\r\nLoading file failed.\r\n"
                  "Please create a tarven.txt file first.\r\nThe creation method is in " +
                  platform::utf16ToUtf8(build::kDescriptionDocUrl) + "\r\n");

    TcpStream probe;  // a port with no listener
    ASSERT_EQ(probe.listenOn(0, "127.0.0.1"), 1);
    const std::string port = std::to_string(probe.localPort());
    probe.close();
    const auto refused =
        dir.write("refused.txt",
                  "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + port + "\nTARVEN_request: GET /\n");
    const test::ProcessResult noConnection = cli({"--file", test::utf8(refused)});
    EXPECT_EQ(noConnection.exitCode, 1);
    EXPECT_NE(noConnection.out.find("** Connect failed.\r\n"), std::string::npos);
}

// Linux's config/tarven and Windows' config\Tarven are one folder: Windows' names are
// case-blind.
TEST_F(CliTest, LooksBesideItselfThenInTheUserConfigFolder) {
    test::TestPeer peer({true, kAnswer, test::PeerScript::After::close});
    const auto copy = copyOfProgram();
    std::filesystem::create_directories(dir.path() / "config" / "tarven");
    dir.write((std::filesystem::path("config") / "tarven" / "tarven.txt").string(),
              "# no server here\n");
    const std::vector<std::string> own = test::ownConfigFolders(dir.path());

    const test::ProcessResult fromConfig = test::runProcess({test::utf8(copy)}, own);
    EXPECT_EQ(fromConfig.exitCode, 1);
    EXPECT_EQ(fromConfig.out, "tarven.txt Loading...\r\n** TARVEN_connect was not specified.\r\n");

    dir.write("tarven.txt", describe(peer));
    const test::ProcessResult beside = test::runProcess({test::utf8(copy)}, own);
    EXPECT_EQ(beside.exitCode, 0);
    EXPECT_EQ(beside.out.rfind("tarven.txt Loading...\r\n** Connceting...\r\n", 0), 0u);
    EXPECT_EQ(peer.received(), "GET /beat HTTP/1.0\r\nConnection: close\r\n\r\n");
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(cli({"--bogus"}).exitCode, 2);
    EXPECT_EQ(cli({"--file"}).exitCode, 2);
    EXPECT_EQ(cli({"--file="}).exitCode, 2);
    EXPECT_EQ(cli({"--file", "a", "--file", "b"}).exitCode, 2);
    EXPECT_EQ(cli({"extra"}).exitCode, 2);
}

// Names the system's code page cannot hold reach the program whole, and come back whole in
// its log and its causes.
TEST_F(CliTest, TakesAndShowsPathsOutsideTheCodePage) {
    test::TestPeer peer({true, kAnswer, test::PeerScript::After::close});
    const auto file = dir.write("\xE8\xA8\xAD\xE5\xAE\x9A-\xCE\xB1.txt", describe(peer));
    const test::ProcessResult ran = cli({"--file", test::utf8(file)});
    EXPECT_EQ(ran.exitCode, 0);
    EXPECT_EQ(ran.out.rfind(test::utf8(file) + " Loading...\r\n** Connceting...\r\n", 0), 0u)
        << ran.out;
    EXPECT_EQ(peer.received(), "GET /beat HTTP/1.0\r\nConnection: close\r\n\r\n");

    const auto missing = dir.path() / test::utf8Path("\xCE\xB2");
    std::filesystem::create_directory(missing);
    const test::ProcessResult failed = cli({"--file=" + test::utf8(missing)});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.err, "tarven-cli: cannot read " + test::utf8(missing) + ": Is a directory\n");
    const test::ProcessResult unexpected = cli({"\xCE\xB3"});
    EXPECT_EQ(unexpected.exitCode, 2);
    EXPECT_EQ(unexpected.err.rfind("tarven-cli: unexpected argument '\xCE\xB3'\n", 0), 0u);
}

TEST_F(CliTest, HelpAndVersion) {
    const test::ProcessResult version = cli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind(std::string("tarven-cli ") + build::kVersion + "\nTLS: ", 0), 0u)
        << version.out;
    const test::ProcessResult help = cli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: tarven-cli"), std::string::npos);
}

}  // namespace
}  // namespace tarven
