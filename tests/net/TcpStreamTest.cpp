#include "net/TcpStream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SystemSockets.h"
#include "net/Connected.h"
#include "support/Fakes.h"

namespace tarven {
namespace {

using Clock = std::chrono::steady_clock;
using test::Connected;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(TcpStream, ExchangesBytesBothWays) {
    Connected c;
    EXPECT_EQ(c.client.lastResult, 0);
    EXPECT_EQ(c.client.sendAll("GET / HTTP/1.0\r\n", 0, 0), 16);
    const std::string binary("a\0b\0", 4);
    EXPECT_EQ(c.client.sendAll(binary.data(), 4, 0), 4);
    char buffer[512] = {};
    std::string got;
    while (got.size() < 20) {
        const int n = c.peer->receive(buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, "GET / HTTP/1.0\r\n" + binary);
    EXPECT_EQ(c.peer->sendAll("OK", 0, 0), 2);
    EXPECT_EQ(c.client.receive(buffer, 512, 0), 2);
}

TEST(TcpStream, ReadsThePortAsDecimalText) {
    TcpStream listener;
    ASSERT_EQ(listener.listenOn(0, "127.0.0.1"), 1);
    const int port = listener.localPort();
    for (const std::string& text : {"  +" + std::to_string(port), std::to_string(port) + "/x",
                                    std::to_string(port + 65536)}) {
        TcpStream client;
        EXPECT_EQ(client.connectTo("127.0.0.1", text.c_str()), 0) << text;
        TcpStream accepted(listener.acceptPeer(nullptr));
        EXPECT_GE(accepted.handle, 0);
    }
    TcpStream noDigits;  // port 0 is never reachable
    EXPECT_EQ(noDigits.connectTo("127.0.0.1", "http"), -1);
    EXPECT_EQ(noDigits.handle, -1);
}

TEST(TcpStream, ResolvesHostNames) {
    TcpStream listener;
    ASSERT_EQ(listener.listenOn(0, "127.0.0.1"), 1);
    TcpStream client;
    EXPECT_EQ(client.connectTo("localhost", std::to_string(listener.localPort()).c_str()), 0);
}

TEST(TcpStream, ConnectsOverIpv6BareBracketedAndByName) {
    TcpStream listener;
    ASSERT_EQ(listener.listenOn(0, "::1"), 1);
    const std::string port = std::to_string(listener.localPort());
    ASSERT_GT(listener.localPort(), 0);
    test::FakeHost host;
    host.names["v6only.test"] = "::1";  // a name with no IPv4 address
    for (const char* server : {"::1", "[::1]", "v6only.test"}) {
        TcpStream client;
        ASSERT_EQ(client.connectTo(server, port.c_str(), host), 0) << server;
        sockaddr_in area{};  // the 16-byte area gets the family and port of an IPv6 peer
        TcpStream accepted(listener.acceptPeer(&area));
        ASSERT_GE(accepted.handle, 0);
        EXPECT_EQ(area.sin_family, AF_INET6);
        EXPECT_EQ(client.sendAll("over six", 0, 0), 8);
        char buffer[16] = {};
        EXPECT_EQ(accepted.receive(buffer, sizeof buffer, 0), 8);
        EXPECT_STREQ(buffer, "over six");
    }
    // An IPv6-only listener takes no IPv4 peer, and a name with IPv4 goes there first.
    TcpStream ipv4;
    EXPECT_EQ(ipv4.connectTo("127.0.0.1", port.c_str()), -1);
    host.names["v4.test"] = "127.0.0.1";
    EXPECT_EQ(ipv4.connectTo("v4.test", port.c_str(), host), -1);
    EXPECT_EQ(ipv4.connectTo("[::1", port.c_str(), host), -1);
}

TEST(TcpStream, RefusedAndUnresolvableConnectsFailAndLeaveItClosed) {
    TcpStream probe;  // a port that was free a moment ago has no listener now
    ASSERT_EQ(probe.listenOn(0, "127.0.0.1"), 1);
    const std::string port = std::to_string(probe.localPort());
    probe.close();

    TcpStream refused;
    EXPECT_EQ(refused.connectTo("127.0.0.1", port.c_str()), -1);
    EXPECT_EQ(refused.lastResult, -1);
    EXPECT_EQ(refused.handle, -1);
    EXPECT_EQ(refused.connectFailure, ConnectFailure::refused);

    TcpStream unresolvable;
    EXPECT_EQ(unresolvable.connectTo("no-such-host.invalid", "80"), -1);
    EXPECT_EQ(unresolvable.handle, -1);
    EXPECT_EQ(unresolvable.connectFailure, ConnectFailure::nameNotFound);
}

TEST(TcpStream, ClosedStreamRefusesEveryTransfer) {
    TcpStream stream;
    char buffer[8];
    EXPECT_EQ(stream.sendAll("x", 0, 0), -1);
    EXPECT_EQ(stream.receive(buffer, 8, 0), -1);
    EXPECT_EQ(stream.close(), -1);
    EXPECT_EQ(stream.waitReadable(), -1);
}

TEST(TcpStream, NothingToSendSendsNothing) {
    Connected c;
    EXPECT_EQ(c.client.sendAll("", 0, 0), 0);
    EXPECT_EQ(c.client.sendAll(nullptr, 0, 0), 0);
    c.client.close();
    char buffer[8];
    EXPECT_EQ(c.peer->receive(buffer, 8, 0), -1);  // end of stream, no bytes before it
}

TEST(TcpStream, PeerClosingEndsReceiveWithMinusOne) {
    Connected c;
    c.peer->sendAll("last", 0, 0);
    c.peer->close();
    char buffer[16];
    EXPECT_EQ(c.client.receive(buffer, 16, 0), 4);
    EXPECT_EQ(c.client.receive(buffer, 16, 0), -1);
    EXPECT_EQ(c.client.close(), 0);
    EXPECT_EQ(c.client.handle, -1);
}

TEST(TcpStream, SilentPeerTimesOutAfterFiveSeconds) {
    Connected c;
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_EQ(c.client.receive(buffer, 16, 0), 0);
    EXPECT_GE(secondsSince(start), 4.9);
    EXPECT_LT(secondsSince(start), 8.0);
}

TEST(TcpStream, PeerThatNeverReadsTimesTheSendOut) {
    Connected c;
    const std::vector<char> big(64 << 20, 'x');  // far more than both socket buffers hold
    const auto start = Clock::now();
    EXPECT_EQ(c.client.sendAll(big.data(), static_cast<int>(big.size()), 0), -1);
    EXPECT_GE(secondsSince(start), 4.9);
    EXPECT_LT(secondsSince(start), 10.0);
}

TEST(TcpStream, SendToAPeerThatHasGoneFailsWithoutASignal) {
    Connected c;
    c.peer.reset();  // the peer closes; a later send gets a reset, and SIGPIPE must not come
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string chunk(4096, 'x');
    int last = 4096;
    for (int i = 0; i < 50 && last == 4096; ++i)
        last = c.client.sendAll(chunk.data(), 4096, 0);
    EXPECT_LT(last, 4096);
}

TEST(TcpStream, ListenerTimesOutWhenNobodyConnects) {
    TcpStream listener;
    ASSERT_EQ(listener.listenOn(0, "127.0.0.1"), 1);
    listener.timeout = Timeout{0, 200 * 1000};
    EXPECT_EQ(listener.waitReadable(), 0);
    EXPECT_EQ(listener.acceptPeer(nullptr), -1);
    EXPECT_EQ(listener.listenOn(0, "not an address"), -1);
}

TEST(TcpStream, StartingTheNetworkIsRecordedOnce) {
    TcpStream stream;
    EXPECT_TRUE(networkingStarted());
    startNetworking();
    EXPECT_TRUE(networkingStarted());
}

}  // namespace
}  // namespace tarven
