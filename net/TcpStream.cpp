#include "net/TcpStream.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "net/SocketCalls.h"
#include "net/TlsSession.h"
#include "platform/HostNetwork.h"
#include "text/Decimal.h"

namespace tarven {
namespace {

std::atomic<bool> networkingAttempted{false};

ConnectFailure connectFailureOf(sockets::Fault fault) {
    switch (fault) {
        case sockets::Fault::refused:
            return ConnectFailure::refused;
        case sockets::Fault::unreachable:
            return ConnectFailure::unreachable;
        default:
            return ConnectFailure::other;
    }
}

bool wouldBlock(sockets::Fault fault) {
    return fault == sockets::Fault::wouldBlock || fault == sockets::Fault::interrupted;
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
    if (!networkingAttempted.exchange(true))
        sockets::start();
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
        sockets::setNonBlocking(handle);
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
    const int result = sockets::close(handle);
    handle = -1;
    writesHeld_ = false;
    return result;
}

void TcpStream::releaseWrites() {
    if (writesHeld_) {
        sockets::holdWrites(handle, false);
        writesHeld_ = false;
    }
}

int TcpStream::waitFor(Readiness readiness) {
    if (readiness == Readiness::readable)
        releaseWrites();
    using Clock = std::chrono::steady_clock;
    const auto whole =
        std::chrono::seconds(timeout.seconds) + std::chrono::microseconds(timeout.microseconds);
    // The clock is read once a wait; only a wait cut short by a signal reads it again.
    const auto deadline = Clock::now() + whole;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(whole).count();
    for (;;) {
        const int result = sockets::wait(handle, readiness == Readiness::readable,
                                         left > 0 ? static_cast<int>(left) : 0);
        // A signal is not a failure of the wait: wait again for the time that is left.
        if (result < 0 && sockets::lastFault() == sockets::Fault::interrupted) {
            left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            continue;
        }
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
    sockets::Endpoint peer;
    peer.port = static_cast<std::uint16_t>(parseDecimal(port) & 0xFFFF);
    const bool literal6 = platform::parseIpv6Literal(host, peer.ipv6Address);
    if (!literal6 &&
        (platform::parseDottedIpv4(host, peer.ipv4) || network.resolve(host, peer.ipv4))) {
        peer.ipv6 = false;
    } else if (literal6 || network.resolveIpv6(host, peer.ipv6Address)) {
        peer.ipv6 = true;
    } else {
        connectFailure = ConnectFailure::nameNotFound;
        return -1;
    }
    handle = sockets::open(peer.ipv6);
    if (handle < 0) {
        handle = -1;
        lastResult = -1;
        return lastResult;
    }
    lastResult = sockets::connect(handle, peer) == 0 ? 0 : -1;
    connectFailure =
        lastResult == 0 ? ConnectFailure::none : connectFailureOf(sockets::lastFault());
    if (lastResult != 0) {
        close();
        return lastResult;
    }
    sockets::holdWrites(handle, true);
    writesHeld_ = true;
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
        const long n = sockets::send(handle, bytes + sent, count - sent, flags);
        if (n < 0 && wouldBlock(sockets::lastFault()))
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
        const long n = sockets::receive(handle, buffer, size, flags);
        if (n < 0 && wouldBlock(sockets::lastFault()))
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
    handle = sockets::open(ipv6);
    if (handle < 0) {
        handle = -1;
        return -1;
    }
    sockets::Endpoint local;
    local.ipv6 = ipv6;
    local.port = static_cast<std::uint16_t>(port & 0xFFFF);
    local.ipv6Address = address6;
    // Left at 0, the IPv4 address is all local ones.
    if (!ipv6 && address != nullptr && !sockets::parseIpv4(address, local.ipv4))
        return -1;
    return sockets::listen(handle, local) == 0 ? 1 : -1;
}

int TcpStream::acceptPeer(void* peerAddress) {
    if (waitReadable() < 1)
        return -1;
    return sockets::accept(handle, peerAddress);
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
    // The handshake's flights leave at once; the request's records are held as on a plain
    // connection.
    releaseWrites();
    sockets::setNoDelay(handle);
    tls_ = TlsSession::start(context, *this, server, report);
    if (!tls_)
        return -1;
    sockets::holdWrites(handle, true);
    writesHeld_ = true;
    return 0;
}

int TcpStream::localPort() const {
    if (handle == -1)
        return -1;
    return sockets::localPort(handle);
}

}  // namespace tarven
