#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "platform/HostNetwork.h"

namespace tarven::platform {

// The reading of one datagram of a route socket's dump answer (Linux only), apart from the
// socket, so that any bytes can be put to it.
enum class DumpPart {
    more,    // the dump goes on in further datagrams
    done,    // the dump's end was in it
    failed,  // the kernel answered with an error
};

struct LinkFlags {
    bool up = false;
    bool loopback = false;
};

// Messages of another sequence are passed over; the walk stops at the first message that does
// not fit in what is left of the datagram.
// The links of an RTM_GETLINK dump, by interface index.
DumpPart readLinkDatagram(std::span<const unsigned char> datagram, std::uint32_t sequence,
                          std::map<int, LinkFlags>& links);
// The IPv6 addresses of an RTM_GETADDR dump, appended in the datagram's order; their link
// fields are left as they are.
DumpPart readAddressDatagram(std::span<const unsigned char> datagram, std::uint32_t sequence,
                             std::vector<Ipv6InterfaceAddress>& found);

}  // namespace tarven::platform
