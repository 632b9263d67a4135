#pragma once

#include <cstring>
#include <string>

#include "request/Credentials.h"

namespace tarven::test {

struct Lookup {
    int result;
    std::string text;
};

enum class Family { ipv4, ipv6 };

inline Lookup lookUp(const platform::HostNetwork& host, Family family = Family::ipv4) {
    char area[kIpv6AddressTextSize];
    std::memset(area, 'x', sizeof area);
    const int result =
        family == Family::ipv4 ? localAddressText(area, host) : localIpv6AddressText(area, host);
    return {result, area};
}

inline Lookup lookUpIpv6(const platform::HostNetwork& host) {
    return lookUp(host, Family::ipv6);
}

}  // namespace tarven::test
