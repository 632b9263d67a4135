// The TLS backend of a build without a TLS library: no context is ever ready, so a run that asks
// for TLS stops before connecting.

#include "net/TlsSession.h"

namespace tarven {

struct TlsContext::Backend {};
struct TlsSession::Backend {};

TlsContext::TlsContext(TlsVerify verify, const char*) : verify_(verify) {}

TlsContext::~TlsContext() = default;

bool TlsContext::ready() const {
    return false;
}

TlsSession::TlsSession(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::start(const TlsContext&, TcpStream&, const char*,
                                              std::string& report) {
    report = "TLS is not available in this build";
    return nullptr;
}

int TlsSession::send(const char*, int) {
    return -1;
}

int TlsSession::receive(char*, int) {
    return -1;
}

void TlsSession::shutdown() {}

bool tlsAvailable() {
    return false;
}

std::string tlsLibraryVersion() {
    return "none";
}

}  // namespace tarven
