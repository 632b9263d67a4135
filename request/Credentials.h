#pragma once

#include <memory>

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

}  // namespace tarven
