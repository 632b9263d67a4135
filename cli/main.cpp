// tarven-cli: one run of the described request, with the log on standard output.
// Exit status: 0 when the exchange ran to its end, 1 when the run failed, 2 for a usage error,
// 3 with --fail when the answer was no HTTP success.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "BuildInfo.h"
#include "cli/ConsoleEditControl.h"
#include "net/TlsSession.h"
#include "platform/Console.h"
#include "platform/Environment.h"
#include "platform/TextCodec.h"
#include "request/DescriptionFile.h"
#include "request/Redaction.h"
#include "request/RequestRun.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAnswerFailed = 3;

void printUsage(std::FILE* out) {
    std::fputs(
        "Usage: tarven-cli [--file PATH] [--fail] [--check] [--redact | --show-secrets]\n"
        "Sends the request described in tarven.txt once and writes the whole exchange to\n"
        "standard output.\n"
        "\n",
        out);
    std::fputs(tarven::platform::descriptionSearchHelp(), out);
    std::fputs(
        "\n"
        "  --file PATH     use this description file instead\n"
        "  --fail          exit with 3 when the answer is not an HTTP status below 400\n"
        "  --check         print the request a run would send, connecting nowhere\n"
        "  --redact        show credentials and other secrets as ****\n"
        "                  (the default in the journal and with --check)\n"
        "  --show-secrets  show them as sent\n"
        "  --help          show this help and exit\n"
        "  --version       show the version and exit\n"
        "\n"
        "Exit status: 0 when the exchange ran to its end, 1 when the run failed,\n"
        "2 for a usage error, 3 with --fail when the server's answer was no success.\n",
        out);
}

// Text on standard error, as a console shows it.
void writeError(const std::string& text) {
    tarven::platform::writeText(stderr, text.data(), text.size());
}

// A line on standard error, with the journal's priority when that is where it goes.
void complain(char priority, const std::string& text) {
    const std::string prefix =
        tarven::platform::isJournalStream(stderr) ? std::string{'<', priority, '>'} : "";
    writeError(prefix + "tarven-cli: " + text + "\n");
}

// Why an answer that began with `head` is no success, or empty when it is one: it must
// start with an HTTP status line whose code is below 400.
std::string answerFault(const std::string& head) {
    if (head.empty())
        return "the server sent no answer";
    const std::string notHttp = "the server did not answer with an HTTP status line";
    if (head.rfind("HTTP/", 0) != 0)
        return notHttp;
    std::size_t at = 5;
    while (at < head.size() && ((head[at] >= '0' && head[at] <= '9') || head[at] == '.'))
        ++at;
    if (at == 5 || at + 4 > head.size() || head[at] != ' ')
        return notHttp;
    const std::string code = head.substr(at + 1, 3);
    for (const char c : code) {
        if (c < '0' || c > '9')
            return notHttp;
    }
    if (at + 4 < head.size() && head[at + 4] != ' ' && head[at + 4] != '\r' && head[at + 4] != '\n')
        return notHttp;
    if (code >= "100" && code < "400")
        return {};
    return "the server answered " + code;
}

// Warns when the description holds secrets that its group or others may read.
void warnIfExposed(const std::u16string& path) {
    if (path.empty() || !tarven::platform::readableByOthers(path.c_str()))
        return;
    tarven::DescriptionFile description;
    if (description.loadDescription(path.c_str()) == 0 || !tarven::holdsSecrets(description))
        return;
    const std::string name = tarven::platform::utf16ToUtf8(path.c_str());
    complain('4', "warning: " + name + " holds credentials and can be read by others; chmod 600 " +
                      name);
}

// Names the lines that the description's syntax skips without a word.
void warnAboutSkippedLines(const std::u16string& path) {
    if (path.empty())
        return;
    const std::string name = tarven::platform::utf16ToUtf8(path.c_str());
    for (const tarven::SkippedLine& line : tarven::skippedLines(path.c_str()))
        complain('4',
                 "warning: " + name + " line " + std::to_string(line.number) + ": " + line.what);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (tarven-cli | head) must not end the run mid-request: the log's
    // writes then fail and are dropped, and the exchange still runs to its end.
    tarven::platform::prepareStandardStreams();
    const std::vector<std::string> args = tarven::platform::programArguments(argc, argv);
    std::optional<std::string> file;
    bool fail = false;
    bool check = false;
    bool redact = false;
    bool showSecrets = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return kExitDone;
        }
        if (arg == "--version") {
            std::printf("tarven-cli %s\n", tarven::build::kVersion);
            std::printf("TLS: %s\n", tarven::tlsLibraryVersion().c_str());
            return kExitDone;
        }
        if (arg == "--file" && i + 1 < args.size() && !file) {
            file = args[++i];
            continue;
        }
        if (arg.rfind("--file=", 0) == 0 && !file) {
            file = arg.substr(7);
            continue;
        }
        bool* flag = arg == "--fail"           ? &fail
                     : arg == "--check"        ? &check
                     : arg == "--redact"       ? &redact
                     : arg == "--show-secrets" ? &showSecrets
                                               : nullptr;
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        writeError("tarven-cli: unexpected argument '" + arg + "'\n");
        printUsage(stderr);
        return kExitUsage;
    }
    if (file && file->empty()) {
        writeError("tarven-cli: --file needs a path\n");
        return kExitUsage;
    }
    if (redact && showSecrets) {
        writeError("tarven-cli: --redact and --show-secrets exclude each other\n");
        return kExitUsage;
    }

    // A check writes its log to standard error, keeping standard output for the request.
    const bool journal = !check && tarven::platform::isJournalStream(stdout);
    tarven::ConsoleWindow window(check ? stderr : stdout, journal);
    tarven::RunEnvironment environment;
    std::u16string path;
    if (file) {
        path = tarven::platform::utf8ToUtf16(file->data(), file->size());
        environment.descriptionPath = path.c_str();
    }
    environment.maskSecrets = redact || ((journal || check) && !showSecrets);
    std::string request;
    std::string head;
    tarven::RunReport report;
    environment.report = &report;
    if (check) {
        environment.requestCopy = &request;
    } else if (fail) {
        environment.answerHead = &head;
    }

    const std::u16string found = tarven::findDescription(tarven::kDescriptionFileName, environment);
    warnIfExposed(found);
    warnAboutSkippedLines(found);
    const bool done =
        tarven::runRequest(window, file ? path.c_str() : tarven::kDescriptionFileName, environment);
    if (check && !report.file.empty())
        complain('6', "read " + tarven::platform::utf16ToUtf8(report.file.c_str()));
    if (!done && !report.failure.empty())
        complain('3', report.failure);
    if (check && done)
        complain('6', "would connect to " + report.server + " port " + report.port + ", " +
                          report.transport);
    if (check) {
        tarven::platform::writeText(stdout, request.data(), request.size());
    }
    if (!done)
        return kExitFailed;
    if (fail && !check) {
        const std::string fault = answerFault(head);
        if (!fault.empty()) {
            complain('3', fault);
            return kExitAnswerFailed;
        }
    }
    return kExitDone;
}
