#pragma once

#include <memory>
#include <string>

namespace tarven {

class TcpStream;

enum class TlsVerify {
    chainAndName,  // the server's chain against the trust store, and its name or address
    none,          // encrypt only
};

// The settings of TLS connections, made before connecting: what to verify and what to trust.
// One backend implements it (net/TlsOpenSsl.cpp); nothing else sees the library.
class TlsContext {
  public:
    // Trusts the PEM certificates in `caFile` instead of the system's store when it is given.
    TlsContext(TlsVerify verify, const char* caFile);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // False when the library could not be set up or the CA file could not be loaded.
    bool ready() const;
    TlsVerify verify() const { return verify_; }

    struct Backend;
    Backend* backend() const { return backend_.get(); }

  private:
    TlsVerify verify_;
    std::unique_ptr<Backend> backend_;
};

// One TLS session over a connected TcpStream. Every wait goes through the stream's readiness
// waits, so each keeps the stream's time-out. Results are those of TcpStream's transfers.
class TlsSession {
  public:
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Runs the handshake for `server` (a host name or an address literal, "[...]" allowed).
    // The session, with `report` set to "<protocol> <cipher>"; or none, with `report` set to
    // the reason for a person ("timed out", the certificate's verify error, the library's
    // error).
    static std::unique_ptr<TlsSession> start(const TlsContext& context, TcpStream& stream,
                                             const char* server, std::string& report);

    // The number of bytes sent; -1 when a wait timed out or failed; the number sent before a
    // failed send.
    int send(const char* bytes, int count);
    // Bytes received (more than 0); 0 when nothing arrived within the time-out; -1 when the
    // peer closed (with or without close_notify) or on error. Decrypted bytes already held
    // are delivered without waiting.
    int receive(char* buffer, int size);
    // Sends close_notify when the session is still sound, waiting at most one time-out.
    void shutdown();

    struct Backend;

  private:
    explicit TlsSession(std::unique_ptr<Backend> backend);
    std::unique_ptr<Backend> backend_;
};

// Whether this build has a TLS library at all; without one a TLS run stops before connecting.
bool tlsAvailable();

// The TLS library's name and version, for --version.
std::string tlsLibraryVersion();

}  // namespace tarven
