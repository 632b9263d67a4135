// The TLS floor of the end-to-end benchmark: connects, runs a verified handshake with the
// system's OpenSSL against a trust file (chain, SNI for a name, the name or address checked
// against the certificate), sends a request file's bytes as they are, then reads at most 512
// bytes at a time with SSL_read, writing each piece to standard output, until the server ends.
// Nothing else, so its time is what a TLS run with the same library and checks cannot go below.
//
// Usage: tarven-tls-floor-client HOST PORT REQUEST-FILE TRUST-FILE
//   HOST is an IPv4 or IPv6 address (connected to and checked as an address) or a name that
//   resolves to one (connected to, sent as SNI and checked as a name).
// Exit status: 0 when the server closed after answering, 1 on any failure.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "FloorIo.h"

namespace {

using floor_io::Descriptor;
using floor_io::writeAll;

constexpr int kReceiveSize = 512;
constexpr std::size_t kRequestCapacity = 64 * 1024;

struct AddressesFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
struct ContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

bool isAddress(const char* host) {
    in6_addr v6;
    in_addr v4;
    return ::inet_pton(AF_INET6, host, &v6) == 1 || ::inet_pton(AF_INET, host, &v4) == 1;
}

int fail(const char* what) {
    std::fprintf(stderr, "tarven-tls-floor-client: %s\n", what);
    ERR_print_errors_fp(stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: tarven-tls-floor-client HOST PORT REQUEST-FILE TRUST-FILE\n", stderr);
        return 1;
    }
    const char* host = argv[1];
    static char request[kRequestCapacity];
    std::size_t requestLength = 0;
    {
        const Descriptor file(::open(argv[3], O_RDONLY | O_CLOEXEC));
        if (file.get() < 0)
            return fail("cannot open the request file");
        ssize_t n;
        while ((n = ::read(file.get(), request + requestLength, sizeof request - requestLength)) >
               0)
            requestLength += static_cast<std::size_t>(n);
        if (n < 0)
            return fail("cannot read the request file");
    }

    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, argv[2], &hints, &found) != 0)
        return fail("cannot resolve the host");
    const std::unique_ptr<addrinfo, AddressesFree> addresses(found);
    const Descriptor socket(
        ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol));
    if (socket.get() < 0 || ::connect(socket.get(), found->ai_addr, found->ai_addrlen) != 0)
        return fail("cannot connect");

    const std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_client_method()));
    if (!context)
        return fail("cannot set up the library");
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(context.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(context.get(), argv[4], nullptr) != 1)
        return fail("cannot load the trust file");
    const std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.get()));
    if (!ssl || SSL_set_fd(ssl.get(), socket.get()) != 1)
        return fail("cannot start a session");
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
    // An address is never sent as SNI; it is checked against the certificate's IP entries.
    const bool named = isAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host) == 1
                                       : SSL_set_tlsext_host_name(ssl.get(), host) == 1 &&
                                             X509_VERIFY_PARAM_set1_host(param, host, 0) == 1;
    if (!named)
        return fail("cannot set the name to check");
    if (SSL_connect(ssl.get()) != 1)
        return fail("the handshake failed");

    std::size_t written = 0;
    if (SSL_write_ex(ssl.get(), request, requestLength, &written) != 1 || written != requestLength)
        return fail("cannot send the request");

    char received[kReceiveSize];
    for (;;) {
        std::size_t got = 0;
        if (SSL_read_ex(ssl.get(), received, sizeof received, &got) != 1) {
            // The server's close_notify, or a close without it (let through above), ends it.
            if (SSL_get_error(ssl.get(), 0) == SSL_ERROR_ZERO_RETURN)
                return 0;
            return fail("reading failed");
        }
        if (!writeAll(STDOUT_FILENO, received, got))
            return 1;
    }
}
