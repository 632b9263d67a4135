// The floor of the end-to-end benchmark: connects, sends a request file's bytes as they are,
// then waits for readability and receives at most 512 bytes at a time, writing each piece to
// standard output, until the server closes. Nothing else, so its time is what the fixed
// 512-byte receive design cannot go below.
//
// Usage: tarven-floor-client HOST PORT REQUEST-FILE
// Exit status: 0 when the server closed after answering, 1 on any failure.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FloorIo.h"

namespace {

using floor_io::Descriptor;
using floor_io::writeAll;

constexpr int kReceiveSize = 512;
constexpr int kReadinessTimeoutMs = 5000;
constexpr std::size_t kRequestCapacity = 64 * 1024;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: tarven-floor-client HOST PORT REQUEST-FILE\n", stderr);
        return 1;
    }
    static char request[kRequestCapacity];
    std::size_t requestLength = 0;
    {
        const Descriptor file(::open(argv[3], O_RDONLY | O_CLOEXEC));
        if (file.get() < 0)
            return 1;
        ssize_t n;
        while ((n = ::read(file.get(), request + requestLength, sizeof request - requestLength)) >
               0)
            requestLength += static_cast<std::size_t>(n);
        if (n < 0)
            return 1;
    }

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    if (::inet_pton(AF_INET, argv[1], &peer.sin_addr) != 1)
        return 1;
    const Descriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0 ||
        ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0)
        return 1;
    if (!writeAll(socket.get(), request, requestLength))
        return 1;

    char received[kReceiveSize];
    pollfd watched{socket.get(), POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&watched, 1, kReadinessTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready != 1)
            return 1;
        const ssize_t n = ::recv(socket.get(), received, sizeof received, 0);
        if (n == 0)
            return 0;
        if (n < 0)
            return 1;
        if (!writeAll(STDOUT_FILENO, received, static_cast<std::size_t>(n)))
            return 1;
    }
}
