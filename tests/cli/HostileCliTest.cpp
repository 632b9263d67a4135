// tarven-cli against peers that misbehave: its exit status and its output.

#include <gtest/gtest.h>

#include <string>

#include "cli/CliFixtures.h"
#include "support/SameText.h"

namespace tarven {
namespace {

using After = test::PeerScript::After;

constexpr char kReplacement[] = "\xEF\xBF\xBD";
constexpr std::size_t kDateLineSize = test::kCliDateLineSize;

using test::HostileCliTest;

TEST_F(HostileCliTest, RefusedConnectionExitsWithOne) {
    test::TestPeer peer({.refuse = true});
    const std::string file = describe(peer);
    const test::ProcessResult result = cli(file);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, file + " Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer.portText() +
                              "\r\n** Connect failed.\r\n");
}

TEST_F(HostileCliTest, PeersThatEndBadlyStillEndTheRunWithZero) {
    for (const test::PeerScript& script :
         {test::PeerScript{.readRequest = false, .after = After::abort},
          test::PeerScript{.answer = "HTTP/1.0 200 OK\r\n\r\ncut", .after = After::reset},
          test::PeerScript{.readRequest = false, .after = After::reset}}) {
        test::TestPeer peer(script);
        const std::string file = describe(peer);
        const test::ProcessResult result = cli(file);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out.rfind(opening(file, peer) + script.answer + "** Socket close.\r\n", 0),
                  0u)
            << result.out;
    }
}

TEST_F(HostileCliTest, AReaderThatGoesAwayDoesNotCutTheRequest) {
    test::TestPeer peer({.answer = "HTTP/1.0 200 OK\r\n\r\nok\r\n"});
    const std::string file = describe(peer, "Host: example.test\n");
    // The pipe's reader is gone before the first log line is written.
    const test::ProcessResult result =
        test::runProcess({program, "--file", file}, {}, {.noReader = true});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(peer.received(), "GET / HTTP/1.0\r\nHost: example.test\r\n\r\n");
}

TEST_F(HostileCliTest, UndecodableCharactersAreReplacedAndSplitOnesKeptWhole) {
    const std::string r = kReplacement;
    const struct {
        std::string answer, part, shown;
    } cases[] = {
        {"caf\xE9 \xE2\x82", "\xAC ok\r\n", "caf" + r + " \xE2\x82\xAC ok\r\n"},
        // The first receive ends one byte into the character.
        {std::string(511, 'A') + "\xC3", "\xA9 ok", std::string(511, 'A') + "\xC3\xA9 ok"},
    };
    for (const auto& c : cases) {
        test::TestPeer peer(
            {.answer = c.answer, .parts = {c.part}, .pause = std::chrono::milliseconds(250)});
        const std::string file = describe(peer);
        const test::ProcessResult result = cli(file);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.out.rfind(opening(file, peer) + c.shown + "** Socket close.\r\n", 0), 0u)
            << result.out;
    }
}

TEST_F(HostileCliTest, APeerThatNeverReadsEndsTheRunWithZero) {
    test::TestPeer peer({.readRequest = false, .after = After::ignore});
    const std::string body(16u * 1024 * 1024, 'b');
    const std::string file = describe(peer, "TARVEN_postbody: " + body + "\n");
    const test::ProcessResult result = cli(file);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(
        test::sameText(result.out.substr(0, result.out.size() - kDateLineSize),
                       file + " Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer.portText() +
                           "\r\n** Connceted.\r\nGET / HTTP/1.0\r\n** Sending body-->\r\n"
                           "Content-length:  16777216\r\n\r\n" +
                           body + "\r\n\r\n** Reciving...\r\n** Socket close.\r\n"));
}

}  // namespace
}  // namespace tarven
