// tarven-cli as a service runs it: journal priorities, masked secrets, --fail, --check and the
// warning about a readable file of secrets.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace tarven {
namespace {

using After = test::PeerScript::After;

class OperatorCliTest : public testing::Test {
  protected:
    test::ProcessResult cli(std::vector<std::string> args, test::ProcessOptions options = {}) {
        args.insert(args.begin(), program);
        return test::runProcess(args, {"XDG_CONFIG_HOME=" + (dir.path() / "config").string()},
                                options);
    }
    // A description with credentials and a token in the query, written 0600.
    std::string secretFile(const test::TestPeer& peer) {
        const auto file =
            dir.write("secret.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                        "\nTARVEN_request: GET /update?host=h&token=abc HTTP/1.0\n"
                                        "TARVEN_basicauth: alice:s3cret\nCookie: id=42\n");
        std::filesystem::permissions(
            file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        return file.string();
    }
    std::string opening(const std::string& file, const test::TestPeer& peer,
                        const std::string& prefix = "") const {
        return prefix + file + " Loading...\r\n" + prefix + "** Connceting...\r\n" + prefix +
               "127.0.0.1:" + peer.portText() + "\r\n" + prefix + "** Connceted.\r\n";
    }

    const std::string program = test::programFromEnvironment("TARVEN_CLI");
    test::TempDir dir;
    const std::string wire =
        "GET /update?host=h&token=abc HTTP/1.0\r\nCookie: id=42\r\n"
        "Authorization: Basic YWxpY2U6czNjcmV0\r\n\r\n";
    const std::string masked =
        "GET /update?host=h&token=**** HTTP/1.0\r\nCookie: ****\r\n"
        "Authorization: Basic ****\r\n\r\n";
};

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
    EXPECT_EQ(cli({"--file", bare.string()}, {true}).out,
              "<6>" + bare.string() +
                  " Loading...\r\n<4>** TARVEN_port was not specified.80 use.\r\n"
                  "<3>** TARVEN_request was not specified.\r\n");
    const auto missing = (dir.path() / "missing.txt").string();
    EXPECT_EQ(
        cli({"--file", missing}, {true})
            .out.rfind("<6>" + missing + " Loading...\r\n<3>Loading file failed.\r\n<3>Please", 0),
        0u);
}

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
        const test::ProcessResult run = cli({"--fail", "--file", file.string()});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.answer;
        EXPECT_EQ(run.err, c.complaint.empty() ? "" : "tarven-cli: " + c.complaint + "\n");
        if (c.exitCode != 0) {
            test::TestPeer again({.answer = c.answer});
            const auto plain = dir.write(
                "plain.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + again.portText() +
                                 "\nTARVEN_request: GET /\n");
            EXPECT_EQ(cli({"--file", plain.string()}).exitCode, 0) << "without --fail";
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
    const test::ProcessResult stops = cli({"--check", "--file", bare.string()});
    EXPECT_EQ(stops.exitCode, 1);
    EXPECT_EQ(stops.out, "");
    EXPECT_NE(stops.err.find("** TARVEN_request was not specified.\r\n"), std::string::npos);
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
    EXPECT_EQ(cli({"--file", open.string()}).err, "");  // nothing secret in it

    // A secret header name or body parameter counts as well.
    for (const char* secret : {"X-Api-Key: k1\n", "TARVEN_postbody: user=u&pass=p\n"}) {
        const auto keyed =
            dir.write("keyed.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                       "\nTARVEN_request: GET /\n" + secret);
        std::filesystem::permissions(keyed, std::filesystem::perms::others_read,
                                     std::filesystem::perm_options::add);
        EXPECT_NE(cli({"--file", keyed.string()}).err.find("chmod 600"), std::string::npos)
            << secret;
    }
}

TEST_F(OperatorCliTest, SecretsTheServerEchoesStayMasked) {
    const std::vector<std::string> secrets = {"TOK123",    "CasePW",     "YWxpY2U6Q2FzZVBX",
                                              "APIKEY999", "AUTHTOK777", "BODYPW555"};
    // The answer echoes each secret, one of them cut across two chunks.
    const test::PeerScript echo = {
        .answer = "HTTP/1.0 400 Bad\r\n\r\ntoken=TOK123 auth=Basic YWxpY2U6Q2Fz",
        .parts = {"ZVBX alice:CasePW APIKEY999 AU", "THTOK777 password=BODYPW555\r\n"},
        .pause = std::chrono::milliseconds(100)};
    const auto description = [this](const test::TestPeer& peer) {
        const auto file =
            dir.write("echo.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                      "\nTARVEN_request: POST /e?token=TOK123 HTTP/1.0\n"
                                      "Tarven_basicauth: alice:CasePW\nX-Api-Key: APIKEY999\n"
                                      "X-Auth-Token: Bearer AUTHTOK777\n"
                                      "TARVEN_postbody: user=bob&password=BODYPW555\n");
        std::filesystem::permissions(file, std::filesystem::perms::owner_read);
        return file.string();
    };
    for (const bool journal : {true, false}) {
        test::TestPeer peer(echo);
        const std::string file = description(peer);
        const test::ProcessResult run = journal ? cli({"--file", file}, {.stdoutIsJournal = true})
                                                : cli({"--redact", "--file", file});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.out.find("X-Auth-Token: Bearer ****\r\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("token=**** auth=Basic **** **** **** **** password=****"),
                  std::string::npos)
            << run.out;
        const std::string sent = peer.received();
        for (const std::string& secret : secrets) {
            EXPECT_EQ(run.out.find(secret), std::string::npos) << secret;
            EXPECT_NE(sent.find(secret), std::string::npos) << secret;  // the wire keeps them
        }
    }
}

TEST_F(OperatorCliTest, FailuresNameTheirCauseOnStandardError) {
    test::TestPeer refusing({.refuse = true});
    const auto folder = dir.path() / "folder";
    std::filesystem::create_directories(folder);
    const std::string start = "TARVEN_connect: 127.0.0.1\nTARVEN_request: GET /\n";
    const struct {
        std::string description;  // none: --file names the folder
        std::string cause;
    } cases[] = {
        {"", "cannot read " + folder.string() + ": Is a directory"},
        {"\n\n", ""},  // read, but holds nothing: the log says it all
        {"TARVEN_connect: 127.0.0.1\nTARVEN_port: " + refusing.portText() +
             "\nTARVEN_request: GET /\n",
         "cannot connect to 127.0.0.1 port " + refusing.portText() + ": connection refused"},
        {"TARVEN_connect: no-such-host.invalid\nTARVEN_port: 80\nTARVEN_request: GET /\n",
         "cannot connect to no-such-host.invalid port 80: name not found"},
        {start + "TARVEN_tls:  Yes \n", "TARVEN_tls value 'Yes' is unknown; use on or noverify"},
        {start + "TARVEN_tls: on\nTARVEN_cafile: missing.pem\n",
         "TARVEN_cafile " + (dir.path() / "missing.pem").string() + ": No such file or directory"},
        {start + "TARVEN_tls: on\nTARVEN_cafile: cause.txt\n",
         "TARVEN_cafile " + (dir.path() / "cause.txt").string() + ": holds no PEM certificate"},
    };
    for (const auto& c : cases) {
        const std::string file = c.description.empty()
                                     ? folder.string()
                                     : dir.write("cause.txt", c.description).string();
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

    // Without --file, every place searched is named.
    const test::ProcessResult nowhere = cli({});
    EXPECT_EQ(nowhere.err.rfind("tarven-cli: no tarven.txt found (looked in: ", 0), 0u)
        << nowhere.err;
    EXPECT_NE(nowhere.err.find((dir.path() / "config" / "tarven" / "tarven.txt").string() +
                               ", /etc/tarven/tarven.txt)\n"),
              std::string::npos)
        << nowhere.err;
}

TEST_F(OperatorCliTest, WarnsAboutLinesThatDoNothing) {
    test::TestPeer peer({.answer = "HTTP/1.0 200 OK\r\n\r\n"});
    const auto file = dir.write(
        "skips.txt", "TARVEN_connect: 127.0.0.1\r\nTARVEN_port: " + peer.portText() +
                         "\r\n# TARVEN_tls:\r\nTARVEN_tls:\n  TARVEN_request: GET /x\n\n \t\n"
                         "TARVEN_tsl: on\rTARVEN_Request: GET / HTTP/1.0\nX-Empty\n"
                         "TARVEN_cafile:\tx.pem\nTARVEN_port 80\n");
    const std::string name = file.string();
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
