#pragma once

#include <cstdint>

#include "platform/HostNetwork.h"

// The system's socket calls behind TcpStream, one backend a system. Handles are ints, -1 for
// none; every call leaves its error for lastFault.
namespace tarven::sockets {

// Starts the socket library; later calls do nothing. False when it could not start.
bool start();

// What the last failed call of this thread ran into, in the terms TcpStream acts on.
enum class Fault { none, interrupted, wouldBlock, refused, unreachable, other };
Fault lastFault();

// A peer or local address; `port` in host order.
struct Endpoint {
    bool ipv6 = false;
    std::uint16_t port = 0;
    platform::Ipv4 ipv4 = 0;
    platform::Ipv6 ipv6Address;
};

// A new stream socket of the family, blocking, not inherited by child processes; or -1.
int open(bool ipv6);
// Shuts the socket down both ways and closes it. The close result, 0 or -1.
int close(int handle);
bool setNonBlocking(int handle);
// Connects, waiting for the outcome however long it takes. 0 or -1.
int connect(int handle, const Endpoint& peer);
// Waits up to `milliseconds` for the socket to become readable or writable: 1 when it is, 0 on
// time-out, -1 on failure (interrupted by a signal: Fault::interrupted).
int wait(int handle, bool readable, int milliseconds);
// One send or receive that never blocks and never raises a signal: the count, or -1.
long send(int handle, const char* bytes, int count, int flags);
long receive(int handle, char* buffer, int size, int flags);
// Binds to `local` and listens, non-blocking; an IPv6 socket takes no IPv4 peers. 0 or -1.
int listen(int handle, const Endpoint& local);
// Accepts one waiting peer: its handle or -1. `peerAddress` (16 bytes, or none) receives the
// start of the peer's socket address.
int accept(int handle, void* peerAddress);
// The local port, or -1.
int localPort(int handle);
// Sends small writes at once.
void setNoDelay(int handle);
// Holds small writes back until `on` is cleared, so the lines of a request leave in full
// segments: the peer then wakes once for a request, not once a line. Where the system has no
// such switch it does nothing.
void holdWrites(int handle, bool on);
// A strict dotted IPv4 address (four decimal parts); false when the text is not one.
bool parseIpv4(const char* text, platform::Ipv4& address);

}  // namespace tarven::sockets
