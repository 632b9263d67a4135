// tarven-cli's cases that need Linux: the journal's priorities (JOURNAL_STREAM), the warning
// about a file of secrets that others can read (permission bits), and the XDG and /etc folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/CliFixtures.h"

namespace tarven {
namespace {

using test::OperatorCliTest;

TEST_F(OperatorCliTest, JournalLinesCarryPrioritiesAndHideSecrets) {
    // The answer's second line comes in two chunks and pretends to be an error.
    test::TestPeer peer({.answer = "HTTP/1.0 200 OK\r\n<3>fo",
                         .parts = {"rged\r\nend\r\n"},
                         .pause = std::chrono::milliseconds(100)});
    const std::string file = secretFile(peer);
    const test::ProcessResult run = cli({"--file", file}, {.stdoutIsJournal = true});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(peer.received(), wire);
    std::string expected = opening(file, peer, "<6>");
    for (std::size_t at = 0, next; (next = masked.find('\n', at)) != std::string::npos;
         at = next + 1)
        expected += "<6>" + masked.substr(at, next + 1 - at);
    expected +=
        "<6>\r\n<6>\r\n<6>** Reciving...\r\n<6>HTTP/1.0 200 OK\r\n<6><3>forged\r\n"
        "<6>end\r\n<6>** Socket close.\r\n<6>";
    EXPECT_EQ(run.out.substr(0, expected.size()), expected);

    // --show-secrets logs what was sent; a stream that is not the one named gets no prefixes.
    const test::ProcessResult shown = cli({"--file", file, "--show-secrets"}, {true});
    EXPECT_NE(shown.out.find("<6>Authorization: Basic YWxpY2U6czNjcmV0\r\n"), std::string::npos);
    EXPECT_NE(shown.out.find("<6>GET /update?host=h&token=abc HTTP/1.0\r\n"), std::string::npos);
    const test::ProcessResult elsewhere =
        test::runProcess({program, "--file", file}, {"JOURNAL_STREAM=1:1"});
    EXPECT_EQ(elsewhere.out.rfind(opening(file, peer) + wire.substr(0, wire.size() - 2), 0), 0u);
    EXPECT_EQ(peer.received(3), wire + wire + wire);

    // Failures and warnings before any connection.
    const auto bare = dir.write("bare.txt", "TARVEN_connect: 127.0.0.1\n");
    EXPECT_EQ(cli({"--file", test::utf8(bare)}, {true}).out,
              "<6>" + test::utf8(bare) +
                  " Loading...\r\n<4>** TARVEN_port was not specified.80 use.\r\n"
                  "<3>** TARVEN_request was not specified.\r\n");
    const auto missing = (dir.path() / "missing.txt").string();
    EXPECT_EQ(
        cli({"--file", missing}, {true})
            .out.rfind("<6>" + missing + " Loading...\r\n<3>Loading file failed.\r\n<3>Please", 0),
        0u);
}

TEST_F(OperatorCliTest, WarnsOnceWhenOthersCanReadTheSecrets) {
    test::TestPeer peer({.answer = "HTTP/1.0 200 OK\r\n\r\n"});
    const std::string file = secretFile(peer);
    EXPECT_EQ(cli({"--check", "--file", file}).err.find("chmod"), std::string::npos);

    std::filesystem::permissions(file, std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    const test::ProcessResult readable = cli({"--file", file});
    EXPECT_EQ(readable.exitCode, 0);  // the run goes on
    EXPECT_EQ(readable.err, "tarven-cli: warning: " + file +
                                " holds credentials and can be read by others; chmod 600 " + file +
                                "\n");

    const auto open =
        dir.write("open.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                  "\nTARVEN_request: GET /\n");
    std::filesystem::permissions(open, std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(cli({"--file", test::utf8(open)}).err, "");  // nothing secret in it

    // A secret header name or body parameter counts as well.
    for (const char* secret : {"X-Api-Key: k1\n", "TARVEN_postbody: user=u&pass=p\n"}) {
        const auto keyed =
            dir.write("keyed.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                       "\nTARVEN_request: GET /\n" + secret);
        std::filesystem::permissions(keyed, std::filesystem::perms::others_read,
                                     std::filesystem::perm_options::add);
        EXPECT_NE(cli({"--file", test::utf8(keyed)}).err.find("chmod 600"), std::string::npos)
            << secret;
    }
}

TEST_F(OperatorCliTest, SecretsTheServerEchoesStayMaskedInTheJournal) {
    expectEchoedSecretsMasked(true);
}

// Without --file, every place searched is named: the user's folder, then /etc.
TEST_F(OperatorCliTest, WithoutAFileEveryPlaceSearchedIsNamed) {
    const test::ProcessResult nowhere = cli({});
    EXPECT_EQ(nowhere.err.rfind("tarven-cli: no tarven.txt found (looked in: ", 0), 0u)
        << nowhere.err;
    EXPECT_NE(nowhere.err.find(test::utf8(dir.path() / "config" / "tarven" / "tarven.txt") +
                               ", /etc/tarven/tarven.txt)\n"),
              std::string::npos)
        << nowhere.err;
}

}  // namespace
}  // namespace tarven
