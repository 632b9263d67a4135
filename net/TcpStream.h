#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarven::platform {
class HostNetwork;
}

namespace tarven {

// Starts the socket library once per process. Linux needs no start-up; the call only records
// that it was made, so the order of calls stays the same on every platform.
void startNetworking();
bool networkingStarted();

class TlsContext;
class TlsSession;

// Why the last connectTo failed, for a person.
enum class ConnectFailure { none, nameNotFound, refused, unreachable, other };
// "name not found", "connection refused", "network unreachable", "the connection failed";
// empty for none.
const char* connectFailureText(ConnectFailure failure);

struct Timeout {
    std::int32_t seconds = 5;
    std::int32_t microseconds = 0;
};

// One TCP connection over IPv4 or IPv6. No transfer waits for ever: each send and receive first
// waits at most `timeout` for the socket to become ready and reports a time-out as a result.
// Results: -1 for failure, otherwise what each operation documents.
class TcpStream {
  public:
    TcpStream();
    // Takes an accepted socket and switches it to non-blocking mode.
    explicit TcpStream(int acceptedHandle);
    virtual ~TcpStream();
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Shuts the connection down both ways and closes it, after a close_notify when a TLS
    // session is attached. The close result; -1 when no socket was held.
    virtual int close();

    // Connects to a dotted IPv4 address, an IPv6 address (bare or in brackets) or a host name,
    // and a port read as decimal text (its low 16 bits). A name goes to its first IPv4
    // address, or to its first IPv6 address when it has no IPv4 one; `network` resolves it
    // (this machine's resolver when not given). The connect itself has no time-out. 0 when
    // connected, -1 otherwise; an unresolvable name gives -1 without creating a socket.
    int connectTo(const char* host, const char* port);
    int connectTo(const char* host, const char* port, const platform::HostNetwork& network);
    // Sends `count` bytes, or the NUL-terminated text when count is 0. The number sent; 0 for
    // nothing to send; -1 when no socket is held or a wait for writability timed out or
    // failed, even after a partial send; the number sent so far when a send fails.
    int sendAll(const char* bytes, int count, int flags);
    // Bytes received (more than 0); 0 when nothing arrived within the time-out; -1 when the
    // peer closed, on error, or when no socket is held.
    int receive(char* buffer, int size, int flags);

    // Runs a TLS handshake on the connected socket for `server`; from then on sendAll and
    // receive go through the session, with the same results and time-outs. 0 with `report`
    // set to "<protocol> <cipher>"; -1 with `report` set to the reason, the socket still open.
    int startTls(const TlsContext& context, const char* server, std::string& report);

    // Listens on all local IPv4 addresses, or on `address` when given (dotted IPv4, or IPv6
    // bare or in brackets, such as "::1"), non-blocking. 1 or -1.
    int listenOn(int port, const char* address = nullptr);
    // Accepts one peer within the time-out. Its handle, or -1. `peerAddress` (16 bytes, or
    // none) receives the peer's address as accept gives it for that length: all of an IPv4
    // sockaddr_in; of an IPv6 peer's sockaddr_in6 only the first 16 bytes (family, port, flow
    // information and half the address).
    int acceptPeer(void* peerAddress);
    // The readiness wait's result: ready sockets, 0 on time-out, -1 on failure.
    int waitReadable();
    int waitWritable();
    // The local port of the held socket, or -1.
    int localPort() const;

    std::int32_t lastResult = 0;
    ConnectFailure connectFailure = ConnectFailure::none;
    int handle = -1;
    Timeout timeout;

  private:
    std::unique_ptr<TlsSession> tls_;
    // Writes are held back from connecting until the first wait for the answer.
    bool writesHeld_ = false;
    void releaseWrites();
    enum class Readiness { readable, writable };
    int waitFor(Readiness readiness);
};

}  // namespace tarven
