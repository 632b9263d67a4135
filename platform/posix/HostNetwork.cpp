#include "platform/HostNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

namespace tarven::platform {

bool resolveIpv4(const char* name, Ipv4& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    return true;
}

bool resolveIpv6(const char* name, Ipv6& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    std::memcpy(address.bytes, &reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_addr,
                sizeof address.bytes);
    return true;
}

bool parseIpv6Literal(const char* text, Ipv6& address) {
    if (text == nullptr)
        return false;
    std::string bare(text);
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    in6_addr parsed{};
    if (::inet_pton(AF_INET6, bare.c_str(), &parsed) != 1)
        return false;
    std::memcpy(address.bytes, &parsed, sizeof address.bytes);
    return true;
}

bool formatIpv6(const Ipv6& address, char* text, int size) {
    in6_addr raw{};
    std::memcpy(&raw, address.bytes, sizeof raw);
    return size > 0 && ::inet_ntop(AF_INET6, &raw, text, static_cast<socklen_t>(size)) != nullptr;
}

bool parseDottedIpv4(const char* text, Ipv4& address) {
    const in_addr_t value = ::inet_addr(text);
    if (value == INADDR_NONE)
        return false;
    address = value;
    return true;
}

bool SystemHostNetwork::hostName(char* buffer, int size) const {
    if (size <= 0)
        return false;
    // gethostname cuts a long name silently on some systems; read into a larger area and
    // refuse a name that does not fit.
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return false;
    const std::size_t length = std::strlen(name);
    if (length + 1 > static_cast<std::size_t>(size))
        return false;
    std::memcpy(buffer, name, length + 1);
    return true;
}

bool SystemHostNetwork::resolve(const char* name, Ipv4& address) const {
    return resolveIpv4(name, address);
}

bool SystemHostNetwork::firstExternalAddress(Ipv4& address) const {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owner(list, ::freeifaddrs);
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET)
            continue;
        if ((it->ifa_flags & IFF_UP) == 0 || (it->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        address = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
        return true;
    }
    return false;
}

bool SystemHostNetwork::resolveIpv6(const char* name, Ipv6& address) const {
    return platform::resolveIpv6(name, address);
}

bool SystemHostNetwork::ipv6Addresses(std::vector<Ipv6InterfaceAddress>& list) const {
    return readIpv6InterfaceAddresses(list);
}

}  // namespace tarven::platform
