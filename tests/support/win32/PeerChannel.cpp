// The test peer on Windows: plain connections only, as the Windows build has no TLS yet.

#include "support/PeerChannel.h"

#include <winsock2.h>

namespace tarven::test {

struct TestPeer::Tls {};
struct TestPeer::Channel::Session {};

TestPeer::Tls* TestPeer::loadTls(const std::string&, const std::string&, PeerScript::TlsOffer) {
    return nullptr;
}

void blockBrokenPipeSignal() {}

void TestPeer::FreeTls::operator()(Tls* tls) const {
    delete tls;
}

TestPeer::Channel::Channel(TcpStream& stream, const Tls*) : stream_(stream) {}

TestPeer::Channel::~Channel() = default;

bool TestPeer::Channel::handshake(const std::atomic<bool>&) {
    return false;
}

int TestPeer::Channel::receive(char* buffer, int size) {
    return stream_.receive(buffer, size, 0);
}

int TestPeer::Channel::send(const char* bytes, int count) {
    return stream_.sendAll(bytes, count, 0);
}

void TestPeer::Channel::endWrites() {
    ::shutdown(static_cast<SOCKET>(stream_.handle), SD_SEND);
}

void closeWithReset(TcpStream& stream) {
    // A zero linger time makes the close send a reset instead of a FIN.
    const linger abortive{1, 0};
    ::setsockopt(static_cast<SOCKET>(stream.handle), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&abortive), sizeof abortive);
    ::closesocket(static_cast<SOCKET>(stream.handle));
    stream.handle = -1;
}

}  // namespace tarven::test
