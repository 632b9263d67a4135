// The TLS backend on OpenSSL 3, built as the private module net/TlsModule.cpp opens at the
// first TLS run. Another backend replaces this file alone.

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

#include "net/TlsModule.h"
#include "net/TlsReasons.h"

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

// Browsers take certificate chains of this size; OpenSSL's own limit is 100 kB.
constexpr long kMaxCertificateList = 256 * 1024;

const TlsReasonOf<long> kVerifyReasons[] = {
    {X509_V_ERR_CERT_HAS_EXPIRED, TlsReason::certificateExpired},
    {X509_V_ERR_CERT_NOT_YET_VALID, TlsReason::certificateNotYetValid},
    {X509_V_ERR_HOSTNAME_MISMATCH, TlsReason::hostnameMismatch},
    {X509_V_ERR_IP_ADDRESS_MISMATCH, TlsReason::addressMismatch},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, TlsReason::unknownIssuer},
    {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, TlsReason::unknownIssuer},
    {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, TlsReason::selfSigned},
    {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, TlsReason::selfSignedInChain},
    {X509_V_ERR_CA_MD_TOO_WEAK, TlsReason::weakDigest},
    {X509_V_ERR_EE_KEY_TOO_SMALL, TlsReason::keyTooShort},
    {X509_V_ERR_CA_KEY_TOO_SMALL, TlsReason::keyTooShort},
    {X509_V_ERR_INVALID_PURPOSE, TlsReason::notForServers},
    {X509_V_ERR_CERT_SIGNATURE_FAILURE, TlsReason::badSignature},
    {X509_V_ERR_CERT_REVOKED, TlsReason::revoked},
};

const TlsReasonOf<int> kLibraryReasons[] = {
    {SSL_R_WRONG_VERSION_NUMBER, TlsReason::notTls},
    {SSL_R_TLSV1_ALERT_PROTOCOL_VERSION, TlsReason::protocolTooOld},
    {SSL_R_UNSUPPORTED_PROTOCOL, TlsReason::protocolTooOld},
    {SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE, TlsReason::noCommonCipher},
    {SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY, TlsReason::noCommonCipher},
    {SSL_R_NO_SHARED_CIPHER, TlsReason::noCommonCipher},
    {SSL_R_NO_CIPHERS_AVAILABLE, TlsReason::noCommonCipher},
    {SSL_R_DH_KEY_TOO_SMALL, TlsReason::dhKeyTooSmall},
    {SSL_R_EXCESSIVE_MESSAGE_SIZE, TlsReason::chainTooLarge},
    {SSL_R_CA_MD_TOO_WEAK, TlsReason::weakDigest},
    {SSL_R_EE_KEY_TOO_SMALL, TlsReason::keyTooShort},
    {SSL_R_CA_KEY_TOO_SMALL, TlsReason::keyTooShort},
};

// The oldest error in the library's queue as a reason for a person; empty when there is none.
// A reason of our own where one is known, the library's text otherwise.
std::string libraryError() {
    const unsigned long code = ERR_peek_error();
    ERR_clear_error();
    if (code == 0)
        return {};
    TlsReason known;
    if (ERR_GET_LIB(code) == ERR_LIB_SSL &&
        findTlsReason(kLibraryReasons, ERR_GET_REASON(code), known))
        return tlsReasonText(known);
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "error " + std::to_string(ERR_GET_REASON(code));
}

// The certificate check's failure as a reason for a person.
std::string verifyError(SSL* ssl, long verified) {
    TlsReason known;
    if (!findTlsReason(kVerifyReasons, verified, known))
        return X509_verify_cert_error_string(verified);
    // The leaf is kept as the peer's certificate only once it has passed; the chain as sent
    // is kept from the start.
    const STACK_OF(X509)* sent = SSL_get_peer_cert_chain(ssl);
    const X509* leaf = sk_X509_num(sent) > 0 ? sk_X509_value(sent, 0) : nullptr;
    if ((known == TlsReason::hostnameMismatch || known == TlsReason::addressMismatch) &&
        leaf != nullptr && X509_get_ext_by_NID(leaf, NID_subject_alt_name, -1) < 0)
        known = TlsReason::noSubjectAltName;
    // X509_check_ca casts its argument only to read it.
    if (known == TlsReason::notForServers && leaf != nullptr &&
        X509_check_ca(const_cast<X509*>(leaf)) > 0)
        known = TlsReason::caInPlaceOfLeaf;
    return tlsReasonText(known);
}

// Takes the finite-field DHE suites out of the TLS 1.2 list the system's policy gives; ECDHE
// and the rest stay as configured. TLS 1.3 has no such suites.
bool dropFiniteFieldDhe(SSL_CTX* context) {
    const STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(context);
    std::string kept;
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
        const SSL_CIPHER* cipher = sk_SSL_CIPHER_value(ciphers, i);
        const int exchange = SSL_CIPHER_get_kx_nid(cipher);
        if (exchange == NID_kx_any || exchange == NID_kx_dhe || exchange == NID_kx_dhe_psk)
            continue;
        if (!kept.empty())
            kept += ':';
        kept += SSL_CIPHER_get_name(cipher);
    }
    return !kept.empty() && SSL_CTX_set_cipher_list(context, kept.c_str()) == 1;
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

class OpenSslSession final : public tlsmodule::Session {
  public:
    OpenSslSession(SSL* ssl, tlsmodule::Waits& waits) : ssl_(ssl), waits_(waits) {}

    // Runs the handshake; the session's own state when it ends, 1 when it succeeded.
    int handshake(std::string& report);
    int send(const char* bytes, int count) override;
    int receive(char* buffer, int size) override;
    void shutdown() override;

  private:
    std::unique_ptr<SSL, SslFree> ssl_;
    tlsmodule::Waits& waits_;
    bool sound_ = true;  // no fatal error yet, so a close_notify may still be sent

    // Waits for what the library asked for after `result`. 1 to try again; 0 on time-out or a
    // failed wait; -1 when the operation failed for good.
    int waitAfter(int result) {
        switch (SSL_get_error(ssl_.get(), result)) {
            case SSL_ERROR_WANT_READ:
                return waits_.readable() < 1 ? 0 : 1;
            case SSL_ERROR_WANT_WRITE:
                return waits_.writable() < 1 ? 0 : 1;
            default:
                sound_ = false;
                return -1;
        }
    }
};

class OpenSslContext final : public tlsmodule::Context {
  public:
    // False when the library could not be set up or the CA file could not be loaded.
    bool setUp(TlsVerify verify, const char* caFile);
    std::unique_ptr<tlsmodule::Session> start(int socket, tlsmodule::Waits& waits,
                                              const char* server,
                                              std::string& report) const override;

  private:
    std::unique_ptr<SSL_CTX, SslContextFree> context_;
    std::unique_ptr<BIO_METHOD, BioMethodFree> socketMethod_;
};

bool OpenSslContext::setUp(TlsVerify verify, const char* caFile) {
    std::unique_ptr<SSL_CTX, SslContextFree> context(SSL_CTX_new(TLS_client_method()));
    std::unique_ptr<BIO_METHOD, BioMethodFree> method(
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarven socket"));
    if (!context || !method)
        return false;
    BIO_meth_set_write(method.get(), bioWrite);
    BIO_meth_set_read(method.get(), bioRead);
    BIO_meth_set_ctrl(method.get(), bioControl);
    BIO_meth_set_create(method.get(), bioCreate);

    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_max_cert_list(context.get(), kMaxCertificateList);
    if (!dropFiniteFieldDhe(context.get()))
        return false;
    // A close without close_notify ends an answer like a plain close: many servers do it.
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Reads return to the caller after a non-application record, so each wait stays its own.
    SSL_CTX_clear_mode(context.get(), SSL_MODE_AUTO_RETRY);
    // The request is HTTP/1.x as the user wrote it; never offer h2.
    static const unsigned char kAlpn[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    if (SSL_CTX_set_alpn_protos(context.get(), kAlpn, sizeof kAlpn) != 0)
        return false;
    SSL_CTX_set_verify(context.get(),
                       verify == TlsVerify::chainAndName ? SSL_VERIFY_PEER : SSL_VERIFY_NONE,
                       nullptr);
    const int trusted = caFile != nullptr
                            ? SSL_CTX_load_verify_locations(context.get(), caFile, nullptr)
                            : SSL_CTX_set_default_verify_paths(context.get());
    ERR_clear_error();
    if (trusted != 1)
        return false;
    context_ = std::move(context);
    socketMethod_ = std::move(method);
    return true;
}

std::unique_ptr<tlsmodule::Session> OpenSslContext::start(int socket, tlsmodule::Waits& waits,
                                                          const char* server,
                                                          std::string& report) const {
    ERR_clear_error();
    report = "the TLS library could not be set up";
    if (socket == -1 || server == nullptr)
        return nullptr;
    SSL* ssl = SSL_new(context_.get());
    if (ssl == nullptr) {
        ERR_clear_error();
        return nullptr;
    }
    auto session = std::make_unique<OpenSslSession>(ssl, waits);
    BIO* bio = BIO_new(socketMethod_.get());
    if (bio == nullptr) {
        ERR_clear_error();
        return nullptr;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(socket)));
    SSL_set_bio(ssl, bio, bio);  // the session owns the BIO from here

    const std::string literal = addressLiteral(server);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    // Like browsers, only the subjectAltName names the server; the subject CN never does.
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    const bool named = literal.empty() ? SSL_set_tlsext_host_name(ssl, server) == 1 &&
                                             X509_VERIFY_PARAM_set1_host(param, server, 0) == 1
                                       : X509_VERIFY_PARAM_set1_ip_asc(param, literal.c_str()) == 1;
    if (!named) {
        report = libraryError();
        if (report.empty())
            report = "the server name cannot be checked";
        return nullptr;
    }
    if (session->handshake(report) != 1)
        return nullptr;
    return session;
}

int OpenSslSession::handshake(std::string& report) {
    SSL* ssl = ssl_.get();
    for (;;) {
        const int result = SSL_connect(ssl);
        if (result == 1)
            break;
        const int waited = waitAfter(result);
        if (waited == 1)
            continue;
        const long verified = SSL_get_verify_result(ssl);
        if (waited == 0) {
            report = tlsReasonText(TlsReason::timedOut);
        } else if (verified != X509_V_OK) {
            report = verifyError(ssl, verified);
        } else {
            report = libraryError();
            if (report.empty() && errno == ECONNRESET)
                report = tlsReasonText(TlsReason::connectionReset);
            else if (report.empty())
                report = errno != 0 ? std::strerror(errno) : tlsReasonText(TlsReason::serverClosed);
        }
        ERR_clear_error();
        return waited;
    }
    report = std::string(SSL_get_version(ssl)) + " " + SSL_get_cipher_name(ssl);
    return 1;
}

int OpenSslSession::send(const char* bytes, int count) {
    int sent = 0;
    while (sent < count) {
        std::size_t written = 0;
        const int result = SSL_write_ex(ssl_.get(), bytes + sent,
                                        static_cast<std::size_t>(count - sent), &written);
        if (result == 1) {
            sent += static_cast<int>(written);
            continue;
        }
        const int waited = waitAfter(result);
        ERR_clear_error();
        if (waited == 0)
            return -1;
        if (waited < 0)
            return sent;
    }
    return sent;
}

int OpenSslSession::receive(char* buffer, int size) {
    if (!sound_)
        return -1;
    // Reading first delivers what the library holds decrypted before the socket is waited on.
    for (;;) {
        std::size_t got = 0;
        const int result = SSL_read_ex(ssl_.get(), buffer, static_cast<std::size_t>(size), &got);
        if (result == 1)
            return static_cast<int>(got);
        const int error = SSL_get_error(ssl_.get(), result);
        if (error == SSL_ERROR_ZERO_RETURN) {
            ERR_clear_error();
            return -1;
        }
        const int waited = waitAfter(result);
        ERR_clear_error();
        if (waited < 1)
            return waited;
    }
}

void OpenSslSession::shutdown() {
    if (!sound_)
        return;
    sound_ = false;
    // Only our close_notify is sent; the server's is not waited for.
    int result = SSL_shutdown(ssl_.get());
    if (result < 0 && SSL_get_error(ssl_.get(), result) == SSL_ERROR_WANT_WRITE &&
        waits_.writable() >= 1) {
        SSL_shutdown(ssl_.get());
    }
    ERR_clear_error();
}

std::unique_ptr<tlsmodule::Context> newContext(TlsVerify verify, const char* caFile) {
    auto context = std::make_unique<OpenSslContext>();
    if (!context->setUp(verify, caFile))
        return nullptr;
    return context;
}

std::string libraryVersion() {
    return OpenSSL_version(OPENSSL_VERSION);
}

const tlsmodule::Entry kEntry = {tlsmodule::kTlsModuleAbi, newContext, libraryVersion};

}  // namespace
}  // namespace tarven

// The only symbol the module exports; everything else is built hidden.
extern "C" __attribute__((visibility("default"))) const tarven::tlsmodule::Entry*
tarven_tls_module() {
    return &tarven::kEntry;
}
