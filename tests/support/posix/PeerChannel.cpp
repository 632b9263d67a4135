#include "support/PeerChannel.h"
#include "ServerTls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>

namespace tarven::test {

struct TestPeer::Tls {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context{nullptr, SSL_CTX_free};
};

struct TestPeer::Channel::Session {
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl{nullptr, SSL_free};
};

namespace {

// Narrows what the server side offers; the client's settings stay untouched.
bool limitOffer(SSL_CTX* context, PeerScript::TlsOffer offer) {
    switch (offer) {
        case PeerScript::TlsOffer::usual:
            return true;
        case PeerScript::TlsOffer::tls11Only:
            // OpenSSL allows TLS 1.1 only at security level 0.
            SSL_CTX_set_security_level(context, 0);
            return SSL_CTX_set_min_proto_version(context, TLS1_VERSION) == 1 &&
                   SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION) == 1;
        case PeerScript::TlsOffer::dheOnly:
            return SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION) == 1 &&
                   SSL_CTX_set_cipher_list(context, "kDHE") == 1 &&
                   SSL_CTX_set_dh_auto(context, 1) == 1;
    }
    return false;
}

}  // namespace

SSL_CTX* newServerContext(const std::string& certificateFile, const std::string& keyFile,
                          PeerScript::TlsOffer offer) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                              SSL_CTX_free);
    if (!context ||
        SSL_CTX_use_certificate_chain_file(context.get(), certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        !limitOffer(context.get(), offer)) {
        ERR_clear_error();
        return nullptr;
    }
    return context.release();
}

std::string negotiatedText(const SSL* ssl) {
    return std::string(SSL_get_version(ssl)) + " " + SSL_get_cipher_name(ssl);
}

TestPeer::Tls* TestPeer::loadTls(const std::string& certificateFile, const std::string& keyFile,
                                 PeerScript::TlsOffer offer) {
    auto tls = std::make_unique<Tls>();
    tls->context.reset(newServerContext(certificateFile, keyFile, offer));
    return tls->context ? tls.release() : nullptr;
}

void blockBrokenPipeSignal() {
    // OpenSSL writes with plain write(); the signal is thread-directed, so blocking it in the
    // peer's thread is enough.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

void TestPeer::FreeTls::operator()(Tls* tls) const {
    delete tls;
}

TestPeer::Channel::Channel(TcpStream& stream, const Tls* tls) : stream_(stream) {
    if (tls == nullptr)
        return;
    // The TLS side uses the socket blocking, with the poll step as its receive time-out.
    const timeval receiveWait{0, kPollStep.microseconds};
    const timeval sendWait{Timeout{}.seconds, 0};
    ::setsockopt(stream.handle, SOL_SOCKET, SO_RCVTIMEO, &receiveWait, sizeof receiveWait);
    ::setsockopt(stream.handle, SOL_SOCKET, SO_SNDTIMEO, &sendWait, sizeof sendWait);
    auto session = std::make_unique<Session>();
    session->ssl.reset(SSL_new(tls->context.get()));
    if (session->ssl) {
        SSL_set_fd(session->ssl.get(), stream.handle);
        session_ = std::move(session);
    }
}

TestPeer::Channel::~Channel() = default;

bool TestPeer::Channel::handshake(const std::atomic<bool>& stop) {
    const auto deadline = std::chrono::steady_clock::now() + kIdleLimit;
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        const int result = SSL_accept(session_->ssl.get());
        if (result == 1)
            return true;
        if (SSL_get_error(session_->ssl.get(), result) != SSL_ERROR_WANT_READ)
            break;
    }
    ERR_clear_error();
    session_.reset();
    return false;
}

std::string TestPeer::Channel::negotiated() const {
    return tls() ? negotiatedText(session_->ssl.get()) : "";
}

int TestPeer::Channel::receive(char* buffer, int size) {
    if (!tls())
        return stream_.receive(buffer, size, 0);
    const int got = SSL_read(session_->ssl.get(), buffer, size);
    if (got > 0)
        return got;
    const int error = SSL_get_error(session_->ssl.get(), got);
    ERR_clear_error();
    return error == SSL_ERROR_WANT_READ ? 0 : -1;
}

int TestPeer::Channel::send(const char* bytes, int count) {
    if (!tls())
        return stream_.sendAll(bytes, count, 0);
    const int sent = SSL_write(session_->ssl.get(), bytes, count);
    ERR_clear_error();
    return sent;
}

void TestPeer::Channel::endWrites() {
    if (tls())
        SSL_shutdown(session_->ssl.get());
    ::shutdown(stream_.handle, SHUT_WR);
}

bool runningUnderWine() {
    return false;
}

void closeWithReset(TcpStream& stream) {
    // A zero linger time makes the close send a reset instead of a FIN.
    const linger abortive{1, 0};
    ::setsockopt(stream.handle, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(stream.handle);
    stream.handle = -1;
}

}  // namespace tarven::test
