#include "net/TcpStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
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

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

}  // namespace

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
    if (host == nullptr || port == nullptr)
        return -1;
    platform::Ipv4 address = 0;
    if (!platform::parseDottedIpv4(host, address) && !platform::resolveIpv4(host, address)) {
        return -1;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(parseDecimal(port) & 0xFFFF));
    peer.sin_addr.s_addr = address;
    handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        handle = -1;
        lastResult = -1;
        return lastResult;
    }
    int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    if (result != 0 && errno == EINTR) {
        // An interrupted connect goes on in the background; wait for its outcome.
        pollfd watched{handle, POLLOUT, 0};
        while ((result = ::poll(&watched, 1, -1)) < 0 && errno == EINTR) {
        }
        int error = 0;
        socklen_t size = sizeof error;
        result = (result == 1 && ::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
                  error == 0)
                     ? 0
                     : -1;
    }
    lastResult = result == 0 ? 0 : -1;
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
    handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        handle = -1;
        return -1;
    }
    const int reuse = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (address != nullptr && ::inet_pton(AF_INET, address, &local.sin_addr) != 1)
        return -1;
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
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
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    int accepted;
    do {
        accepted = ::accept4(handle, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (peerAddress != nullptr)
        std::memcpy(peerAddress, &peer, sizeof peer);
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
    tls_ = TlsSession::start(context, *this, server, report);
    return tls_ ? 0 : -1;
}

int TcpStream::localPort() const {
    if (handle == -1)
        return -1;
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return -1;
    return ntohs(local.sin_port);
}

}  // namespace tarven
