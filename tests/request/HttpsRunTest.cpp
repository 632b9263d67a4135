// The run over TLS against the loopback peer, with certificates made for each test.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/Fakes.h"
#include "support/PeerChannel.h"
#include "support/Process.h"
#include "support/RunFixture.h"
#include "support/SameText.h"
#include "support/TestCertificates.h"
#include "support/TestPeer.h"

namespace tarven {
namespace {

using After = test::PeerScript::After;

const std::string kAnswer = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfine\r\n";

class HttpsRunTest : public test::RunFixture {
  protected:
    HttpsRunTest() : authority(dir.path()) { host.names["localhost"] = "127.0.0.1"; }

    void serve(const test::TestAuthority::Server& certificate,
               test::PeerScript script = {.answer = kAnswer}) {
        script.tlsCertificateFile = certificate.certificateFile.string();
        script.tlsKeyFile = certificate.keyFile.string();
        peer = std::make_unique<test::TestPeer>(script);
    }
    void servePlain(const test::PeerScript& script) {
        peer = std::make_unique<test::TestPeer>(script);
    }
    // Runs a GET to `server` with "TARVEN_tls:" set to `tls`, trusting the test CA unless
    // `cafile` says otherwise.
    bool runTls(const std::string& server = "127.0.0.1", const std::string& tls = "on",
                const std::string& extra = "") {
        return run("TARVEN_connect: " + server + "\r\nTARVEN_port: {port}\r\nTARVEN_tls: " + tls +
                   "\r\nTARVEN_request: GET /nic/update HTTP/1.0\r\nHost: " + server + "\r\n" +
                   extra);
    }
    std::string trusted() const {
        return "TARVEN_cafile: " + authority.certificateFile().string() + "\r\n";
    }
    // The log up to the TLS line, for `server`.
    std::string opening(const std::string& server) const {
        return "tarven.txt Loading...\r\n** Connceting...\r\n" + server + ":" + peer->portText() +
               "\r\n** Connceted.\r\n";
    }
    std::string handshakeFailed(const std::string& server, const std::string& reason) const {
        return opening(server) + "** TLS handshake failed: " + reason + ".\r\n";
    }

    test::TestAuthority authority;
};

TEST_F(HttpsRunTest, VerifiedExchangeSendsAndLogsTheSameBytesAsPlain) {
    ASSERT_TRUE(authority.ready());
    serve(authority.issue("server", {"localhost", "127.0.0.1"}));
    ASSERT_TRUE(runTls("localhost", " On ", trusted() + "TARVEN_basicauth: alice:s3cret\r\n"));
    const std::string request =
        "GET /nic/update HTTP/1.0\r\nHost: localhost\r\n"
        "Authorization: Basic YWxpY2U6czNjcmV0\r\n";
    EXPECT_EQ(peer->received(), request + "\r\n");
    // The protocol and cipher in the server's own names.
    ASSERT_NE(peer->negotiated(), "");
    EXPECT_EQ(log(), opening("localhost") + "** TLS: " + peer->negotiated() +
                         ", certificate verified for localhost.\r\n" + request +
                         "\r\n\r\n\r\n** Reciving...\r\n" + kAnswer + "** Socket close.\r\n" +
                         test::kFixedDateLine);
}

TEST_F(HttpsRunTest, AnAddressIsCheckedAgainstTheCertificatesAddresses) {
    serve(authority.issue("server", {"localhost", "127.0.0.1"}));
    EXPECT_TRUE(runTls("127.0.0.1", "on", trusted())) << log();
    EXPECT_NE(log().find("certificate verified for 127.0.0.1.\r\n"), std::string::npos);

    serve(authority.issue("ipv6", {"::1"}), {.answer = kAnswer, .listenAddress = "::1"});
    EXPECT_TRUE(runTls("[::1]", "on", trusted())) << log();
    EXPECT_NE(log().find("certificate verified for [::1].\r\n"), std::string::npos);
}

TEST_F(HttpsRunTest, NoverifyEncryptsToASelfSignedPeer) {
    serve(test::selfSigned(dir.path(), {"device.lan"}));
    ASSERT_TRUE(runTls("127.0.0.1", "NOVERIFY"));
    EXPECT_EQ(peer->received(), "GET /nic/update HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_NE(log().find("** Connceted.\r\n** TLS: " + peer->negotiated() +
                         ", certificate not verified.\r\nGET "),
              std::string::npos);
}

// Each bad certificate ends the run after the connect, with nothing of the request sent.
TEST_F(HttpsRunTest, CertificateFailuresStopTheRunBeforeTheRequest) {
    const test::TestAuthority stranger(dir.path(), "stranger");
    struct Case {
        test::TestAuthority::Server certificate;
        std::string server;
        std::string cafile;
        std::string reason;
    };
    const Case cases[] = {
        {stranger.issue("unknown", {"127.0.0.1"}), "127.0.0.1", trusted(),
         "unable to get local issuer certificate"},
        {test::selfSigned(dir.path(), {"127.0.0.1"}), "127.0.0.1", "", "self-signed certificate"},
        {authority.issue("name", {"other.test"}), "localhost", trusted(), "hostname mismatch"},
        {authority.issue("address", {"localhost"}), "127.0.0.1", trusted(), "IP address mismatch"},
        {authority.issue("expired", {"127.0.0.1"}, -10, -1), "127.0.0.1", trusted(),
         "certificate has expired"},
        {authority.issue("future", {"127.0.0.1"}, 1, 10), "127.0.0.1", trusted(),
         "certificate is not yet valid (check the system clock)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        serve(c.certificate);
        EXPECT_FALSE(runTls(c.server, "on", c.cafile));
        EXPECT_EQ(log(), handshakeFailed(c.server, c.reason));
        EXPECT_EQ(peer->received(), "");
        window.log.setText(u"");
    }
}

// Servers that browsers refuse, each refused with a reason of its own.
TEST_F(HttpsRunTest, ServersBrowsersRefuseAreRefusedWithTheirReasons) {
    using Offer = test::PeerScript::TlsOffer;
    using Form = test::TestAuthority::Form;
    struct Case {
        test::TestAuthority::Server certificate;
        Offer offer;
        std::string server;
        std::string reason;
    };
    const Case cases[] = {
        {authority.issue("cn", {"localhost"}, -1, 30, Form::commonNameOnly), Offer::usual,
         "localhost",
         "the certificate has no subjectAltName (a name in its subject CN alone is not "
         "accepted)"},
        {authority.issue("dhe", {"127.0.0.1"}, -1, 30, Form::rsaKey), Offer::dheOnly, "127.0.0.1",
         "the server and Tarven have no cipher suite in common"},
        {authority.issue("old", {"127.0.0.1"}, -1, 30, Form::rsaKey), Offer::tls11Only, "127.0.0.1",
         "the server offers only TLS 1.0 or 1.1; Tarven needs TLS 1.2 or later"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        serve(c.certificate, {.answer = kAnswer, .tlsOffer = c.offer});
        EXPECT_FALSE(runTls(c.server, "on", trusted()));
        EXPECT_EQ(log(), handshakeFailed(c.server, c.reason));
        EXPECT_EQ(peer->received(), "");
        window.log.setText(u"");
    }
}

// A certificate naming thousands of servers: taken up to 256 KiB, as browsers do.
TEST_F(HttpsRunTest, LargeCertificateChainsAreTakenUpToTheirLimit) {
    const auto withNames = [](int count) {
        std::vector<std::string> names{"127.0.0.1"};
        for (int i = 1; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "n%07d.large.test", i);
            names.emplace_back(name);
        }
        return names;
    };
    serve(authority.issue("huge", withNames(14000)));
    EXPECT_FALSE(runTls("127.0.0.1", "on", trusted()));
    EXPECT_EQ(log(), handshakeFailed("127.0.0.1",
                                     "the server's certificate chain is larger than 256 KiB"));
    window.log.setText(u"");

    if (test::runningUnderWine())
        GTEST_SKIP() << "Wine's Schannel refuses handshake messages above 128 KiB (its GnuTLS "
                        "limit), so the ~210 kB chain cannot pass there";
    serve(authority.issue("large", withNames(10000)));
    ASSERT_GT(std::filesystem::file_size(dir.path() / "large.pem"), 270000u);  // PEM of ~210 kB
    EXPECT_TRUE(runTls("127.0.0.1", "on", trusted())) << log();
    EXPECT_NE(log().find("certificate verified for 127.0.0.1.\r\n"), std::string::npos);
}

TEST_F(HttpsRunTest, BadSettingsStopTheRunBeforeConnecting) {
    serve(authority.issue("server", {"127.0.0.1"}));
    EXPECT_FALSE(runTls("127.0.0.1", "maybe", trusted()));
    EXPECT_EQ(log(), "tarven.txt Loading...\r\n** TARVEN_tls value is unknown.\r\n");
    window.log.setText(u"");

    EXPECT_FALSE(
        run("TARVEN_connect: 127.0.0.1\nTARVEN_tls: on\nTARVEN_request: GET / "
            "HTTP/1.0\nTARVEN_cafile: " +
            (dir.path() / "missing.pem").string() + "\n"));
    EXPECT_EQ(log(),
              "tarven.txt Loading...\r\n** TARVEN_port was not specified.443 use.\r\n"
              "** TARVEN_cafile could not be loaded.\r\n");
    EXPECT_EQ(peer->connections(), 0);
}

// Peers that do not speak TLS: each ends the run as a failed handshake, in bounded time.
TEST_F(HttpsRunTest, PeersThatBreakTheHandshakeFailTheRun) {
    struct Case {
        test::PeerScript script;
        std::string reason;
    };
    const Case cases[] = {
        {{.readRequest = false, .answer = kAnswer, .after = After::close},
         "the server does not answer in TLS on this port (wrong version number)"},
        {{.readRequest = false, .after = After::close}, "the server closed the connection"},
        {{.readRequest = false, .after = After::reset}, "Connection reset by peer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        if (c.script.after == After::reset && test::runningUnderWine())
            GTEST_SKIP() << "Wine 8 closes a socket with a FIN even with a zero linger time, so "
                            "the peer cannot reset";
        servePlain(c.script);
        EXPECT_FALSE(runTls("127.0.0.1", "on", trusted()));
        EXPECT_EQ(log(), handshakeFailed("127.0.0.1", c.reason));
        window.log.setText(u"");
    }
}

TEST_F(HttpsRunTest, APeerSilentAfterTheConnectTimesOutTheHandshake) {
    servePlain({.readRequest = true});
    EXPECT_FALSE(runTls("127.0.0.1", "on", trusted()));
    EXPECT_EQ(log(), handshakeFailed("127.0.0.1", "timed out"));
    EXPECT_LT(took, std::chrono::seconds(7));
}

TEST_F(HttpsRunTest, AnAnswerEndedWithoutCloseNotifyEndsLikeAPlainClose) {
    serve(authority.issue("server", {"127.0.0.1"}), {.answer = kAnswer, .after = After::abort});
    EXPECT_TRUE(runTls("127.0.0.1", "on", trusted()));
    const std::string ending =
        "\r\n** Reciving...\r\n" + kAnswer + "** Socket close.\r\n" + test::kFixedDateLine;
    EXPECT_EQ(log().substr(log().size() - ending.size()), ending);
}

TEST_F(HttpsRunTest, AFiveMegabyteAnswerArrivesWhole) {
    constexpr std::size_t kAnswerBytes = 5u * 1024 * 1024;
    serve(authority.issue("server", {"127.0.0.1"}), {.streamBytes = kAnswerBytes});
    EXPECT_TRUE(runTls("127.0.0.1", "on", trusted()));
    EXPECT_EQ(peer->sent(), kAnswerBytes);
    const std::string text = log();
    const std::string ending = std::string("** Socket close.\r\n") + test::kFixedDateLine;
    ASSERT_GT(text.size(), ending.size());
    EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
    const std::string tail = text.substr(0, text.size() - ending.size()).substr(text.size() / 2);
    EXPECT_TRUE(test::sameText(tail, test::fillerBytes(kAnswerBytes - tail.size(), tail.size())));
}

// tarven-cli itself, against the peer: the exchange verified through the CA file, and the
// certificates a user most often meets refused, each with its reason.
TEST_F(HttpsRunTest, TheCliVerifiesThroughTheCaFileAndRefusesBadCertificates) {
    const std::string cli = test::programFromEnvironment("TARVEN_CLI");
    ASSERT_NE(cli, "");
    const test::TestAuthority stranger(dir.path(), "stranger");
    struct Case {
        test::TestAuthority::Server certificate;
        std::string server;
        std::string outcome;
        int exitCode;
    };
    const Case cases[] = {
        {authority.issue("good", {"127.0.0.1"}), "127.0.0.1", "certificate verified for 127.0.0.1.",
         0},
        {authority.issue("expired", {"127.0.0.1"}, -10, -1), "127.0.0.1",
         "TLS handshake failed: certificate has expired.", 1},
        {authority.issue("name", {"other.test"}), "localhost",
         "TLS handshake failed: hostname mismatch.", 1},
        // The peer sends its leaf alone; its issuer is nowhere to be found.
        {stranger.issue("unknown", {"127.0.0.1"}), "127.0.0.1",
         "TLS handshake failed: unable to get local issuer certificate.", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome);
        serve(c.certificate);
        const auto file = dir.write(
            "cli.txt", "TARVEN_connect: " + c.server + "\r\nTARVEN_port: " + peer->portText() +
                           "\r\nTARVEN_tls: on\r\n" + trusted() +
                           "TARVEN_request: GET / HTTP/1.0\r\nHost: " + c.server + "\r\n");
        const test::ProcessResult result = test::runProcess({cli, "--file", file.string()});
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.out.find(c.outcome), std::string::npos) << result.out;
        EXPECT_EQ(peer->received(),
                  c.exitCode == 0 ? "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" : "");
    }
}

// The library's name comes from the build, which knows the backend it chose.
TEST(TlsVersionTest, VersionNamesTheTlsLibrary) {
    const std::string cli = test::programFromEnvironment("TARVEN_CLI");
    ASSERT_NE(cli, "");
    const test::ProcessResult result = test::runProcess({cli, "--version"});
    EXPECT_EQ(result.exitCode, 0);
    const std::string line = std::string("\nTLS: ") + TARVEN_TLS_LIBRARY;
    EXPECT_NE(result.out.find(line), std::string::npos) << result.out;
}

}  // namespace
}  // namespace tarven
