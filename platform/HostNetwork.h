#pragma once

#include <cstdint>
#include <vector>

namespace tarven::platform {

// IPv4 addresses are kept as the four bytes in network order, as they travel.
using Ipv4 = std::uint32_t;

// An IPv6 address: its sixteen bytes in network order.
struct Ipv6 {
    unsigned char bytes[16] = {};
};

// Resolves a host name to its first IPv4 address. False when it does not resolve.
bool resolveIpv4(const char* name, Ipv4& address);
// Resolves a host name to its first IPv6 address. False when it has none.
bool resolveIpv6(const char* name, Ipv6& address);

// Reads a dotted IPv4 address ("a.b.c.d" and the shorter classic forms). False when the text is
// not one, and for the all-ones address, whose value doubles as the failure value.
bool parseDottedIpv4(const char* text, Ipv4& address);
// Reads an IPv6 address, bare ("2001:db8::1") or in one pair of brackets ("[::1]"). False when
// the text is not one.
bool parseIpv6Literal(const char* text, Ipv6& address);

// Writes the address as RFC 5952 text (as inet_ntop writes it) into `text` of `size` bytes.
// False when it does not fit.
bool formatIpv6(const Ipv6& address, char* text, int size);

// One IPv6 address of an interface, with what the kernel says about it and its interface.
struct Ipv6InterfaceAddress {
    Ipv6 address;
    unsigned interfaceIndex = 0;
    bool interfaceUp = false;
    bool interfaceLoopback = false;
    bool globalScope = false;  // the kernel's "global" scope, unique-local addresses included
    bool temporary = false;    // a privacy address
    bool tentative = false;    // duplicate detection still running
    bool deprecated = false;   // its preferred lifetime has run out
    bool dadFailed = false;    // duplicate detection found it in use elsewhere
};

// Appends the host's IPv6 interface addresses, in the kernel's order, to `list`. False when
// the list could not be read; `list` then holds nothing new.
bool readIpv6InterfaceAddresses(std::vector<Ipv6InterfaceAddress>& list);

// The host's own name and addresses, and name resolution; tests put a fixed host in its place.
class HostNetwork {
  public:
    virtual ~HostNetwork() = default;
    // Writes the host's own name, NUL-terminated, into `buffer` of `size` bytes. False when it
    // cannot be read or does not fit.
    virtual bool hostName(char* buffer, int size) const = 0;
    virtual bool resolve(const char* name, Ipv4& address) const = 0;
    // The first IPv4 address of an interface that is up and is not loopback.
    virtual bool firstExternalAddress(Ipv4& address) const = 0;
    // The first IPv6 address of a name. A host that does not override it has none.
    virtual bool resolveIpv6(const char* /*name*/, Ipv6& /*address*/) const { return false; }
    // The IPv6 interface addresses, as readIpv6InterfaceAddresses. A host that does not
    // override it cannot read them.
    virtual bool ipv6Addresses(std::vector<Ipv6InterfaceAddress>& /*list*/) const { return false; }
};

class SystemHostNetwork final : public HostNetwork {
  public:
    bool hostName(char* buffer, int size) const override;
    bool resolve(const char* name, Ipv4& address) const override;
    bool firstExternalAddress(Ipv4& address) const override;
    bool resolveIpv6(const char* name, Ipv6& address) const override;
    bool ipv6Addresses(std::vector<Ipv6InterfaceAddress>& list) const override;
};

}  // namespace tarven::platform
