#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SystemSockets.h"
#include "request/Credentials.h"
#include "request/LocalAddressLookup.h"
#include "support/Fakes.h"

namespace tarven {
namespace {

using test::Lookup;
using test::lookUp;
using test::lookUpIpv6;

TEST(LocalAddressText, WritesTheFirstResolvedAddress) {
    test::FakeHost host;
    host.resolvesTo = "203.0.113.254";
    const Lookup found = lookUp(host);
    EXPECT_EQ(found.result, 1);
    EXPECT_EQ(found.text, "203.0.113.254");
    EXPECT_EQ(host.nameBufferSize, 32);  // a name of 32 bytes or more does not fit
}

TEST(LocalAddressText, FailuresGiveZeroAndTheNullAddress) {
    test::FakeHost noName;
    noName.name.clear();
    test::FakeHost longName;
    longName.name = std::string(32, 'h');
    test::FakeHost unresolved;
    unresolved.resolvesTo.clear();
    for (const test::FakeHost* host : {&noName, &longName, &unresolved}) {
        const Lookup failed = lookUp(*host);
        EXPECT_EQ(failed.result, 0);
        EXPECT_EQ(failed.text, "0.0.0.0");
    }
}

TEST(LocalAddressText, ALoopbackAnswerGivesWayToAnExternalInterface) {
    test::FakeHost host;
    host.resolvesTo = "127.0.1.1";
    host.external = "198.51.100.9";
    EXPECT_EQ(lookUp(host).text, "198.51.100.9");

    host.external.clear();  // nothing better: keep what the name resolved to
    const Lookup kept = lookUp(host);
    EXPECT_EQ(kept.result, 1);
    EXPECT_EQ(kept.text, "127.0.1.1");

    host.resolvesTo = "10.1.2.3";  // not loopback: used as it is
    host.external = "198.51.100.9";
    EXPECT_EQ(lookUp(host).text, "10.1.2.3");
}

TEST(LocalAddressText, ThisMachineGivesADottedAddress) {
    const Lookup found = lookUp(platform::SystemHostNetwork());
    in_addr parsed{};
    ASSERT_EQ(::inet_pton(AF_INET, found.text.c_str(), &parsed), 1) << found.text;
    platform::Ipv4 external = 0;
    if (found.result == 1 && platform::SystemHostNetwork().firstExternalAddress(external)) {
        EXPECT_NE(found.text.rfind("127.", 0), 0u) << "a loopback address was reported";
    }
}

using Address = platform::Ipv6InterfaceAddress;

// A global address of an up interface with index 2; `change` adjusts it.
template <typename Change>
Address address(const char* text, Change change) {
    Address entry;
    EXPECT_TRUE(platform::parseIpv6Literal(text, entry.address)) << text;
    entry.interfaceIndex = 2;
    entry.interfaceUp = true;
    entry.globalScope = true;
    change(entry);
    return entry;
}
Address address(const char* text) {
    return address(text, [](Address&) {});
}

TEST(LocalIpv6AddressText, ChoosesByScopeStateAndKind) {
    const auto temporary = [](Address& a) { a.temporary = true; };
    const auto deprecated = [](Address& a) { a.deprecated = true; };
    const auto tentative = [](Address& a) { a.tentative = true; };
    const auto dadFailed = [](Address& a) { a.dadFailed = true; };
    const auto linkScope = [](Address& a) { a.globalScope = false; };
    const auto down = [](Address& a) { a.interfaceUp = false; };
    const auto loopback = [](Address& a) { a.interfaceLoopback = true; };
    const auto onInterface = [](unsigned index) {
        return [index](Address& a) { a.interfaceIndex = index; };
    };
    struct Case {
        const char* what;
        std::vector<Address> list;
        const char* chosen;  // "::" when none qualifies
    };
    const Case cases[] = {
        {"stable over temporary",
         {address("2001:db8::7", temporary), address("2001:db8::5")},
         "2001:db8::5"},
        {"temporary when it is the only global one",
         {address("fd00::1"), address("2001:db8::7", temporary)},
         "2001:db8::7"},
        {"deprecated, tentative and dadfailed never",
         {address("2001:db8::1", deprecated), address("2001:db8::2", tentative),
          address("2001:db8::3", dadFailed), address("2001:db8::4", temporary)},
         "2001:db8::4"},
        {"unique-local only: stable over temporary",
         {address("fd12::1", temporary), address("fc00::2"), address("fe80::1", linkScope)},
         "fc00::2"},
        {"link-local only", {address("fe80::1", linkScope), address("fe80::2")}, "::"},
        {"loopback and down interfaces never",
         {address("::1", loopback), address("2001:db8::1", loopback), address("2001:db8::2", down)},
         "::"},
        {"several interfaces: the first in kernel order",
         {address("fd00::9", onInterface(2)), address("2001:db8:3::1", onInterface(3)),
          address("2001:db8:4::1", onInterface(4)), address("2001:db8:3::2", onInterface(3))},
         "2001:db8:3::1"},
        {"written as inet_ntop does", {address("2001:0DB8:0:0:1:0:0:1")}, "2001:db8::1:0:0:1"},
        {"nothing at all", {}, "::"},
    };
    for (const Case& c : cases) {
        test::FakeHost host;
        host.interfaces = c.list;
        const Lookup found = lookUpIpv6(host);
        EXPECT_EQ(found.text, c.chosen) << c.what;
        EXPECT_EQ(found.result, std::string(c.chosen) == "::" ? 0 : 1) << c.what;
    }
    test::FakeHost unreadable;
    unreadable.interfacesReadable = false;
    const Lookup failed = lookUpIpv6(unreadable);
    EXPECT_EQ(failed.result, 0);
    EXPECT_EQ(failed.text, "::");
}

}  // namespace
}  // namespace tarven
