#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
// iphlpapi.h needs the Winsock types first.
#include <iphlpapi.h>

#include <memory>
#include <vector>

#include "platform/HostNetwork.h"

namespace tarven::platform {

// What GetAdaptersAddresses gave for one family: a list of adapters in one allocation.
using AdapterList = std::unique_ptr<IP_ADAPTER_ADDRESSES, void (*)(IP_ADAPTER_ADDRESSES*)>;
AdapterList readAdapters(ULONG family);

// Appends the IPv6 unicast addresses of the adapters, in their order, in the terms the choice
// rule reads: a duplicate-detection state other than preferred marks an address tentative,
// deprecated or failed; a random suffix marks a temporary one.
void collectIpv6Addresses(const IP_ADAPTER_ADDRESSES* adapters,
                          std::vector<Ipv6InterfaceAddress>& list);

}  // namespace tarven::platform
