#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "support/TestPeer.h"

// The parts of the test peer that depend on the system: its TLS side and the abortive close.
namespace tarven::test {

inline constexpr Timeout kPollStep{0, 100 * 1000};
inline constexpr auto kIdleLimit = std::chrono::seconds(30);

// One accepted connection, plain or TLS, as the script sees it.
class TestPeer::Channel {
  public:
    Channel(TcpStream& stream, const Tls* tls);
    ~Channel();
    bool tls() const { return session_ != nullptr; }
    TcpStream& stream() { return stream_; }

    // False when the handshake failed or the client stayed silent too long.
    bool handshake(const std::atomic<bool>& stop);
    // "<protocol> <cipher>" after the handshake, in OpenSSL's names.
    std::string negotiated() const;
    // Bytes received; 0 when nothing came within the poll step; -1 when the client closed.
    int receive(char* buffer, int size);
    int send(const char* bytes, int count);
    // The orderly end of what the peer sends: close_notify first over TLS.
    void endWrites();

  private:
    struct Session;
    TcpStream& stream_;
    std::unique_ptr<Session> session_;
};

// Keeps a client that gives up mid-handshake from raising SIGPIPE in the peer's thread.
void blockBrokenPipeSignal();

// Whether the tests run under Wine, whose Schannel has limits of its own.
bool runningUnderWine();

// Closes the connection with a reset (RST) instead of an orderly end.
void closeWithReset(TcpStream& stream);

}  // namespace tarven::test
