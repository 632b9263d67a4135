#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "BuildInfo.h"
#include "platform/TextCodec.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TestPeer.h"

namespace tarven {
namespace {

const std::string kAnswer = "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\nhello\r\n";
const std::regex kDateLine(R"(\d{4}/\d{2}/\d{2}:\d{2}:\d{2}:\d{2}\r\n$)");

class CliTest : public testing::Test {
  protected:
    test::ProcessResult cli(std::vector<std::string> args,
                            std::vector<std::string> environment = {}) {
        args.insert(args.begin(), program);
        // Keep the user's own configuration out of every run.
        environment.push_back("XDG_CONFIG_HOME=" + (dir.path() / "config").string());
        return test::runProcess(args, environment);
    }
    std::string describe(const test::TestPeer& peer) {
        return "# heartbeat\nTARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
               "\nTARVEN_request: GET /beat HTTP/1.0\nConnection: close\n";
    }
    const std::string program = test::programFromEnvironment("TARVEN_CLI");
    test::TempDir dir;
};

TEST_F(CliTest, RunsTheFileItIsGivenAndStreamsTheLog) {
    test::TestPeer peer({true, kAnswer, test::PeerScript::After::close});
    const auto file = dir.write("beat.txt", describe(peer));
    const test::ProcessResult result = cli({"--file", file.string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(peer.received(), "GET /beat HTTP/1.0\r\nConnection: close\r\n\r\n");
    const std::string expected = file.string() +
                                 " Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer.portText() +
                                 "\r\n** Connceted.\r\nGET /beat HTTP/1.0\r\nConnection: close\r\n"
                                 "\r\n\r\n\r\n** Reciving...\r\n" +
                                 kAnswer + "** Socket close.\r\n";
    ASSERT_GE(result.out.size(), expected.size());
    EXPECT_EQ(result.out.substr(0, expected.size()), expected);
    EXPECT_TRUE(std::regex_match(result.out.substr(expected.size()), kDateLine)) << result.out;
}

TEST_F(CliTest, MakesAVerifiedHttpsExchangeWithTheGivenAuthority) {
    test::TestAuthority authority(dir.path());
    ASSERT_TRUE(authority.ready());
    const test::TestAuthority::Server certificate = authority.issue("server", {"127.0.0.1"});
    test::TestPeer peer({.answer = kAnswer,
                         .tlsCertificateFile = certificate.certificateFile.string(),
                         .tlsKeyFile = certificate.keyFile.string()});
    const auto file = dir.write("tls.txt", describe(peer) + "TARVEN_tls: on\nTARVEN_cafile: " +
                                               authority.certificateFile().string() + "\n");
    const test::ProcessResult result = cli({"--file", file.string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(peer.received(), "GET /beat HTTP/1.0\r\nConnection: close\r\n\r\n");
    EXPECT_NE(result.out.find("\r\n** Connceted.\r\n** TLS: TLSv1.3 "), std::string::npos);
    EXPECT_NE(result.out.find(", certificate verified for 127.0.0.1.\r\nGET /beat HTTP/1.0\r\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("** Reciving...\r\n" + kAnswer + "** Socket close.\r\n"),
              std::string::npos)
        << result.out;
}

TEST_F(CliTest, FailedRunsExitWithOne) {
    const auto missing = dir.path() / "missing.txt";
    const test::ProcessResult noFile = cli({"--file=" + missing.string()});
    EXPECT_EQ(noFile.exitCode, 1);
    EXPECT_EQ(noFile.out,
              missing.string() +
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
    const test::ProcessResult noConnection = cli({"--file", refused.string()});
    EXPECT_EQ(noConnection.exitCode, 1);
    EXPECT_NE(noConnection.out.find("** Connect failed.\r\n"), std::string::npos);
}

TEST_F(CliTest, LooksBesideItselfThenInTheUserConfigFolder) {
    test::TestPeer peer({true, kAnswer, test::PeerScript::After::close});
    const auto copy = dir.path() / "tarven-cli";
    std::filesystem::copy_file(program, copy);
    std::filesystem::create_directories(dir.path() / "config" / "tarven");
    dir.write("config/tarven/tarven.txt", "# no server here\n");

    const test::ProcessResult fromConfig =
        test::runProcess({copy.string()}, {"XDG_CONFIG_HOME=" + (dir.path() / "config").string()});
    EXPECT_EQ(fromConfig.exitCode, 1);
    EXPECT_EQ(fromConfig.out, "tarven.txt Loading...\r\n** TARVEN_connect was not specified.\r\n");

    dir.write("tarven.txt", describe(peer));
    const test::ProcessResult beside =
        test::runProcess({copy.string()}, {"XDG_CONFIG_HOME=" + (dir.path() / "config").string()});
    EXPECT_EQ(beside.exitCode, 0);
    EXPECT_EQ(beside.out.rfind("tarven.txt Loading...\r\n** Connceting...\r\n", 0), 0u);
    EXPECT_EQ(peer.received(), "GET /beat HTTP/1.0\r\nConnection: close\r\n\r\n");
}

// The TLS library is in a module found from the program's folder; a copy elsewhere has none.
TEST_F(CliTest, WithoutItsTlsModuleTlsRunsStopCleanlyAndPlainOnesStillWork) {
    const auto copy = dir.path() / "tarven-cli";
    std::filesystem::copy_file(program, copy);
    const std::vector<std::string> home = {"XDG_CONFIG_HOME=" + (dir.path() / "config").string()};

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

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(cli({"--bogus"}).exitCode, 2);
    EXPECT_EQ(cli({"--file"}).exitCode, 2);
    EXPECT_EQ(cli({"--file="}).exitCode, 2);
    EXPECT_EQ(cli({"--file", "a", "--file", "b"}).exitCode, 2);
    EXPECT_EQ(cli({"extra"}).exitCode, 2);
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
