#include "net/SocketCalls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarven::sockets {
namespace {

// The area accept fills: an IPv4 socket address.
constexpr std::size_t kPeerAddressSize = sizeof(sockaddr_in);

socklen_t socketAddress(sockaddr_storage& storage, const Endpoint& endpoint) {
    if (endpoint.ipv6) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(endpoint.port);
        std::memcpy(&v6.sin6_addr, endpoint.ipv6Address.bytes, sizeof endpoint.ipv6Address.bytes);
        return sizeof v6;
    }
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(endpoint.port);
    v4.sin_addr.s_addr = endpoint.ipv4;
    return sizeof v4;
}

}  // namespace

bool start() {
    return true;
}

Fault lastFault() {
    switch (errno) {
        case 0:
            return Fault::none;
        case EINTR:
            return Fault::interrupted;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return Fault::wouldBlock;
        case ECONNREFUSED:
            return Fault::refused;
        case ENETUNREACH:
        case EHOSTUNREACH:
            return Fault::unreachable;
        default:
            return Fault::other;
    }
}

int open(bool ipv6) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? -1 : fd;
}

int close(int handle) {
    ::shutdown(handle, SHUT_RDWR);
    return ::close(handle);
}

bool setNonBlocking(int handle) {
    const int flags = ::fcntl(handle, F_GETFL);
    return flags >= 0 && ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}

int connect(int handle, const Endpoint& peer) {
    sockaddr_storage address{};
    const socklen_t size = socketAddress(address, peer);
    int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&address), size);
    if (result != 0 && errno == EINTR) {
        // An interrupted connect goes on in the background; wait for its outcome.
        pollfd watched{handle, POLLOUT, 0};
        while ((result = ::poll(&watched, 1, -1)) < 0 && errno == EINTR) {
        }
        int error = 0;
        socklen_t errorSize = sizeof error;
        result = (result == 1 &&
                  ::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &errorSize) == 0 && error == 0)
                     ? 0
                     : -1;
        if (error != 0)
            errno = error;
    }
    return result == 0 ? 0 : -1;
}

int wait(int handle, bool readable, int milliseconds) {
    // poll rather than select: select cannot watch a descriptor above FD_SETSIZE.
    pollfd watched{handle, static_cast<short>(readable ? POLLIN : POLLOUT), 0};
    return ::poll(&watched, 1, milliseconds);
}

long send(int handle, const char* bytes, int count, int flags) {
    // Never block in send itself, so a peer that stops reading meets the time-out; and never
    // raise SIGPIPE, so a peer that has gone cannot end the process.
    return ::send(handle, bytes, static_cast<std::size_t>(count),
                  flags | MSG_DONTWAIT | MSG_NOSIGNAL);
}

long receive(int handle, char* buffer, int size, int flags) {
    return ::recv(handle, buffer, static_cast<std::size_t>(size), flags | MSG_DONTWAIT);
}

int listen(int handle, const Endpoint& local) {
    const int on = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // IPv6 only, so the socket never also takes IPv4 peers as mapped addresses.
    if (local.ipv6)
        ::setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_storage address{};
    const socklen_t size = socketAddress(address, local);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), size) != 0)
        return -1;
    if (::listen(handle, 5) != 0)
        return -1;
    return setNonBlocking(handle) ? 0 : -1;
}

int accept(int handle, void* peerAddress) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    int accepted;
    do {
        accepted = ::accept4(handle, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (peerAddress != nullptr)
        std::memcpy(peerAddress, &peer, kPeerAddressSize);
    return accepted < 0 ? -1 : accepted;
}

int localPort(int handle) {
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

void setNoDelay(int handle) {
    const int on = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void holdWrites(int handle, bool on) {
    const int value = on ? 1 : 0;
    ::setsockopt(handle, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

bool parseIpv4(const char* text, platform::Ipv4& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text, &parsed) != 1)
        return false;
    address = parsed.s_addr;
    return true;
}

}  // namespace tarven::sockets
