#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/TcpStream.h"

namespace tarven::test {

// What the loopback peer does with each connection it accepts, in this order: read the
// request, send the answer, send each further part after a pause, stream filler bytes, then
// end the connection as `after` says.
struct PeerScript {
    enum class After {
        close,       // half-close, then record what else arrives until the client closes
        staySilent,  // keep the connection and record what arrives until the client closes
        abort,       // close at once, reading nothing more
        reset,       // close with a reset (RST) instead of an orderly end
        ignore,      // keep the connection but never read from it again
    };
    // Read the whole request (header and any Content-length body) before answering.
    bool readRequest = true;
    std::string answer = {};
    After after = After::close;
    // Sent one by one after the answer, each `pause` after the one before; the pause lets
    // each part arrive as a chunk of its own.
    std::vector<std::string> parts = {};
    std::chrono::milliseconds pause{0};
    // Filler bytes (fillerBytes) streamed after the parts, made as they are sent.
    std::size_t streamBytes = 0;
    // Listen for no connection at all: the port is free, so a connect to it is refused.
    bool refuse = false;
    // The loopback address to listen on: "127.0.0.1" or "::1".
    std::string listenAddress = "127.0.0.1";
    // With both files (PEM), each connection is TLS: the handshake comes first, then every
    // byte above goes through it. `close` then sends close_notify; `abort` and `reset` do not.
    std::string tlsCertificateFile = {};
    std::string tlsKeyFile = {};
    // Servers as old or as narrow as some still found: what the TLS side offers.
    enum class TlsOffer {
        usual,
        tls11Only,  // TLS 1.0 and 1.1, nothing later
        dheOnly,    // TLS 1.2 with finite-field DHE suites only (needs an RSA key)
    };
    TlsOffer tlsOffer = TlsOffer::usual;
};

// A server on 127.0.0.1 (or ::1, as the script says), on a port the system picks, built on
// TcpStream's listening side. It serves one connection at a time on its own thread, records every
// byte it receives, and follows the script. Every wait is bounded, and the destructor ends a
// connection in progress.
class TestPeer {
  public:
    explicit TestPeer(PeerScript script);
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    int port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    // Waits until `count` connections have ended, then returns every byte received.
    std::string received(int count = 1);
    int connections() const { return finished_.load(); }
    // Bytes of the answer, parts and filler that the client took.
    std::size_t sent() const { return sent_.load(); }
    // What the last TLS handshake agreed on: "<protocol> <cipher>", in OpenSSL's names.
    std::string negotiated();

  private:
    void serve();
    class Channel;
    void serveOne(TcpStream& client);
    void serveOne(Channel& client);
    bool sendCounted(Channel& client, const char* bytes, std::size_t count);
    bool pauseUnlessStopped(std::chrono::milliseconds pause) const;

    PeerScript script_;
    // The TLS side's server settings, from the certificate and key files; none when they do
    // not load, or when this build has no TLS.
    struct Tls;
    static Tls* loadTls(const std::string& certificateFile, const std::string& keyFile,
                        PeerScript::TlsOffer offer);
    struct FreeTls {
        void operator()(Tls* tls) const;
    };
    std::unique_ptr<Tls, FreeTls> tls_;
    TcpStream listener_;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> finished_{0};
    std::atomic<std::size_t> sent_{0};
    std::mutex mutex_;
    std::string received_;
    std::string negotiated_;
    std::thread thread_;
};

// True when the bytes hold a whole HTTP request: the header and the body its
// Content-length names.
bool requestComplete(const std::string& bytes);

// `count` bytes of the peer's filler stream from offset `from`: 64-byte lines, each its
// number in eight digits, letters and CR LF, so a lost or repeated piece shows.
std::string fillerBytes(std::size_t from, std::size_t count);

}  // namespace tarven::test
