// The run against peers that misbehave: each must end the run with the usual messages, in
// bounded time, without holding what the peer sends.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "request/RequestRun.h"
#include "support/Fakes.h"
#include "support/RunFixture.h"
#include "support/SameText.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"
#include "log/LogView.h"

namespace tarven {
namespace {

using After = test::PeerScript::After;

constexpr auto kPause = std::chrono::milliseconds(250);
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD as the log's UTF-8 shows it

class HostilePeerTest : public test::RunFixture {
  protected:
    bool runAgainst(const test::PeerScript& script, const std::string& extraLines = "") {
        peer = std::make_unique<test::TestPeer>(script);
        return run(
            "TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n"
            "TARVEN_request: GET / HTTP/1.0\n" +
            extraLines);
    }
    // The whole log of a run that sent the plain request and received `shown`.
    std::string transcript(const std::string& shown, const std::string& sent = "\r\n") const {
        return "tarven.txt Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer->portText() +
               "\r\n** Connceted.\r\nGET / HTTP/1.0\r\n" + sent + "\r\n\r\n** Reciving...\r\n" +
               shown + "** Socket close.\r\n" + test::kFixedDateLine;
    }
};

TEST_F(HostilePeerTest, RefusedConnectionFailsTheRun) {
    EXPECT_FALSE(runAgainst({.refuse = true}));
    EXPECT_EQ(log(), "tarven.txt Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer->portText() +
                         "\r\n** Connect failed.\r\n");
}

TEST_F(HostilePeerTest, PeerThatSaysNothingIsLeftAfterFiveSeconds) {
    EXPECT_TRUE(runAgainst({.readRequest = false, .after = After::ignore}));
    EXPECT_EQ(log(), transcript(""));
    EXPECT_GE(took, std::chrono::milliseconds(4900));
}

TEST_F(HostilePeerTest, PeerThatAnswersAndKeepsTheConnectionIsLeftAfterFiveSeconds) {
    EXPECT_TRUE(
        runAgainst({.answer = "HTTP/1.1 200 OK\r\n\r\nstill here", .after = After::ignore}));
    EXPECT_EQ(log(), transcript("HTTP/1.1 200 OK\r\n\r\nstill here"));
    EXPECT_GE(took, std::chrono::milliseconds(4900));
}

TEST_F(HostilePeerTest, PeerThatClosesAtOnceEndsTheRunAsAnEmptyAnswer) {
    EXPECT_TRUE(runAgainst({.readRequest = false, .after = After::abort}));
    EXPECT_EQ(log(), transcript(""));
    EXPECT_LT(took, std::chrono::seconds(4));
}

TEST_F(HostilePeerTest, ResetEndsTheRunLikeAClose) {
    // Before the request is read: the sends may fail, which the run does not examine.
    EXPECT_TRUE(runAgainst({.readRequest = false, .after = After::reset}));
    EXPECT_EQ(log(), transcript(""));
    EXPECT_LT(took, std::chrono::seconds(4));

    // After a part of the answer, which is still shown.
    EXPECT_TRUE(runAgainst({.answer = "HTTP/1.0 200 OK\r\n\r\npart", .after = After::reset}));
    EXPECT_EQ(log(), transcript("HTTP/1.0 200 OK\r\n\r\npart"));
    EXPECT_LT(took, std::chrono::seconds(4));
}

TEST_F(HostilePeerTest, EachChunkIsShownUpToItsFirstNul) {
    using namespace std::string_literals;
    EXPECT_TRUE(runAgainst({.answer = "abc\0def"s,
                            .parts = {"\0hidden"s, "shown\0not\r\n"s, "end\r\n"},
                            .pause = kPause}));
    EXPECT_EQ(log(), transcript("abcshownend\r\n"));
}

TEST_F(HostilePeerTest, BytesThatDoNotDecodeShowAsReplacementCharacters) {
    EXPECT_TRUE(runAgainst({.answer = "caf\xE9 \xFF\xFE \xC3\xA9 \xED\xA0\x80\r\n"}));
    const std::string r = kReplacement;
    EXPECT_EQ(log(), transcript("caf" + r + " " + r + r + " \xC3\xA9 " + r + r + r + "\r\n"));
}

TEST_F(HostilePeerTest, ACharacterSplitAcrossChunksShowsWhole) {
    // The start of a character that a chunk cuts waits for the next chunk; one that the answer's
    // end cuts shows as one replacement character.
    EXPECT_TRUE(runAgainst({.answer = "price: \xE2\x82",
                            .parts = {"\xAC 5\r\nnext line\r\n\xF0\x9F", "\x98\x80 end \xE2\x82"},
                            .pause = kPause}));
    const std::string r = kReplacement;
    EXPECT_EQ(log(), transcript("price: \xE2\x82\xAC 5\r\nnext line\r\n\xF0\x9F\x98\x80 end " + r));
}

TEST_F(HostilePeerTest, AFiftyMegabyteAnswerLeavesATrimmedLog) {
    constexpr std::size_t kAnswerBytes = 50u * 1024 * 1024;
    EXPECT_TRUE(runAgainst({.streamBytes = kAnswerBytes}));
    EXPECT_EQ(peer->sent(), kAnswerBytes);
    EXPECT_LE(window.log.lineCount(), kLogTrimAbove + 1);
    // What is left is the answer's end, byte for byte, and the usual close.
    const std::string text = log();
    const std::string ending = std::string("** Socket close.\r\n") + test::kFixedDateLine;
    ASSERT_GT(text.size(), ending.size());
    ASSERT_EQ(text.substr(text.size() - ending.size()), ending);
    const std::string tail = text.substr(0, text.size() - ending.size());
    EXPECT_LT(tail.size(), 64u * 1024);
    EXPECT_TRUE(test::sameText(tail, test::fillerBytes(kAnswerBytes - tail.size(), tail.size())));
}

TEST_F(HostilePeerTest, AnAnswerTrickledOverTwentySecondsIsShownWhole) {
    const std::string answer = "trickled 1 byte/s!\r\n";
    test::PeerScript script{.parts = {}, .pause = std::chrono::seconds(1)};
    for (const char c : answer)
        script.parts.emplace_back(1, c);
    EXPECT_TRUE(runAgainst(script));
    EXPECT_EQ(log(), transcript(answer));
    EXPECT_GE(took, std::chrono::seconds(19));
}

TEST_F(HostilePeerTest, APeerThatNeverReadsCostsOneSendTimeOut) {
    // Far more than the loopback buffers hold, so the body's send meets its time-out.
    const std::string body(16u * 1024 * 1024, 'b');
    EXPECT_TRUE(runAgainst({.readRequest = false, .after = After::ignore},
                           "TARVEN_postbody: " + body + "\n"));
    EXPECT_TRUE(
        test::sameText(log(), transcript("", "** Sending body-->\r\nContent-length:  " +
                                                 std::to_string(body.size()) + "\r\n\r\n" + body)));
    // One five-second wait for the send and one for the answer, and nothing more.
    EXPECT_GE(took, std::chrono::milliseconds(9800));
    EXPECT_LT(took, std::chrono::seconds(20));
}

}  // namespace
}  // namespace tarven
