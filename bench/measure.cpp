// Runs one program and reports its wall time and peak resident memory, from wait4's usage.
//
// Usage: tarven-measure [--stdout FILE] -- PROGRAM [ARGUMENT...]
//   Prints "SECONDS MAX_RSS_KIB EXIT_STATUS" on one line. The program's standard output goes
//   to FILE (/dev/null by default); its standard error is passed through.
// Usage: tarven-measure --free-port
//   Prints a TCP port that is free on 127.0.0.1 at the moment of asking.
// Exit status: 0 when the program ran (whatever its own status), 1 when it could not be run.

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

int printFreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    ::close(fd);
    if (!ok)
        return 1;
    std::printf("%u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--free-port") == 0)
        return printFreePort();
    const char* output = "/dev/null";
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--stdout") == 0) {
        output = argv[i + 1];
        i += 2;
    }
    if (i >= argc || std::strcmp(argv[i], "--") != 0 || i + 1 >= argc) {
        std::fputs("usage: tarven-measure [--stdout FILE] -- PROGRAM [ARGUMENT...]\n", stderr);
        return 1;
    }
    char** command = argv + i + 1;

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        return 1;
    if (child == 0) {
        const int fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0)
            ::_exit(127);
        ::close(fd);
        ::execvp(command[0], command);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    pid_t waited;
    while ((waited = ::wait4(child, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    const auto stop = std::chrono::steady_clock::now();
    if (waited != child)
        return 1;
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.6f %ld %d\n", std::chrono::duration<double>(stop - start).count(),
                usage.ru_maxrss, exitStatus);
    return 0;
}
