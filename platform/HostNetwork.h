#pragma once

#include <cstdint>

namespace tarven::platform {

// IPv4 addresses are kept as the four bytes in network order, as they travel.
using Ipv4 = std::uint32_t;

// Resolves a host name to its first IPv4 address. False when it does not resolve.
bool resolveIpv4(const char* name, Ipv4& address);

// Reads a dotted IPv4 address ("a.b.c.d" and the shorter classic forms). False when the text is
// not one, and for the all-ones address, whose value doubles as the failure value.
bool parseDottedIpv4(const char* text, Ipv4& address);

// The host's own name and addresses; tests put a fixed host in its place.
class HostNetwork {
  public:
    virtual ~HostNetwork() = default;
    // Writes the host's own name, NUL-terminated, into `buffer` of `size` bytes. False when it
    // cannot be read or does not fit.
    virtual bool hostName(char* buffer, int size) const = 0;
    virtual bool resolve(const char* name, Ipv4& address) const = 0;
    // The first IPv4 address of an interface that is up and is not loopback.
    virtual bool firstExternalAddress(Ipv4& address) const = 0;
};

class SystemHostNetwork final : public HostNetwork {
  public:
    bool hostName(char* buffer, int size) const override;
    bool resolve(const char* name, Ipv4& address) const override;
    bool firstExternalAddress(Ipv4& address) const override;
};

}  // namespace tarven::platform
