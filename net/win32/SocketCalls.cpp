#include "net/SocketCalls.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/win32/Winsock.h"

namespace tarven::sockets {
namespace {

// The area accept fills: an IPv4 socket address.
constexpr std::size_t kPeerAddressSize = sizeof(sockaddr_in);

// Socket handles are kernel handles, whose values fit in an int.
SOCKET toSocket(int handle) {
    return static_cast<SOCKET>(handle);
}

int fromSocket(SOCKET socket) {
    return socket == INVALID_SOCKET ? -1 : static_cast<int>(socket);
}

int socketAddress(sockaddr_storage& storage, const Endpoint& endpoint) {
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
    return platform::startWinsock();
}

Fault lastFault() {
    switch (::WSAGetLastError()) {
        case 0:
            return Fault::none;
        case WSAEINTR:
            return Fault::interrupted;
        case WSAEWOULDBLOCK:
        case WSAEINPROGRESS:
            return Fault::wouldBlock;
        case WSAECONNREFUSED:
            return Fault::refused;
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
            return Fault::unreachable;
        default:
            return Fault::other;
    }
}

int open(bool ipv6) {
    return fromSocket(::WSASocketW(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                   WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
}

int close(int handle) {
    ::shutdown(toSocket(handle), SD_BOTH);
    return ::closesocket(toSocket(handle)) == 0 ? 0 : -1;
}

bool setNonBlocking(int handle) {
    u_long on = 1;
    return ::ioctlsocket(toSocket(handle), FIONBIO, &on) == 0;
}

int connect(int handle, const Endpoint& peer) {
    // Winsock has no per-call non-blocking flag, so the socket is non-blocking from here on;
    // the connect itself still waits for its outcome without a time-out.
    if (!setNonBlocking(handle))
        return -1;
    sockaddr_storage address{};
    const int size = socketAddress(address, peer);
    if (::connect(toSocket(handle), reinterpret_cast<const sockaddr*>(&address), size) == 0)
        return 0;
    if (::WSAGetLastError() != WSAEWOULDBLOCK)
        return -1;
    WSAPOLLFD watched{toSocket(handle), POLLOUT, 0};
    if (::WSAPoll(&watched, 1, -1) != 1)
        return -1;
    // A refused connect may show as POLLERR alone; SO_ERROR holds the reason either way.
    int error = 0;
    int errorSize = sizeof error;
    if (::getsockopt(toSocket(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &errorSize) != 0)
        return -1;
    if (error == 0 && (watched.revents & POLLOUT) != 0)
        return 0;
    ::WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
    return -1;
}

int wait(int handle, bool readable, int milliseconds) {
    WSAPOLLFD watched{toSocket(handle), static_cast<SHORT>(readable ? POLLRDNORM : POLLWRNORM), 0};
    const int result = ::WSAPoll(&watched, 1, milliseconds);
    return result == SOCKET_ERROR ? -1 : result;
}

long send(int handle, const char* bytes, int count, int flags) {
    // The socket is non-blocking, and Windows raises no signal for a peer that has gone.
    const int sent = ::send(toSocket(handle), bytes, count, flags);
    return sent == SOCKET_ERROR ? -1 : sent;
}

long receive(int handle, char* buffer, int size, int flags) {
    const int got = ::recv(toSocket(handle), buffer, size, flags);
    return got == SOCKET_ERROR ? -1 : got;
}

int listen(int handle, const Endpoint& local) {
    // No SO_REUSEADDR: on Windows it would let another socket take the same port. An IPv6
    // socket is IPv6-only by default; said again to be sure.
    const DWORD on = 1;
    if (local.ipv6)
        ::setsockopt(toSocket(handle), IPPROTO_IPV6, IPV6_V6ONLY,
                     reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_storage address{};
    const int size = socketAddress(address, local);
    if (::bind(toSocket(handle), reinterpret_cast<const sockaddr*>(&address), size) != 0)
        return -1;
    if (::listen(toSocket(handle), 5) != 0)
        return -1;
    return setNonBlocking(handle) ? 0 : -1;
}

int accept(int handle, void* peerAddress) {
    sockaddr_storage peer{};
    int size = sizeof peer;
    const SOCKET accepted = ::accept(toSocket(handle), reinterpret_cast<sockaddr*>(&peer), &size);
    if (peerAddress != nullptr)
        std::memcpy(peerAddress, &peer, kPeerAddressSize);
    if (accepted != INVALID_SOCKET)
        ::SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    return fromSocket(accepted);
}

int localPort(int handle) {
    sockaddr_storage local{};
    int size = sizeof local;
    if (::getsockname(toSocket(handle), reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(local).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

void setNoDelay(int handle) {
    const DWORD on = 1;
    ::setsockopt(toSocket(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof on);
}

// Winsock has no cork; Nagle's algorithm, on by default, joins small writes as far as it can.
void holdWrites(int, bool) {}

bool parseIpv4(const char* text, platform::Ipv4& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, text, &parsed) != 1)
        return false;
    address = parsed.s_addr;
    return true;
}

}  // namespace tarven::sockets
