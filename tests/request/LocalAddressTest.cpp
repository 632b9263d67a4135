#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "request/Credentials.h"
#include "support/Fakes.h"

namespace tarven {
namespace {

struct Lookup {
    int result;
    std::string text;
};

Lookup lookUp(const platform::HostNetwork& host) {
    char area[kAddressTextSize];
    std::memset(area, 'x', sizeof area);
    const int result = localAddressText(area, host);
    return {result, area};
}

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

}  // namespace
}  // namespace tarven
