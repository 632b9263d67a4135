#include "platform/HostNetwork.h"

#include <cstring>
#include <string>

#include "platform/win32/Adapters.h"
#include "platform/win32/Winsock.h"

namespace tarven::platform {
namespace {

// The first address of the family that the name resolves to, copied into `out`.
bool resolveFirst(const char* name, int family, void* out, std::size_t size) {
    // Windows resolves an empty name to this machine's own addresses; it names no host.
    if (name == nullptr || name[0] == 0 || !startWinsock())
        return false;
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, ::freeaddrinfo);
    if (family == AF_INET)
        std::memcpy(out, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, size);
    else
        std::memcpy(out, &reinterpret_cast<const sockaddr_in6*>(found->ai_addr)->sin6_addr, size);
    return true;
}

}  // namespace

bool startWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

bool resolveIpv4(const char* name, Ipv4& address) {
    return resolveFirst(name, AF_INET, &address, sizeof address);
}

bool resolveIpv6(const char* name, Ipv6& address) {
    return resolveFirst(name, AF_INET6, address.bytes, sizeof address.bytes);
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
    return size > 0 && ::inet_ntop(AF_INET6, &raw, text, static_cast<std::size_t>(size)) != nullptr;
}

bool parseDottedIpv4(const char* text, Ipv4& address) {
    const unsigned long value = ::inet_addr(text);
    if (value == INADDR_NONE)
        return false;
    address = static_cast<Ipv4>(value);
    return true;
}

bool SystemHostNetwork::hostName(char* buffer, int size) const {
    if (size <= 0 || !startWinsock())
        return false;
    // Read into a larger area and refuse a name that does not fit rather than cut it.
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
    const AdapterList adapters = readAdapters(AF_INET);
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters.get(); adapter != nullptr;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* found = unicast->Address.lpSockaddr;
            if (found == nullptr || found->sa_family != AF_INET)
                continue;
            address = reinterpret_cast<const sockaddr_in*>(found)->sin_addr.s_addr;
            return true;
        }
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
