// The host's IPv6 interface addresses, from GetAdaptersAddresses, which gives each address its
// duplicate-detection state and the origin of its suffix.

#include <cstdlib>
#include <cstring>

#include "platform/win32/Adapters.h"

namespace tarven::platform {
namespace {

void freeAdapters(IP_ADAPTER_ADDRESSES* list) {
    std::free(list);
}

bool linkOrSiteLocal(const unsigned char* bytes) {
    return bytes[0] == 0xFE && (bytes[1] & 0x80) == 0x80;  // fe80::/10 and fec0::/10
}

bool isLoopback(const unsigned char* bytes) {
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(bytes, loopback, 16) == 0;
}

}  // namespace

AdapterList readAdapters(ULONG family) {
    constexpr ULONG kFlags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    // The list may grow between the call that sizes it and the one that fills it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        AdapterList list(static_cast<IP_ADAPTER_ADDRESSES*>(std::malloc(size)), freeAdapters);
        if (!list)
            break;
        const ULONG result = ::GetAdaptersAddresses(family, kFlags, nullptr, list.get(), &size);
        if (result == NO_ERROR)
            return list;
        if (result != ERROR_BUFFER_OVERFLOW)
            break;
    }
    return AdapterList(nullptr, freeAdapters);
}

void collectIpv6Addresses(const IP_ADAPTER_ADDRESSES* adapters,
                          std::vector<Ipv6InterfaceAddress>& list) {
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr;
         adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const SOCKADDR* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET6)
                continue;
            Ipv6InterfaceAddress entry;
            std::memcpy(entry.address.bytes,
                        &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
            entry.interfaceIndex = adapter->Ipv6IfIndex;
            entry.interfaceUp = adapter->OperStatus == IfOperStatusUp;
            entry.interfaceLoopback = adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            entry.globalScope =
                !linkOrSiteLocal(entry.address.bytes) && !isLoopback(entry.address.bytes);
            entry.temporary = unicast->SuffixOrigin == IpSuffixOriginRandom;
            entry.tentative = unicast->DadState == IpDadStateTentative;
            entry.deprecated = unicast->DadState == IpDadStateDeprecated;
            entry.dadFailed =
                unicast->DadState == IpDadStateDuplicate || unicast->DadState == IpDadStateInvalid;
            list.push_back(entry);
        }
    }
}

bool readIpv6InterfaceAddresses(std::vector<Ipv6InterfaceAddress>& list) {
    const AdapterList adapters = readAdapters(AF_INET6);
    if (!adapters)
        return false;
    collectIpv6Addresses(adapters.get(), list);
    return true;
}

}  // namespace tarven::platform
