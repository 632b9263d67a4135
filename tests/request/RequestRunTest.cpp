#include "request/RequestRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "BuildInfo.h"
#include "net/TcpStream.h"
#include "platform/TextCodec.h"
#include "support/Fakes.h"
#include "support/RunFixture.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace tarven {
namespace {

const std::string kHint = "Please create a tarven.txt file first.\r\nThe creation method is in " +
                          platform::utf16ToUtf8(build::kDescriptionDocUrl) + "\r\n";
const std::string kAnswer = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfine\r\n";

class RequestRunTest : public test::RunFixture {
  protected:
    RequestRunTest() { answerWith({true, kAnswer, test::PeerScript::After::close}); }
    void answerWith(const test::PeerScript& script) {
        peer = std::make_unique<test::TestPeer>(script);
    }
    // What reached the peer; waits for the connection to end.
    std::string wire() { return peer->received(); }
    std::string exchange(const std::string& sentLines) {
        return "** Connceting...\r\n127.0.0.1:" + peer->portText() + "\r\n** Connceted.\r\n" +
               sentLines + "\r\n\r\n** Reciving...\r\n" + kAnswer + "** Socket close.\r\n" +
               test::kFixedDateLine;
    }
};

TEST_F(RequestRunTest, SendsTheWholeRequestAndLogsTheExchange) {
    ASSERT_TRUE(
        run("# report this machine's address\r\n"
            "TARVEN_connect: 127.0.0.1\r\n"
            "TARVEN_port: {port}\r\n"
            "TARVEN_request: POST /report?ip=%IPADDRESS% HTTP/1.0\r\n"
            "Host: example.test\r\n"
            "X-Address: %IPADDRESS%\r\n"
            "User-Agent: tarven-test\r\n"
            "TARVEN_postbody: state=up&n=1\r\n"
            "TARVEN_basicauth: user:pass\r\n"));
    // The entries that held the marker moved to the end; the credentials come after them.
    const std::string header =
        "Host: example.test\r\n"
        "User-Agent: tarven-test\r\n"
        "X-Address: 192.0.2.7\r\n"
        "Authorization: Basic dXNlcjpwYXNz\r\n";
    EXPECT_EQ(wire(), "POST /report?ip=192.0.2.7 HTTP/1.0\r\n" + header +
                          "Content-length:  12\r\n\r\nstate=up&n=1");
    EXPECT_EQ(log(), "tarven.txt Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer->portText() +
                         "\r\n** Connceted.\r\nPOST /report?ip=192.0.2.7 HTTP/1.0\r\n" + header +
                         "** Sending body-->\r\nContent-length:  12\r\n\r\nstate=up&n=1"
                         "\r\n\r\n** Reciving...\r\n" +
                         kAnswer + "** Socket close.\r\n" + test::kFixedDateLine);
}

TEST_F(RequestRunTest, MissingFileWritesTheHintAndConnectsNowhere) {
    RunEnvironment environment;
    const std::u16string missing = test::widePath(dir.path() / "tarven.txt");
    environment.descriptionPath = missing.c_str();
    EXPECT_FALSE(runRequest(window, kDescriptionFileName, environment));
    EXPECT_EQ(log(), "tarven.txt Loading...\r\nLoading file failed.\r\n" + kHint);
    EXPECT_EQ(peer->connections(), 0);
}

TEST_F(RequestRunTest, MissingSettingsEndTheRunBeforeConnecting) {
    EXPECT_FALSE(run("# only a comment\n"));
    EXPECT_EQ(log(), "tarven.txt Loading...\r\n** TARVEN_connect was not specified.\r\n");

    EXPECT_FALSE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_request: GET / HTTP/1.0\n"
            "TARVEN_connect: \n"));  // present with an empty value counts
    EXPECT_EQ(log(),
              "tarven.txt Loading...\r\n** TARVEN_port was not specified.80 use.\r\n"
              "** Connceting...\r\n:80\r\n** Connect failed.\r\n");

    EXPECT_FALSE(run("TARVEN_connect: 127.0.0.1\n"));
    EXPECT_EQ(log(),
              "tarven.txt Loading...\r\n** TARVEN_port was not specified.80 use.\r\n"
              "** TARVEN_request was not specified.\r\n");
    EXPECT_EQ(peer->connections(), 0);
}

TEST_F(RequestRunTest, MissingPortGoesToPortEighty) {
    run("TARVEN_connect: 127.0.0.1\nTARVEN_request: GET / HTTP/1.0\n");
    EXPECT_EQ(log().rfind("tarven.txt Loading...\r\n** TARVEN_port was not specified.80 use.\r\n"
                          "** Connceting...\r\n127.0.0.1:80\r\n",
                          0),
              0u)
        << log();
}

TEST_F(RequestRunTest, EmptyPortIsPortZeroWithoutAMessage) {
    EXPECT_FALSE(run("TARVEN_connect: 127.0.0.1\nTARVEN_port: \nTARVEN_request: GET /\n"));
    EXPECT_EQ(log(),
              "tarven.txt Loading...\r\n** Connceting...\r\n127.0.0.1:\r\n"
              "** Connect failed.\r\n");
}

TEST_F(RequestRunTest, EmptyBodyAndEmptyCredentialsStillSendTheirLines) {
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n"
            "TARVEN_request: POST / HTTP/1.0\nTARVEN_postbody: \nTARVEN_basicauth: \n"));
    EXPECT_EQ(wire(), "POST / HTTP/1.0\r\nAuthorization: Basic \r\nContent-length:  0\r\n\r\n");
    EXPECT_EQ(log(), "tarven.txt Loading...\r\n" +
                         exchange("POST / HTTP/1.0\r\nAuthorization: Basic \r\n"
                                  "** Sending body-->\r\nContent-length:  0\r\n\r\n"));
}

TEST_F(RequestRunTest, HeaderLinesOverFiveHundredBytesAreLeftOut) {
    const std::string fits(500 - 7, 'f');
    const std::string over(501 - 7, 'o');
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: GET /\n"
            "Before: 1\nX-Fits: " +
            fits + "\nX-Over: " + over + "\nAfter: 2\n"));
    const std::string sent = "GET /\r\nBefore: 1\r\nX-Fits: " + fits + "\r\nAfter: 2\r\n";
    EXPECT_EQ(wire(), sent + "\r\n");
    EXPECT_EQ(log(), "tarven.txt Loading...\r\n" + exchange(sent + "\r\n"));
}

TEST_F(RequestRunTest, OnlyUpperCaseReservedKeysStayOffTheWire) {
    ASSERT_TRUE(
        run("tarven_Connect: 127.0.0.1\nTARVEN_port: {port}\n"
            "Tarven_request: GET / HTTP/1.0\nTARVEN_note: private\nTARVENX: public\n"));
    EXPECT_EQ(wire(),
              "GET / HTTP/1.0\r\ntarven_Connect: 127.0.0.1\r\n"
              "Tarven_request: GET / HTTP/1.0\r\nTARVENX: public\r\n\r\n");
}

TEST_F(RequestRunTest, EveryMarkerIsFilledInWhereverItStands) {
    ASSERT_TRUE(
        run("X-First: %IPADDRESS%\nTARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n"
            "TARVEN_request: GET /" +
            std::string(600, 'p') +
            "?a=%IPADDRESS% HTTP/1.0\n"
            "X-Twice: %IPADDRESS%/%IPADDRESS%\nX-Plain: 1\n"));
    // The long request line does not fit a 512-byte area and must arrive whole.
    EXPECT_EQ(wire(),
              "GET /" + std::string(600, 'p') +
                  "?a=192.0.2.7 HTTP/1.0\r\n"
                  "X-Plain: 1\r\nX-First: 192.0.2.7\r\nX-Twice: 192.0.2.7/192.0.2.7\r\n\r\n");
}

TEST_F(RequestRunTest, FailedAddressLookupSendsTheNullAddress) {
    host.resolvesTo.clear();
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n"
            "TARVEN_request: GET /?ip=%IPADDRESS%\n"));
    EXPECT_EQ(wire(), "GET /?ip=0.0.0.0\r\n\r\n");
    EXPECT_EQ(log().rfind("tarven.txt Loading...\r\n** Get IP address failed.\r\n"
                          "** Connceting...\r\n",
                          0),
              0u);
}

TEST_F(RequestRunTest, ReachesAnIpv6ServerWrittenBareBracketedOrAsAName) {
    test::PeerScript script{true, kAnswer, test::PeerScript::After::close};
    script.listenAddress = "::1";
    host.names["v6only.test"] = "::1";
    for (const std::string server : {"::1", "[::1]", "v6only.test"}) {
        answerWith(script);
        ASSERT_TRUE(run("TARVEN_connect: " + server +
                        "\nTARVEN_port: {port}\nTARVEN_request: GET / HTTP/1.0\nHost: [::1]\n"))
            << log();
        EXPECT_EQ(wire(), "GET / HTTP/1.0\r\nHost: [::1]\r\n\r\n");
        // The log shows the server as it was written.
        EXPECT_EQ(log(), "tarven.txt Loading...\r\n** Connceting...\r\n" + server + ":" +
                             peer->portText() +
                             "\r\n** Connceted.\r\nGET / HTTP/1.0\r\nHost: [::1]\r\n\r\n"
                             "\r\n\r\n** Reciving...\r\n" +
                             kAnswer + "** Socket close.\r\n" + test::kFixedDateLine);
    }
}

TEST_F(RequestRunTest, BothMarkersAreFilledInOneValueEachWithItsOwnFailure) {
    platform::Ipv6InterfaceAddress global;
    platform::parseIpv6Literal("2001:db8::42", global.address);
    global.interfaceUp = global.globalScope = true;
    host.interfaces = {global};
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: GET /\n"
            "X-Both: %IPV6ADDRESS%,%IPADDRESS%,%IPV6ADDRESS%\nX-Case: %ipv6address%\n"));
    EXPECT_EQ(wire(),
              "GET /\r\nX-Case: %ipv6address%\r\n"
              "X-Both: 2001:db8::42,192.0.2.7,2001:db8::42\r\n\r\n");

    host.interfaces.clear();  // no address qualifies
    host.resolvesTo.clear();
    answerWith({true, kAnswer, test::PeerScript::After::close});
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n"
            "TARVEN_request: GET /?a=%IPV6ADDRESS%&b=%IPADDRESS%\n"));
    EXPECT_EQ(wire(), "GET /?a=::&b=0.0.0.0\r\n\r\n");
    EXPECT_EQ(log(),
              "tarven.txt Loading...\r\n** Get IPv6 address failed.\r\n"
              "** Get IP address failed.\r\n" +
                  exchange("GET /?a=::&b=0.0.0.0\r\n\r\n"));
}

TEST_F(RequestRunTest, ANulInAChunkEndsWhatIsShownOfIt) {
    answerWith({true, std::string("ab\0cd", 5), test::PeerScript::After::close});
    EXPECT_TRUE(run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: GET /\n"));
    EXPECT_NE(log().find("** Reciving...\r\nab** Socket close.\r\n"), std::string::npos) << log();
}

TEST_F(RequestRunTest, ASilentServerEndsTheRunAfterFiveSeconds) {
    answerWith({true, "HTTP/1.1 200 OK\r\n\r\nkept open", test::PeerScript::After::staySilent});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n"
            "TARVEN_request: GET / HTTP/1.1\n"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
    // The same ending as a server that closes.
    EXPECT_NE(log().find("kept open** Socket close.\r\n2026/03/04:05:06:07\r\n"), std::string::npos)
        << log();
}

}  // namespace
}  // namespace tarven
