#pragma once

#include <memory>
#include <vector>

#include "platform/HostNetwork.h"

namespace tarven {

inline constexpr int kAddressTextSize = 32;

// The Base64 text (RFC 4648, padded, no line breaks) of a NUL-terminated text's bytes, for an
// "Authorization: Basic" line. None when the text is none or the result cannot be allocated.
std::unique_ptr<char[]> encodeBasicCredentials(const char* text);

// Writes this host's IPv4 address as dotted text into `area` of kAddressTextSize bytes.
// Returns 1 when an address was found; 0 otherwise, with "0.0.0.0" in the area.
// A loopback answer for the host's own name is replaced by the first address of an interface
// that is up and not loopback, when there is one: a server has no use for 127.x.
int localAddressText(char* area);
int localAddressText(char* area, const platform::HostNetwork& host);

// Room for any IPv6 address as text, with its NUL.
inline constexpr int kIpv6AddressTextSize = 46;

// The position in `list` of this host's IPv6 address, or -1 when none qualifies. Only a
// global-scope address on an interface that is up and not loopback qualifies, and not while
// it is tentative, deprecated or failed duplicate detection; link-local never. A global
// address beats a unique-local one (fc00::/7), and then a stable one a temporary one; among
// equals the first in the list wins.
int chooseIpv6Address(const std::vector<platform::Ipv6InterfaceAddress>& list);

// Writes this host's IPv6 address, chosen by chooseIpv6Address, as text into `area` of
// kIpv6AddressTextSize bytes. Returns 1 when an address was found; 0 otherwise, with "::" in
// the area. The interfaces are read afresh at every call.
int localIpv6AddressText(char* area);
int localIpv6AddressText(char* area, const platform::HostNetwork& host);

}  // namespace tarven
