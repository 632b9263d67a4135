#include <cstdio>
#include <cstring>

#include "request/Credentials.h"

namespace tarven {
namespace {

constexpr int kHostNameSize = 32;

bool isLoopback(platform::Ipv4 address) {
    return (reinterpret_cast<const unsigned char*>(&address)[0]) == 127;
}

void writeDotted(char* area, platform::Ipv4 address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(area, kAddressTextSize, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
}

bool isUniqueLocal(const platform::Ipv6& address) {
    return (address.bytes[0] & 0xFE) == 0xFC;
}

bool isLinkLocal(const platform::Ipv6& address) {
    return address.bytes[0] == 0xFE && (address.bytes[1] & 0xC0) == 0x80;
}

// Lower is better; -1 for an address that never qualifies.
int rank(const platform::Ipv6InterfaceAddress& entry) {
    if (!entry.interfaceUp || entry.interfaceLoopback || !entry.globalScope ||
        isLinkLocal(entry.address) || entry.tentative || entry.deprecated || entry.dadFailed)
        return -1;
    return (isUniqueLocal(entry.address) ? 2 : 0) + (entry.temporary ? 1 : 0);
}

}  // namespace

int localAddressText(char* area) {
    return localAddressText(area, platform::SystemHostNetwork());
}

int localAddressText(char* area, const platform::HostNetwork& host) {
    std::memset(area, 0, kAddressTextSize);
    std::strcpy(area, "0.0.0.0");
    char name[kHostNameSize] = {};
    if (!host.hostName(name, kHostNameSize) || name[0] == 0)
        return 0;
    platform::Ipv4 address = 0;
    if (!host.resolve(name, address))
        return 0;
    platform::Ipv4 external = 0;
    if (isLoopback(address) && host.firstExternalAddress(external))
        address = external;
    writeDotted(area, address);
    return 1;
}

int chooseIpv6Address(const std::vector<platform::Ipv6InterfaceAddress>& list) {
    int best = -1;
    int bestRank = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const int r = rank(list[i]);
        if (r >= 0 && (best == -1 || r < bestRank)) {
            best = static_cast<int>(i);
            bestRank = r;
        }
    }
    return best;
}

int localIpv6AddressText(char* area) {
    return localIpv6AddressText(area, platform::SystemHostNetwork());
}

int localIpv6AddressText(char* area, const platform::HostNetwork& host) {
    std::memset(area, 0, kIpv6AddressTextSize);
    std::strcpy(area, "::");
    std::vector<platform::Ipv6InterfaceAddress> list;
    if (!host.ipv6Addresses(list))
        return 0;
    const int chosen = chooseIpv6Address(list);
    if (chosen < 0 || !platform::formatIpv6(list[static_cast<std::size_t>(chosen)].address, area,
                                            kIpv6AddressTextSize)) {
        std::memset(area, 0, kIpv6AddressTextSize);
        std::strcpy(area, "::");
        return 0;
    }
    return 1;
}

}  // namespace tarven
