// tarven-cli as a service runs it: masked secrets, --fail, --check and the causes of failures.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cli/CliFixtures.h"
#include "platform/File.h"

namespace tarven {
namespace {

using test::OperatorCliTest;

TEST_F(OperatorCliTest, RedactMasksOutsideTheJournalToo) {
    test::TestPeer peer({.answer = "HTTP/1.0 204 No Content\r\n\r\n"});
    const std::string file = secretFile(peer);
    const test::ProcessResult run = cli({"--file", file, "--redact"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(peer.received(), wire);
    EXPECT_EQ(run.out.rfind(opening(file, peer) + masked.substr(0, masked.size() - 2) +
                                "\r\n\r\n\r\n** Reciving...\r\n",
                            0),
              0u)
        << run.out;
    EXPECT_EQ(run.err, "");
}

TEST_F(OperatorCliTest, FailTellsAnAnswerThatIsNoSuccess) {
    const struct {
        std::string answer;
        int exitCode;
        std::string complaint;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", 0, ""},
        {"HTTP/1.0 301 Moved Permanently\r\n\r\n", 0, ""},
        {"HTTP/1.1 401 Unauthorized\r\n\r\n", 3, "the server answered 401"},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", 3, "the server answered 500"},
        {"good\r\n", 3, "the server did not answer with an HTTP status line"},
        {"HTTP/1.1 2000 OK\r\n\r\n", 3, "the server did not answer with an HTTP status line"},
        {"", 3, "the server sent no answer"},
    };
    for (const auto& c : cases) {
        test::TestPeer peer({.answer = c.answer});
        const auto file =
            dir.write("fail.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                      "\nTARVEN_request: GET /\n");
        const test::ProcessResult run = cli({"--fail", "--file", test::utf8(file)});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.answer;
        EXPECT_EQ(run.err, c.complaint.empty() ? "" : "tarven-cli: " + c.complaint + "\n");
        if (c.exitCode != 0) {
            test::TestPeer again({.answer = c.answer});
            const auto plain = dir.write(
                "plain.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + again.portText() +
                                 "\nTARVEN_request: GET /\n");
            EXPECT_EQ(cli({"--file", test::utf8(plain)}).exitCode, 0) << "without --fail";
        }
    }
}

TEST_F(OperatorCliTest, CheckPrintsTheRequestARunSendsAndConnectsNowhere) {
    test::TestPeer peer({.answer = "HTTP/1.0 200 OK\r\n\r\n"});
    const std::string file = secretFile(peer);
    const test::ProcessResult check = cli({"--check", "--file", file});
    EXPECT_EQ(check.exitCode, 0);
    EXPECT_EQ(check.out, masked);
    EXPECT_EQ(check.err, file + " Loading...\r\ntarven-cli: read " + file +
                             "\ntarven-cli: would connect to 127.0.0.1 port " + peer.portText() +
                             ", plain\n");
    const test::ProcessResult shown = cli({"--check", "--show-secrets", "--file", file});
    EXPECT_EQ(shown.out, wire);
    EXPECT_EQ(peer.connections(), 0);

    EXPECT_EQ(cli({"--file", file}).exitCode, 0);
    EXPECT_EQ(peer.received(), shown.out);

    const auto bare = dir.write("bare.txt", "TARVEN_connect: 127.0.0.1\n");
    const test::ProcessResult stops = cli({"--check", "--file", test::utf8(bare)});
    EXPECT_EQ(stops.exitCode, 1);
    EXPECT_EQ(stops.out, "");
    EXPECT_NE(stops.err.find("** TARVEN_request was not specified.\r\n"), std::string::npos);
}

// In the journal too: see OperatorCliLinuxTest.
TEST_F(OperatorCliTest, SecretsTheServerEchoesStayMasked) {
    expectEchoedSecretsMasked(false);
}

TEST_F(OperatorCliTest, FailuresNameTheirCauseOnStandardError) {
    test::TestPeer refusing({.refuse = true});
    const auto folder = dir.path() / "folder";
    std::filesystem::create_directories(folder);
    const std::string start = "TARVEN_connect: 127.0.0.1\nTARVEN_request: GET /\n";
    const auto missingPem = dir.path() / "missing.pem";
    platform::FileReader probe;  // the system's words for a missing file
    ASSERT_FALSE(probe.open(test::widePath(missingPem).c_str()));
    const std::string missingWords = probe.errorText();
    const struct {
        std::string description;  // none: --file names the folder
        std::string cause;
    } cases[] = {
        {"", "cannot read " + test::utf8(folder) + ": Is a directory"},
        {"\n\n", ""},  // read, but holds nothing: the log says it all
        {"TARVEN_connect: 127.0.0.1\nTARVEN_port: " + refusing.portText() +
             "\nTARVEN_request: GET /\n",
         "cannot connect to 127.0.0.1 port " + refusing.portText() + ": connection refused"},
        {"TARVEN_connect: no-such-host.invalid\nTARVEN_port: 80\nTARVEN_request: GET /\n",
         "cannot connect to no-such-host.invalid port 80: name not found"},
        {start + "TARVEN_tls:  Yes \n", "TARVEN_tls value 'Yes' is unknown; use on or noverify"},
        {start + "TARVEN_tls: on\nTARVEN_cafile: missing.pem\n",
         "TARVEN_cafile " + test::utf8(missingPem) + ": " + missingWords},
        {start + "TARVEN_tls: on\nTARVEN_cafile: cause.txt\n",
         "TARVEN_cafile " + test::utf8(dir.path() / "cause.txt") + ": holds no PEM certificate"},
    };
    for (const auto& c : cases) {
        const std::string file = c.description.empty()
                                     ? test::utf8(folder)
                                     : test::utf8(dir.write("cause.txt", c.description));
        const test::ProcessResult run = cli({"--file", file});
        EXPECT_EQ(run.exitCode, 1) << c.description;
        if (c.cause.empty()) {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_EQ(run.err, "tarven-cli: " + c.cause + "\n") << c.description;
        }
        EXPECT_EQ(run.out.find("tarven-cli:"), std::string::npos);  // never in the log
    }
    EXPECT_EQ(cli({"--file", ""}).exitCode, 2);

    // The description's folder is the same whichever separator its path is written with.
    std::filesystem::create_directory(dir.path() / "sub");
    const auto nested = dir.write((std::filesystem::path("sub") / "ca.txt").string(),
                                  start + "TARVEN_tls: on\nTARVEN_cafile: missing.pem\n");
    const auto generic = [](const std::filesystem::path& path) {
        const std::u8string bytes = path.generic_u8string();
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(cli({"--file", generic(nested)}).err, "tarven-cli: TARVEN_cafile " +
                                                        generic(dir.path() / "sub") +
                                                        "/missing.pem: " + missingWords + "\n");
}

TEST_F(OperatorCliTest, WarnsAboutLinesThatDoNothing) {
    test::TestPeer peer({.answer = "HTTP/1.0 200 OK\r\n\r\n"});
    const auto file = dir.write(
        "skips.txt", "TARVEN_connect: 127.0.0.1\r\nTARVEN_port: " + peer.portText() +
                         "\r\n# TARVEN_tls:\r\nTARVEN_tls:\n  TARVEN_request: GET /x\n\n \t\n"
                         "TARVEN_tsl: on\rTARVEN_Request: GET / HTTP/1.0\nX-Empty\n"
                         "TARVEN_cafile:\tx.pem\nTARVEN_port 80\n");
    const std::string name = test::utf8(file);
    const std::string warnings = "tarven-cli: warning: " + name +
                                 " line 4: 'TARVEN_tls:' has no value; the line is skipped\n"
                                 "tarven-cli: warning: " +
                                 name +
                                 " line 5: the line is indented and is skipped\n"
                                 "tarven-cli: warning: " +
                                 name +
                                 " line 8: 'TARVEN_tsl:' names no setting and is ignored\n"
                                 "tarven-cli: warning: " +
                                 name +
                                 " line 10: 'X-Empty' has no value; the line is skipped\n"
                                 "tarven-cli: warning: " +
                                 name + " line 12: 'TARVEN_port' names no setting and is ignored\n";
    const test::ProcessResult run = cli({"--file", name});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, warnings);
    EXPECT_EQ(peer.received(), "GET / HTTP/1.0\r\n\r\n");  // the run itself is as before
    const test::ProcessResult check = cli({"--check", "--file", name});
    EXPECT_EQ(check.err.rfind(warnings, 0), 0u) << check.err;
}

}  // namespace
}  // namespace tarven
