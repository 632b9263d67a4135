// Description files that are missing, unreadable, huge, malformed or hostile: each run ends
// with the usual messages, in bounded time, and sends exactly what the file describes.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "request/BadDescriptionFixtures.h"
#include "support/SameText.h"

namespace tarven {
namespace {

using namespace std::string_literals;

// A decimal text of more than 25 digits whose value is `wanted` modulo 65536, so that its low
// 16 bits name that port however far the number overflows.
std::string hugeNumberFor(int wanted) {
    std::string digits(26, '0');  // built in place: "1" + string trips a false -Wrestrict in g++ 12
    digits[0] = '1';
    int remainder = 0;
    for (const char d : digits)
        remainder = (remainder * 10 + (d - '0')) % 65536;
    const std::string add = std::to_string((wanted - remainder + 65536) % 65536);
    digits.replace(digits.size() - add.size(), add.size(), add);
    return digits;
}

using test::BadDescriptionTest;
const std::string& kNotLoaded = test::kNotLoaded;
const std::string& kNoServer = test::kNoServer;
const std::string& kAnswer = test::kBadAnswer;

TEST_F(BadDescriptionTest, MissingEmptyOrDirectoryIsNotLoaded) {
    EXPECT_FALSE(runPath(dir.path() / "tarven.txt"));
    EXPECT_EQ(log(), kNotLoaded);

    EXPECT_FALSE(run(""));
    EXPECT_EQ(log(), kNotLoaded);

    std::filesystem::remove(dir.path() / "tarven.txt");
    std::filesystem::create_directory(dir.path() / "tarven.txt");
    EXPECT_FALSE(runPath(dir.path() / "tarven.txt"));
    EXPECT_EQ(log(), kNotLoaded);
    EXPECT_EQ(peer->connections(), 0);
}

TEST_F(BadDescriptionTest, BinaryJunkLoadsHarmlessly) {
    std::mt19937 random(5);
    std::string junk(64 * 1024, '\0');
    for (char& c : junk)
        c = static_cast<char>(random());
    // The data ends at the junk's first NUL; nothing in it names a server.
    EXPECT_FALSE(run(junk));
    EXPECT_EQ(log(), kNoServer);

    // Without NULs every junk line is a line like any other, and the settings after it count.
    for (char& c : junk) {
        if (c == 0)
            c = 1;
    }
    EXPECT_TRUE(run(junk + "\nTARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n"
                           "TARVEN_request: GET / HTTP/1.0\n"));
    const std::string wire = peer->received();
    EXPECT_EQ(wire.rfind("GET / HTTP/1.0\r\n", 0), 0u);
    EXPECT_EQ(wire.substr(wire.size() - 4), "\r\n\r\n");
    EXPECT_TRUE(log().ends_with(kAnswer + "** Socket close.\r\n" + test::kFixedDateLine));
}

TEST_F(BadDescriptionTest, TenMegabytesOfHeaderLinesAreAllSent) {
    constexpr std::size_t kSize = 10u * 1024 * 1024;
    std::string description = "TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\n";
    std::string sent;
    int n = 0;
    for (; description.size() < kSize; ++n) {
        const std::string line = "X-Filler-" + std::to_string(n) + ": value " + std::to_string(n);
        // A key that comes back every line keeps only its last line, in that line's place.
        description += line + "\nX-Again: " + std::to_string(n) + "\r\n";
        sent += line + "\r\n";
    }
    description += "TARVEN_request: GET / HTTP/1.0\n";
    sent += "X-Again: " + std::to_string(n - 1) + "\r\n";

    ASSERT_TRUE(run(description));
    EXPECT_TRUE(test::sameText(peer->received(), "GET / HTTP/1.0\r\n" + sent + "\r\n"));
    EXPECT_TRUE(log().ends_with(kAnswer + "** Socket close.\r\n" + test::kFixedDateLine));
}

TEST_F(BadDescriptionTest, OneLineOfAMegabyte) {
    const std::string big(1024 * 1024, 'm');
    // As a header line it is left out; as the body it is sent whole.
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: POST / HTTP/1.0\n"
            "X-Big: " +
            big + "\nX-Small: 1\nTARVEN_postbody: " + big + "\n"));
    EXPECT_TRUE(
        test::sameText(peer->received(),
                       "POST / HTTP/1.0\r\nX-Small: 1\r\nContent-length:  1048576\r\n\r\n" + big));
}

TEST_F(BadDescriptionTest, ThousandsOfMarkersInOneValueAreAllFilledIn) {
    constexpr int kMarkers = 5000;
    std::string body;
    std::string filled;
    for (int n = 0; n < kMarkers; ++n) {
        body += "ip=%IPADDRESS%;";
        filled += "ip=192.0.2.7;";
    }
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: POST / HTTP/1.0\n"
            "TARVEN_postbody: " +
            body + "\nX-Ip: %IPADDRESS%,%IPADDRESS%\n"));
    EXPECT_TRUE(test::sameText(peer->received(),
                               "POST / HTTP/1.0\r\nX-Ip: 192.0.2.7,192.0.2.7\r\n"
                               "Content-length:  " +
                                   std::to_string(filled.size()) + "\r\n\r\n" + filled));
    EXPECT_LT(took, std::chrono::seconds(30));
}

TEST_F(BadDescriptionTest, ValuesLongerAfterSubstitutionAreNeverCut) {
    // A request line of 511, 512 and 513 bytes once the address is in.
    for (const std::size_t length : {511u, 512u, 513u}) {
        const std::string path(length - 9 - 5, 'p');
        peer = std::make_unique<test::TestPeer>(test::PeerScript{true, kAnswer});
        ASSERT_TRUE(run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: GET /" +
                        path + "%IPADDRESS%\n"));
        const std::string request = "GET /" + path + "192.0.2.7";
        ASSERT_EQ(request.size(), length);
        EXPECT_EQ(peer->received(), request + "\r\n\r\n");
    }
    // A header line of 500 bytes once filled in is sent; one of 501 is left out.
    const std::string fits = std::string(496 - 9, 'f') + "%IPADDRESS%";
    const std::string over = std::string(497 - 9, 'o') + "%IPADDRESS%";
    peer = std::make_unique<test::TestPeer>(test::PeerScript{true, kAnswer});
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: GET /\n"
            "X-A: " +
            over + "\nX-B: " + fits + "\n"));
    EXPECT_EQ(peer->received(), "GET /\r\nX-B: " + std::string(496 - 9, 'f') + "192.0.2.7\r\n\r\n");
}

TEST_F(BadDescriptionTest, PortTextsAreReadForTheirLowSixteenBits) {
    const int port = peer->port();
    int connections = 0;
    for (const std::string& text :
         {"-" + std::to_string(65536 - port), std::to_string(65536 + port), hugeNumberFor(port),
          "-" + hugeNumberFor(65536 - port), std::to_string(port) + "abc"}) {
        ASSERT_TRUE(run("TARVEN_connect: 127.0.0.1\nTARVEN_port: " + text +
                        "\nTARVEN_request: GET / HTTP/1.0\n"))
            << text;
        ++connections;
        EXPECT_EQ(log(),
                  "tarven.txt Loading...\r\n** Connceting...\r\n127.0.0.1:" + text +
                      "\r\n** Connceted.\r\nGET / HTTP/1.0\r\n\r\n\r\n\r\n** Reciving...\r\n" +
                      kAnswer + "** Socket close.\r\n" + test::kFixedDateLine);
    }
    EXPECT_EQ(peer->received(connections).size(), connections * "GET / HTTP/1.0\r\n\r\n"s.size());

    // Texts without leading digits name port 0, where nobody listens.
    for (const std::string text : {"http", "0x50", "- 80", "\xEF\xBC\x98\xEF\xBC\x90"}) {
        EXPECT_FALSE(
            run("TARVEN_connect: 127.0.0.1\nTARVEN_port: " + text + "\nTARVEN_request: GET /\n"));
        EXPECT_EQ(log(), "tarven.txt Loading...\r\n** Connceting...\r\n127.0.0.1:" + text +
                             "\r\n** Connect failed.\r\n");
    }
}

TEST_F(BadDescriptionTest, HostNamesThatDoNotResolveFailTheConnect) {
    for (const std::string& name :
         {""s, "no-such-host.invalid"s, std::string(100 * 1024, 'h') + ".invalid",
          std::string(300, 'a'), "127.0.0.1.invalid"s, "bad host name.invalid"s}) {
        EXPECT_FALSE(run("TARVEN_connect: " + name +
                         "\nTARVEN_port: {port}\n"
                         "TARVEN_request: GET /\n"));
        EXPECT_TRUE(test::sameText(log(), "tarven.txt Loading...\r\n** Connceting...\r\n" + name +
                                              ":" + peer->portText() +
                                              "\r\n** Connect failed.\r\n"));
        EXPECT_LT(took, std::chrono::seconds(10)) << name.substr(0, 40);
    }
    EXPECT_EQ(peer->connections(), 0);
}

TEST_F(BadDescriptionTest, EveryKindOfLineEndGivesTheSameRequest) {
    const std::string lines[] = {"# heartbeat",         "TARVEN_connect: 127.0.0.1",
                                 "TARVEN_port: {port}", "TARVEN_request: GET / HTTP/1.0",
                                 "Host: example.test",  "Connection: close"};
    const auto joined = [&](const std::string& end) {
        std::string text;
        for (const std::string& line : lines)
            text += line + end;
        return text;
    };
    const std::string mixed =
        "\r\n\n# heartbeat\rTARVEN_connect: 127.0.0.1\r\n\r\nTARVEN_port: {port}\n\r"
        "TARVEN_request: GET / HTTP/1.0\n\nHost: example.test\r\rConnection: close";
    for (const std::string& description : {joined("\r"), joined("\n"), joined("\r\n"), mixed}) {
        peer = std::make_unique<test::TestPeer>(test::PeerScript{true, kAnswer});
        ASSERT_TRUE(run(description));
        EXPECT_EQ(peer->received(),
                  "GET / HTTP/1.0\r\nHost: example.test\r\nConnection: close\r\n\r\n");
    }
}

TEST_F(BadDescriptionTest, ANulEndsTheDescription) {
    ASSERT_TRUE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_port: {port}\nTARVEN_request: GET /a\0b HTTP/1.0\n"
            "TARVEN_postbody: never\nX-Never: 1\n"s));
    EXPECT_EQ(peer->received(), "GET /a\r\n\r\n");
    EXPECT_EQ(log(),
              "tarven.txt Loading...\r\n** Connceting...\r\n" + transcript("GET /a", "\r\n"));
}

}  // namespace
}  // namespace tarven
