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

}  // namespace tarven
