// tarven-cli: one run of the described request, with the log on standard output.
// Exit status: 0 when the exchange ran to its end, 1 when the run failed, 2 for a usage error.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "BuildInfo.h"
#include "cli/ConsoleEditControl.h"
#include "net/TlsSession.h"
#include "platform/TextCodec.h"
#include "request/RequestRun.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void printUsage(std::FILE* out) {
    std::fputs(
        "Usage: tarven-cli [--file PATH]\n"
        "Sends the request described in tarven.txt once and writes the whole exchange to\n"
        "standard output.\n"
        "\n"
        "tarven.txt is looked for beside the program, then in $XDG_CONFIG_HOME/tarven/\n"
        "(~/.config/tarven/ by default).\n"
        "\n"
        "  --file PATH  use this description file instead\n"
        "  --help       show this help and exit\n"
        "  --version    show the version and exit\n"
        "\n"
        "Exit status: 0 when the exchange ran to its end, 1 when the run failed,\n"
        "2 for a usage error.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (tarven-cli | head) must not end the run mid-request: the log's
    // writes then fail and are dropped, and the exchange still runs to its end.
    std::signal(SIGPIPE, SIG_IGN);
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return kExitDone;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tarven-cli %s\n", tarven::build::kVersion);
            std::printf("TLS: %s\n", tarven::tlsLibraryVersion().c_str());
            return kExitDone;
        }
        if (std::strcmp(argv[i], "--file") == 0 && i + 1 < argc && file == nullptr) {
            file = argv[++i];
            continue;
        }
        if (std::strncmp(argv[i], "--file=", 7) == 0 && file == nullptr) {
            file = argv[i] + 7;
            continue;
        }
        std::fprintf(stderr, "tarven-cli: unexpected argument '%s'\n", argv[i]);
        printUsage(stderr);
        return kExitUsage;
    }
    if (file != nullptr && file[0] == 0) {
        std::fputs("tarven-cli: --file needs a path\n", stderr);
        return kExitUsage;
    }

    tarven::ConsoleWindow window(stdout);
    tarven::RunEnvironment environment;
    std::u16string path;
    if (file != nullptr) {
        path = tarven::platform::utf8ToUtf16(file, std::strlen(file));
        environment.descriptionPath = path.c_str();
    }
    const bool done = tarven::runRequest(
        window, file != nullptr ? path.c_str() : tarven::kDescriptionFileName, environment);
    return done ? kExitDone : kExitFailed;
}
