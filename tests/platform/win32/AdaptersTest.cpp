// The IPv6 choice on Windows, on hand-built adapter lists: Wine reports every address as
// preferred with a DHCP origin, so the real call can show only that it works at all.

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/win32/Adapters.h"
#include "request/Credentials.h"

namespace tarven {
namespace {

struct Address {
    const char* text;
    IP_DAD_STATE dad = IpDadStatePreferred;
    IP_SUFFIX_ORIGIN suffix = IpSuffixOriginLinkLayerAddress;
};

// Adapters with their unicast addresses, linked as GetAdaptersAddresses links them.
class AdapterBuilder {
  public:
    void add(IFTYPE type, IF_OPER_STATUS status, std::vector<Address> addresses) {
        IP_ADAPTER_ADDRESSES& adapter = adapters_.emplace_back();
        adapter.IfType = type;
        adapter.OperStatus = status;
        adapter.Ipv6IfIndex = static_cast<IF_INDEX>(adapters_.size());
        IP_ADAPTER_UNICAST_ADDRESS** link = &adapter.FirstUnicastAddress;
        for (const Address& address : addresses) {
            sockaddr_in6& socket = sockets_.emplace_back();
            socket.sin6_family = AF_INET6;
            EXPECT_EQ(::inet_pton(AF_INET6, address.text, &socket.sin6_addr), 1) << address.text;
            IP_ADAPTER_UNICAST_ADDRESS& unicast = unicasts_.emplace_back();
            unicast.Address.lpSockaddr = reinterpret_cast<SOCKADDR*>(&socket);
            unicast.Address.iSockaddrLength = sizeof socket;
            unicast.DadState = address.dad;
            unicast.SuffixOrigin = address.suffix;
            *link = &unicast;
            link = &unicast.Next;
        }
        if (adapters_.size() > 1)
            adapters_[adapters_.size() - 2].Next = &adapter;
    }

    // The text of the address the choice rule takes, or "none".
    std::string chosen() const {
        std::vector<platform::Ipv6InterfaceAddress> list;
        platform::collectIpv6Addresses(adapters_.empty() ? nullptr : &adapters_.front(), list);
        const int at = chooseIpv6Address(list);
        if (at < 0)
            return "none";
        char text[64] = {};
        platform::formatIpv6(list[static_cast<std::size_t>(at)].address, text, sizeof text);
        return text;
    }

  private:
    // Deques, so the links stay valid as entries are added.
    std::deque<IP_ADAPTER_ADDRESSES> adapters_;
    std::deque<IP_ADAPTER_UNICAST_ADDRESS> unicasts_;
    std::deque<sockaddr_in6> sockets_;
};

constexpr IFTYPE kEthernet = IF_TYPE_ETHERNET_CSMACD;

TEST(Adapters, TheChoiceReadsDadStateSuffixOriginAndTheAdapter) {
    struct Case {
        const char* name;
        std::vector<Address> addresses;
        const char* expected;
    };
    const Case cases[] = {
        {"a stable global address beats a temporary one",
         {{"2001:db8::aaaa", IpDadStatePreferred, IpSuffixOriginRandom}, {"2001:db8::1"}},
         "2001:db8::1"},
        {"a temporary global address beats a unique-local one",
         {{"fd00::1"}, {"2001:db8::aaaa", IpDadStatePreferred, IpSuffixOriginRandom}},
         "2001:db8::aaaa"},
        {"tentative, deprecated, duplicate and invalid addresses never qualify",
         {{"2001:db8::1", IpDadStateTentative},
          {"2001:db8::2", IpDadStateDeprecated},
          {"2001:db8::3", IpDadStateDuplicate},
          {"2001:db8::4", IpDadStateInvalid},
          {"fd00::5"}},
         "fd00::5"},
        {"link-local and site-local addresses never qualify", {{"fe80::1"}, {"fec0::1"}}, "none"},
        {"a DHCP address is as good as any",
         {{"2001:db8::9", IpDadStatePreferred, IpSuffixOriginOther}},
         "2001:db8::9"},
    };
    for (const Case& c : cases) {
        AdapterBuilder adapters;
        adapters.add(kEthernet, IfOperStatusUp, c.addresses);
        EXPECT_EQ(adapters.chosen(), c.expected) << c.name;
    }
}

TEST(Adapters, LoopbackAndDownAdaptersAreSkipped) {
    AdapterBuilder adapters;
    adapters.add(IF_TYPE_SOFTWARE_LOOPBACK, IfOperStatusUp, {{"::1"}, {"2001:db8::1"}});
    adapters.add(kEthernet, IfOperStatusDown, {{"2001:db8::2"}});
    EXPECT_EQ(adapters.chosen(), "none");
    adapters.add(kEthernet, IfOperStatusUp, {{"2001:db8::3"}});
    EXPECT_EQ(adapters.chosen(), "2001:db8::3");
    EXPECT_EQ(AdapterBuilder().chosen(), "none");
}

TEST(Adapters, TheRealListLeavesLoopbackOut) {
    std::vector<platform::Ipv6InterfaceAddress> list;
    ASSERT_TRUE(platform::readIpv6InterfaceAddresses(list));
    for (const platform::Ipv6InterfaceAddress& entry : list) {
        static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        if (std::memcmp(entry.address.bytes, loopback, 16) == 0) {
            EXPECT_TRUE(entry.interfaceLoopback);
        }
    }
    const int at = chooseIpv6Address(list);
    if (at >= 0) {
        EXPECT_FALSE(list[static_cast<std::size_t>(at)].interfaceLoopback);
    }
}

}  // namespace
}  // namespace tarven
