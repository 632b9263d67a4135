// The TLS backend on OpenSSL 3. Another backend replaces this file alone.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/TcpStream.h"
#include "net/TlsSession.h"

namespace tarven {
namespace {

// OpenSSL's socket BIO writes with plain write(), which raises SIGPIPE on a connection the peer
// has reset. This one sends with MSG_NOSIGNAL and never blocks; waiting is the session's job.
int socketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int bioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::send(socketOf(bio), data, static_cast<std::size_t>(size),
                   MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int bioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t n;
    do {
        n = ::recv(socketOf(bio), data, static_cast<std::size_t>(size), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long bioControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct BioMethodFree {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

// The oldest error in the library's queue as a reason for a person; empty when there is none.
std::string libraryError() {
    const unsigned long code = ERR_peek_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "error " + std::to_string(ERR_GET_REASON(code));
}

// An address literal, one pair of brackets stripped; empty for a host name.
std::string addressLiteral(const char* server) {
    std::string text = server;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    in6_addr v6;
    in_addr v4;
    if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1 ||
        ::inet_pton(AF_INET, text.c_str(), &v4) == 1)
        return text;
    return {};
}

}  // namespace

struct TlsContext::Backend {
    std::unique_ptr<SSL_CTX, SslContextFree> context;
    std::unique_ptr<BIO_METHOD, BioMethodFree> socketMethod;
};

struct TlsSession::Backend {
    std::unique_ptr<SSL, SslFree> ssl;
    TcpStream* stream = nullptr;
    bool sound = true;  // no fatal error yet, so a close_notify may still be sent

    // Waits for what the library asked for after `result`. 1 to try again; 0 on time-out or a
    // failed wait; -1 when the operation failed for good.
    int waitAfter(int result) {
        switch (SSL_get_error(ssl.get(), result)) {
            case SSL_ERROR_WANT_READ:
                return stream->waitReadable() < 1 ? 0 : 1;
            case SSL_ERROR_WANT_WRITE:
                return stream->waitWritable() < 1 ? 0 : 1;
            default:
                sound = false;
                return -1;
        }
    }
};

TlsContext::TlsContext(TlsVerify verify, const char* caFile)
    : verify_(verify), backend_(std::make_unique<Backend>()) {
    std::unique_ptr<SSL_CTX, SslContextFree> context(SSL_CTX_new(TLS_client_method()));
    std::unique_ptr<BIO_METHOD, BioMethodFree> method(
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarven socket"));
    if (!context || !method)
        return;
    BIO_meth_set_write(method.get(), bioWrite);
    BIO_meth_set_read(method.get(), bioRead);
    BIO_meth_set_ctrl(method.get(), bioControl);
    BIO_meth_set_create(method.get(), bioCreate);

    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // A close without close_notify ends an answer like a plain close: many servers do it.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Reads return to the caller after a non-application record, so each wait stays its own.
    SSL_CTX_clear_mode(context.get(), SSL_MODE_AUTO_RETRY);
    // The request is HTTP/1.x as the user wrote it; never offer h2.
    static const unsigned char kAlpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    if (SSL_CTX_set_alpn_protos(context.get(), kAlpn, sizeof kAlpn) != 0)
        return;
    SSL_CTX_set_verify(context.get(),
                       verify == TlsVerify::chainAndName ? SSL_VERIFY_PEER : SSL_VERIFY_NONE,
                       nullptr);
    const int trusted = caFile != nullptr
                            ? SSL_CTX_load_verify_locations(context.get(), caFile, nullptr)
                            : SSL_CTX_set_default_verify_paths(context.get());
    ERR_clear_error();
    if (trusted != 1)
        return;
    backend_->context = std::move(context);
    backend_->socketMethod = std::move(method);
}

TlsContext::~TlsContext() = default;

bool TlsContext::ready() const {
    return backend_->context != nullptr;
}

TlsSession::TlsSession(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::start(const TlsContext& context, TcpStream& stream,
                                              const char* server, std::string& report) {
    ERR_clear_error();
    report = "the TLS library could not be set up";
    if (!context.ready() || stream.handle == -1 || server == nullptr)
        return nullptr;
    auto backend = std::make_unique<Backend>();
    backend->stream = &stream;
    backend->ssl.reset(SSL_new(context.backend()->context.get()));
    BIO* bio = BIO_new(context.backend()->socketMethod.get());
    if (!backend->ssl || bio == nullptr) {
        BIO_free(bio);
        ERR_clear_error();
        return nullptr;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(stream.handle)));
    SSL* ssl = backend->ssl.get();
    SSL_set_bio(ssl, bio, bio);  // the session owns the BIO from here

    const std::string literal = addressLiteral(server);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    const bool named = literal.empty() ? SSL_set_tlsext_host_name(ssl, server) == 1 &&
                                             X509_VERIFY_PARAM_set1_host(param, server, 0) == 1
                                       : X509_VERIFY_PARAM_set1_ip_asc(param, literal.c_str()) == 1;
    if (!named) {
        report = libraryError();
        if (report.empty())
            report = "the server name cannot be checked";
        return nullptr;
    }

    for (;;) {
        const int result = SSL_connect(ssl);
        if (result == 1)
            break;
        const int waited = backend->waitAfter(result);
        if (waited == 1)
            continue;
        const long verified = SSL_get_verify_result(ssl);
        if (waited == 0) {
            report = "timed out";
        } else if (verified != X509_V_OK) {
            report = X509_verify_cert_error_string(verified);
            // Boards without a real-time clock start with a date far in the past.
            if (verified == X509_V_ERR_CERT_NOT_YET_VALID)
                report += " (check the system clock)";
        } else {
            report = libraryError();
            if (report.empty())
                report = errno != 0 ? std::strerror(errno) : "the server closed the connection";
        }
        ERR_clear_error();
        return nullptr;
    }
    report = std::string(SSL_get_version(ssl)) + " " + SSL_get_cipher_name(ssl);
    return std::unique_ptr<TlsSession>(new TlsSession(std::move(backend)));
}

int TlsSession::send(const char* bytes, int count) {
    Backend& b = *backend_;
    int sent = 0;
    while (sent < count) {
        std::size_t written = 0;
        const int result = SSL_write_ex(b.ssl.get(), bytes + sent,
                                        static_cast<std::size_t>(count - sent), &written);
        if (result == 1) {
            sent += static_cast<int>(written);
            continue;
        }
        const int waited = b.waitAfter(result);
        ERR_clear_error();
        if (waited == 0)
            return -1;
        if (waited < 0)
            return sent;
    }
    return sent;
}

int TlsSession::receive(char* buffer, int size) {
    Backend& b = *backend_;
    if (!b.sound)
        return -1;
    // Reading first delivers what the library holds decrypted before the socket is waited on.
    for (;;) {
        std::size_t got = 0;
        const int result = SSL_read_ex(b.ssl.get(), buffer, static_cast<std::size_t>(size), &got);
        if (result == 1)
            return static_cast<int>(got);
        const int error = SSL_get_error(b.ssl.get(), result);
        if (error == SSL_ERROR_ZERO_RETURN) {
            ERR_clear_error();
            return -1;
        }
        const int waited = b.waitAfter(result);
        ERR_clear_error();
        if (waited < 1)
            return waited;
    }
}

void TlsSession::shutdown() {
    Backend& b = *backend_;
    if (!b.sound)
        return;
    b.sound = false;
    // Only our close_notify is sent; the server's is not waited for.
    int result = SSL_shutdown(b.ssl.get());
    if (result < 0 && SSL_get_error(b.ssl.get(), result) == SSL_ERROR_WANT_WRITE &&
        b.stream->waitWritable() >= 1) {
        SSL_shutdown(b.ssl.get());
    }
    ERR_clear_error();
}

bool tlsAvailable() {
    return true;
}

std::string tlsLibraryVersion() {
    return OpenSSL_version(OPENSSL_VERSION);
}

}  // namespace tarven
