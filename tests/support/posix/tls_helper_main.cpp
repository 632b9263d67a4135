// tarven-tls-helper PORT: certificates and the server side of TLS, made with OpenSSL, for the
// test support of a build that has no OpenSSL (the Windows one, run under Wine). It connects to
// 127.0.0.1:PORT, answers each request there in turn (support/HelperLink.h), and ends when that
// connection ends or stays idle for an hour.
//
// Requests and their answers ('o' for done, 'x' for failed):
//   'a' name                           the authority; 'o' its certificate (PEM)
//   'i' name from to form names...     a server certificate it signs; 'o' certificate, key
//   'S' names...                       a self-signed one; 'o' certificate, key
//   'c' certificate key offer          the server settings for the sessions below
//   'b'                                a new session, ended by 'e'
//   'f' bytes                          bytes from the client; 'h' (handshake goes on),
//                                      'd' (done), 'c' (the client closed) or 'x', each with the
//                                      bytes for the client, the plain bytes and the negotiation
//   'w' bytes                          plain bytes to send; 'o' the bytes for the client
//   's'                                close_notify; 'o' the bytes for the client

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ServerTls.h"
#include "support/HelperLink.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace tarven::test {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Session {
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl{nullptr, SSL_free};
    BIO* fromClient = nullptr;  // owned by ssl
    BIO* toClient = nullptr;    // owned by ssl
};

class Helper {
  public:
    explicit Helper(TcpStream& link) : link_(link) {}
    bool answer(const HelperMessage& request);

  private:
    HelperMessage certificates(const TestAuthority::Server& server) const;
    HelperMessage feed(const std::string& bytes);
    std::string forClient() const;

    TcpStream& link_;
    TempDir folder_;
    std::unique_ptr<TestAuthority> authority_;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context_{nullptr, SSL_CTX_free};
    std::unique_ptr<Session> session_;
};

HelperMessage Helper::certificates(const TestAuthority::Server& server) const {
    std::string certificate = readFile(server.certificateFile);
    std::string key = readFile(server.keyFile);
    if (certificate.empty() || key.empty())
        return {'x', {}};
    return {'o', {std::move(certificate), std::move(key)}};
}

std::string Helper::forClient() const {
    std::string bytes;
    char chunk[16384];
    int got = 0;
    while ((got = BIO_read(session_->toClient, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, static_cast<std::size_t>(got));
    return bytes;
}

HelperMessage Helper::feed(const std::string& bytes) {
    if (!bytes.empty())
        BIO_write(session_->fromClient, bytes.data(), static_cast<int>(bytes.size()));
    SSL* ssl = session_->ssl.get();
    if (!SSL_is_init_finished(ssl)) {
        const int result = SSL_do_handshake(ssl);
        if (result != 1) {
            const int error = SSL_get_error(ssl, result);
            ERR_clear_error();
            return {error == SSL_ERROR_WANT_READ ? 'h' : 'x', {forClient(), "", ""}};
        }
    }
    std::string plain;
    char chunk[16384];
    char kind = 'd';
    for (;;) {
        const int got = SSL_read(ssl, chunk, sizeof chunk);
        if (got > 0) {
            plain.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        if (SSL_get_error(ssl, got) != SSL_ERROR_WANT_READ)
            kind = 'c';
        ERR_clear_error();
        break;
    }
    return {kind, {forClient(), std::move(plain), negotiatedText(ssl)}};
}

bool Helper::answer(const HelperMessage& request) {
    const std::vector<std::string>& f = request.fields;
    HelperMessage reply{'x', {}};
    if (request.kind == 'a' && f.size() == 1 && !authority_) {
        authority_ = std::make_unique<TestAuthority>(folder_.path(), f[0]);
        if (authority_->ready())
            reply = {'o', {readFile(authority_->certificateFile())}};
    } else if (request.kind == 'i' && f.size() >= 4 && authority_) {
        const auto form = f[3] == "cn"    ? TestAuthority::Form::commonNameOnly
                          : f[3] == "rsa" ? TestAuthority::Form::rsaKey
                                          : TestAuthority::Form::usual;
        reply =
            certificates(authority_->issue(f[0], {f.begin() + 4, f.end()}, std::atoi(f[1].c_str()),
                                           std::atoi(f[2].c_str()), form));
    } else if (request.kind == 'S') {
        reply = certificates(selfSigned(folder_.path(), f));
    } else if (request.kind == 'c' && f.size() == 3) {
        const auto offer = f[2] == "tls11" ? PeerScript::TlsOffer::tls11Only
                           : f[2] == "dhe" ? PeerScript::TlsOffer::dheOnly
                                           : PeerScript::TlsOffer::usual;
        context_.reset(newServerContext(folder_.write("server.pem", f[0]).string(),
                                        folder_.write("server.key", f[1]).string(), offer));
        reply.kind = context_ ? 'o' : 'x';
    } else if (request.kind == 'b' && context_) {
        auto session = std::make_unique<Session>();
        session->ssl.reset(SSL_new(context_.get()));
        session->fromClient = BIO_new(BIO_s_mem());
        session->toClient = BIO_new(BIO_s_mem());
        if (session->ssl && session->fromClient != nullptr && session->toClient != nullptr) {
            SSL_set_bio(session->ssl.get(), session->fromClient, session->toClient);
            SSL_set_accept_state(session->ssl.get());
            session_ = std::move(session);
            reply.kind = 'o';
        } else {
            BIO_free(session->fromClient);
            BIO_free(session->toClient);
        }
    } else if (request.kind == 'f' && f.size() == 1 && session_) {
        reply = feed(f[0]);
    } else if (request.kind == 'w' && f.size() == 1 && session_) {
        const int sent = f[0].empty() ? 0
                                      : SSL_write(session_->ssl.get(), f[0].data(),
                                                  static_cast<int>(f[0].size()));
        ERR_clear_error();
        reply = {sent == static_cast<int>(f[0].size()) ? 'o' : 'x', {forClient()}};
    } else if (request.kind == 's' && session_) {
        SSL_shutdown(session_->ssl.get());
        ERR_clear_error();
        reply = {'o', {forClient()}};
    } else if (request.kind == 'e') {
        session_.reset();
        reply.kind = 'o';
    }
    return sendMessage(link_, reply);
}

}  // namespace
}  // namespace tarven::test

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: tarven-tls-helper PORT\n");
        return 2;
    }
    // Wine hands a Linux program every descriptor of the Windows one that started it: its
    // sockets among them, whose ends would then stay open here after the test closes them.
    close_range(3, ~0u, 0);
    std::signal(SIGPIPE, SIG_IGN);
    tarven::TcpStream link;
    link.timeout = tarven::Timeout{3600, 0};
    if (link.connectTo("127.0.0.1", argv[1]) != 0)
        return 1;
    tarven::test::Helper helper(link);
    tarven::test::HelperMessage request;
    while (tarven::test::receiveMessage(link, request)) {
        if (!helper.answer(request))
            return 1;
    }
    return 0;
}
