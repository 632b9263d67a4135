#include "net/TcpStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/TlsSession.h"
#include "platform/HostNetwork.h"
#include "text/Decimal.h"

namespace tarven {
namespace {

std::atomic<bool> networkingAttempted{false};

// The area acceptPeer fills: an IPv4 socket address.
constexpr std::size_t kPeerAddressSize = sizeof(sockaddr_in);

ConnectFailure connectFailureOf(int error) {
    switch (error) {
        case ECONNREFUSED:
            return ConnectFailure::refused;
        case ENETUNREACH:
        case EHOSTUNREACH:
            return ConnectFailure::unreachable;
        default:
            return ConnectFailure::other;
    }
}

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Socket addresses for either family; the size is what bind and connect take.
socklen_t ipv4Address(sockaddr_storage& storage, std::uint16_t portBits, platform::Ipv4 address) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
    v4.sin_family = AF_INET;
    v4.sin_port = portBits;
    v4.sin_addr.s_addr = address;
    return sizeof v4;
}

socklen_t ipv6Address(sockaddr_storage& storage, std::uint16_t portBits,
                      const platform::Ipv6& address) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = portBits;
    std::memcpy(&v6.sin6_addr, address.bytes, sizeof address.bytes);
    return sizeof v6;
}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

const char* connectFailureText(ConnectFailure failure) {
    switch (failure) {
        case ConnectFailure::none:
            return "";
        case ConnectFailure::nameNotFound:
            return "name not found";
        case ConnectFailure::refused:
            return "connection refused";
        case ConnectFailure::unreachable:
            return "network unreachable";
        case ConnectFailure::other:
            break;
    }
    return "the connection failed";
}

void startNetworking() {
    networkingAttempted.exchange(true);
}

bool networkingStarted() {
    return networkingAttempted.load();
}

TcpStream::TcpStream() {
    startNetworking();
}

TcpStream::TcpStream(int acceptedHandle) : handle(acceptedHandle) {
    startNetworking();
    if (handle >= 0)
        setNonBlocking(handle);
}

TcpStream::~TcpStream() {
    TcpStream::close();
}

int TcpStream::close() {
    if (handle == -1)
        return -1;
    if (tls_) {
        tls_->shutdown();
        tls_.reset();
    }
    ::shutdown(handle, SHUT_RDWR);
    const int result = ::close(handle);
    handle = -1;
    return result;
}

int TcpStream::waitFor(Readiness readiness) {
    // poll rather than select: select cannot watch a descriptor above FD_SETSIZE.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout.seconds) +
                          std::chrono::microseconds(timeout.microseconds);
    pollfd watched{handle, static_cast<short>(readiness == Readiness::readable ? POLLIN : POLLOUT),
                   0};
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int result = ::poll(&watched, 1, left > 0 ? static_cast<int>(left) : 0);
        // A signal is not a failure of the wait: wait again for the time that is left.
        if (result < 0 && errno == EINTR)
            continue;
        return result;
    }
}

int TcpStream::connectTo(const char* host, const char* port) {
    return connectTo(host, port, platform::SystemHostNetwork());
}

int TcpStream::connectTo(const char* host, const char* port, const platform::HostNetwork& network) {
    connectFailure = ConnectFailure::other;
    if (host == nullptr || port == nullptr)
        return -1;
    const auto portBits = htons(static_cast<std::uint16_t>(parseDecimal(port) & 0xFFFF));
    sockaddr_storage peer{};
    socklen_t peerSize = 0;
    platform::Ipv4 address = 0;
    platform::Ipv6 address6;
    const bool literal6 = platform::parseIpv6Literal(host, address6);
    if (!literal6 && (platform::parseDottedIpv4(host, address) || network.resolve(host, address))) {
        peerSize = ipv4Address(peer, portBits, address);
    } else if (literal6 || network.resolveIpv6(host, address6)) {
        peerSize = ipv6Address(peer, portBits, address6);
    } else {
        connectFailure = ConnectFailure::nameNotFound;
        return -1;
    }
    handle = ::socket(peer.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        handle = -1;
        lastResult = -1;
        return lastResult;
    }
    int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&peer), peerSize);
    int error = result == 0 ? 0 : errno;
    if (result != 0 && errno == EINTR) {
        // An interrupted connect goes on in the background; wait for its outcome.
        pollfd watched{handle, POLLOUT, 0};
        while ((result = ::poll(&watched, 1, -1)) < 0 && errno == EINTR) {
        }
        error = 0;
        socklen_t size = sizeof error;
        result = (result == 1 && ::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
                  error == 0)
                     ? 0
                     : -1;
    }
    lastResult = result == 0 ? 0 : -1;
    connectFailure = lastResult == 0 ? ConnectFailure::none : connectFailureOf(error);
    if (lastResult != 0)
        close();
    return lastResult;
}

int TcpStream::sendAll(const char* bytes, int count, int flags) {
    if (handle == -1)
        return -1;
    if (count == 0) {
        if (bytes == nullptr)
            return 0;
        count = static_cast<int>(std::strlen(bytes));
        if (count == 0)
            return 0;
    }
    if (bytes == nullptr || count < 0)
        return 0;
    if (tls_)
        return tls_->send(bytes, count);
    int sent = 0;
    for (;;) {
        if (waitFor(Readiness::writable) < 1)
            return -1;
        // Never block in send itself, so a peer that stops reading meets the time-out; and
        // never raise SIGPIPE, so a peer that has gone cannot end the process.
        const ssize_t n = ::send(handle, bytes + sent, static_cast<std::size_t>(count - sent),
                                 flags | MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && wouldBlock(errno))
            continue;
        if (n <= 0)
            return sent;
        sent += static_cast<int>(n);
        if (sent >= count)
            return sent;
    }
}

int TcpStream::receive(char* buffer, int size, int flags) {
    if (handle == -1)
        return -1;
    if (tls_)
        return tls_->receive(buffer, size);
    for (;;) {
        const int ready = waitFor(Readiness::readable);
        if (ready < 1)
            return ready;
        const ssize_t n =
            ::recv(handle, buffer, static_cast<std::size_t>(size), flags | MSG_DONTWAIT);
        if (n < 0 && wouldBlock(errno))
            continue;
        if (n != 0)
            return n < 0 ? -1 : static_cast<int>(n);
        return -1;
    }
}

int TcpStream::listenOn(int port, const char* address) {
    if (handle != -1)
        close();
    platform::Ipv6 address6;
    const bool ipv6 = address != nullptr && platform::parseIpv6Literal(address, address6);
    handle = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        handle = -1;
        return -1;
    }
    const int reuse = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const auto portBits = htons(static_cast<std::uint16_t>(port & 0xFFFF));
    sockaddr_storage local{};
    socklen_t localSize = 0;
    if (ipv6) {
        // IPv6 only, so the socket never also takes IPv4 peers as mapped addresses.
        ::setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &reuse, sizeof reuse);
        localSize = ipv6Address(local, portBits, address6);
    } else {
        in_addr any{htonl(INADDR_ANY)};
        if (address != nullptr && ::inet_pton(AF_INET, address, &any) != 1)
            return -1;
        localSize = ipv4Address(local, portBits, any.s_addr);
    }
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&local), localSize) != 0)
        return -1;
    if (::listen(handle, 5) != 0)
        return -1;
    if (!setNonBlocking(handle))
        return -1;
    return 1;
}

int TcpStream::acceptPeer(void* peerAddress) {
    if (waitReadable() < 1)
        return -1;
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

int TcpStream::waitReadable() {
    if (handle == -1)
        return -1;
    return waitFor(Readiness::readable);
}

int TcpStream::waitWritable() {
    if (handle == -1)
        return -1;
    return waitFor(Readiness::writable);
}

int TcpStream::startTls(const TlsContext& context, const char* server, std::string& report) {
    // Each line of the request becomes a record of its own. With Nagle's algorithm the second
    // one would wait for the server's delayed ACK, some 40 ms, as the handshake has used up
    // the connection's quick ACKs; a plain connection still has them and keeps the default.
    const int on = 1;
    ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    tls_ = TlsSession::start(context, *this, server, report);
    return tls_ ? 0 : -1;
}

int TcpStream::localPort() const {
    if (handle == -1)
        return -1;
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

}  // namespace tarven
