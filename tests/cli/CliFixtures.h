#pragma once

// The fixtures of the tarven-cli suites, shared by their cases for every system and those for
// Linux alone.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace tarven::test {

inline const std::string kCliAnswer = "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\nhello\r\n";
// The date line's length: "yyyy/mm/dd:hh:mm:ss" and CR LF.
inline constexpr std::size_t kCliDateLineSize = 21;
inline const std::regex kCliDateLine(R"(\d{4}/\d{2}/\d{2}:\d{2}:\d{2}:\d{2}\r\n$)");

// Keeps the user's and the machine's own description files out of a run: each system looks in
// its own variable's folder, and only in this one.
inline std::vector<std::string> ownConfigFolders(const std::filesystem::path& dir) {
    const std::string config = utf8(dir / "config");
    return {"XDG_CONFIG_HOME=" + config, "APPDATA=" + config,
            "ProgramData=" + utf8(dir / "machine")};
}

class CliTest : public testing::Test {
  protected:
    ProcessResult cli(std::vector<std::string> args, std::vector<std::string> environment = {}) {
        args.insert(args.begin(), program);
        const std::vector<std::string> own = ownConfigFolders(dir.path());
        environment.insert(environment.end(), own.begin(), own.end());
        return runProcess(args, environment);
    }
    std::string describe(const TestPeer& peer) {
        return "# heartbeat\nTARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
               "\nTARVEN_request: GET /beat HTTP/1.0\nConnection: close\n";
    }
    // A copy of the program, named as the system names programs.
    std::filesystem::path copyOfProgram() {
        const auto copy =
            dir.path() / ("tarven-cli" + std::filesystem::path(program).extension().string());
        std::filesystem::copy_file(program, copy);
        return copy;
    }
    const std::string program = programFromEnvironment("TARVEN_CLI");
    TempDir dir;
};

class OperatorCliTest : public testing::Test {
  protected:
    ProcessResult cli(std::vector<std::string> args, ProcessOptions options = {}) {
        args.insert(args.begin(), program);
        return runProcess(args, ownConfigFolders(dir.path()), options);
    }
    // A description with credentials and a token in the query, written 0600.
    std::string secretFile(const TestPeer& peer) {
        const auto file =
            dir.write("secret.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                        "\nTARVEN_request: GET /update?host=h&token=abc HTTP/1.0\n"
                                        "TARVEN_basicauth: alice:s3cret\nCookie: id=42\n");
        std::filesystem::permissions(
            file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        return utf8(file);
    }
    std::string opening(const std::string& file, const TestPeer& peer,
                        const std::string& prefix = "") const {
        return prefix + file + " Loading...\r\n" + prefix + "** Connceting...\r\n" + prefix +
               "127.0.0.1:" + peer.portText() + "\r\n" + prefix + "** Connceted.\r\n";
    }
    // A run whose answer echoes every secret, one of them cut across two chunks, in the
    // journal or with --redact: the log masks them all, the wire keeps them.
    void expectEchoedSecretsMasked(bool journal) {
        const std::vector<std::string> secrets = {"TOK123",    "CasePW",     "YWxpY2U6Q2FzZVBX",
                                                  "APIKEY999", "AUTHTOK777", "BODYPW555"};
        TestPeer peer(
            {.answer = "HTTP/1.0 400 Bad\r\n\r\ntoken=TOK123 auth=Basic YWxpY2U6Q2Fz",
             .parts = {"ZVBX alice:CasePW APIKEY999 AU", "THTOK777 password=BODYPW555\r\n"},
             .pause = std::chrono::milliseconds(100)});
        const auto path =
            dir.write("echo.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                      "\nTARVEN_request: POST /e?token=TOK123 HTTP/1.0\n"
                                      "Tarven_basicauth: alice:CasePW\nX-Api-Key: APIKEY999\n"
                                      "X-Auth-Token: Bearer AUTHTOK777\n"
                                      "TARVEN_postbody: user=bob&password=BODYPW555\n");
        std::filesystem::permissions(path, std::filesystem::perms::owner_read);
        const std::string file = utf8(path);
        const ProcessResult run = journal ? cli({"--file", file}, {.stdoutIsJournal = true})
                                          : cli({"--redact", "--file", file});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_NE(run.out.find("X-Auth-Token: Bearer ****\r\n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("token=**** auth=Basic **** **** **** **** password=****"),
                  std::string::npos)
            << run.out;
        const std::string sent = peer.received();
        for (const std::string& secret : secrets) {
            EXPECT_EQ(run.out.find(secret), std::string::npos) << secret;
            EXPECT_NE(sent.find(secret), std::string::npos) << secret;
        }
    }

    const std::string program = programFromEnvironment("TARVEN_CLI");
    TempDir dir;
    const std::string wire =
        "GET /update?host=h&token=abc HTTP/1.0\r\nCookie: id=42\r\n"
        "Authorization: Basic YWxpY2U6czNjcmV0\r\n\r\n";
    const std::string masked =
        "GET /update?host=h&token=**** HTTP/1.0\r\nCookie: ****\r\n"
        "Authorization: Basic ****\r\n\r\n";
};

class HostileCliTest : public testing::Test {
  protected:
    // The description file for a plain request to the peer, with extra lines after it.
    std::string describe(const TestPeer& peer, const std::string& extra = "") {
        return utf8(
            dir.write("plain.txt", "TARVEN_connect: 127.0.0.1\nTARVEN_port: " + peer.portText() +
                                       "\nTARVEN_request: GET / HTTP/1.0\n" + extra));
    }
    ProcessResult cli(const std::string& file) { return runProcess({program, "--file", file}); }
    std::string opening(const std::string& file, const TestPeer& peer) const {
        return file + " Loading...\r\n** Connceting...\r\n127.0.0.1:" + peer.portText() +
               "\r\n** Connceted.\r\nGET / HTTP/1.0\r\n\r\n\r\n\r\n** Reciving...\r\n";
    }

    const std::string program = programFromEnvironment("TARVEN_CLI");
    TempDir dir;
};

}  // namespace tarven::test
