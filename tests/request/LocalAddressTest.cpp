#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>

#include <unistd.h>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "request/Credentials.h"
#include "support/Fakes.h"
#include "support/Process.h"

namespace tarven {
namespace {

struct Lookup {
    int result;
    std::string text;
};

enum class Family { ipv4, ipv6 };

Lookup lookUp(const platform::HostNetwork& host, Family family = Family::ipv4) {
    char area[kIpv6AddressTextSize];
    std::memset(area, 'x', sizeof area);
    const int result =
        family == Family::ipv4 ? localAddressText(area, host) : localIpv6AddressText(area, host);
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

Lookup lookUpIpv6(const platform::HostNetwork& host) {
    return lookUp(host, Family::ipv6);
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

std::string ipCommand() {
    for (const char* path : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (::access(path, X_OK) == 0)
            return path;
    }
    return "";
}

bool hasWord(const std::string& line, const char* word) {
    std::istringstream words(line);
    for (std::string w; words >> w;) {
        if (w == word)
            return true;
    }
    return false;
}

// Read from what `ip` shows, so the kernel's answer is checked by another reader: the first
// global address of an up, non-loopback interface that is usable, global before unique-local,
// stable before temporary.
TEST(LocalIpv6AddressText, ThisMachineGivesWhatIpShows) {
    const std::string ip = ipCommand();
    if (ip.empty())
        GTEST_SKIP() << "iproute2 is not installed";
    const test::ProcessResult links = test::runProcess({ip, "-o", "link", "show"});
    const test::ProcessResult addresses = test::runProcess({ip, "-6", "-o", "addr", "show", "up"});
    ASSERT_EQ(links.exitCode, 0);
    ASSERT_EQ(addresses.exitCode, 0);
    std::set<std::string> loopbacks;
    std::istringstream linkLines(links.out);
    for (std::string line; std::getline(linkLines, line);) {
        std::istringstream words(line);
        std::string index, name;
        words >> index >> name;
        if (line.find("LOOPBACK") != std::string::npos)
            loopbacks.insert(name.substr(0, name.find_first_of(":@")));
    }
    std::string expected = "::";
    int expectedRank = 4;
    std::istringstream addressLines(addresses.out);
    for (std::string line; std::getline(addressLines, line);) {
        std::istringstream words(line);
        std::string index, name, family, text;
        words >> index >> name >> family >> text;
        text = text.substr(0, text.find('/'));
        if (loopbacks.count(name) != 0 || line.find(" scope global ") == std::string::npos ||
            hasWord(line, "tentative") || hasWord(line, "deprecated") || hasWord(line, "dadfailed"))
            continue;
        const bool uniqueLocal = text.rfind("fc", 0) == 0 || text.rfind("fd", 0) == 0;
        const int rank = (uniqueLocal ? 2 : 0) + (hasWord(line, "temporary") ? 1 : 0);
        if (rank < expectedRank) {
            expected = text;
            expectedRank = rank;
        }
    }
    const Lookup found = lookUpIpv6(platform::SystemHostNetwork());
    EXPECT_EQ(found.text, expected) << addresses.out;
    EXPECT_EQ(found.result, expected == "::" ? 0 : 1);
}

// In a network namespace of its own, so the addresses can be made: a deprecated one, a
// tentative one (its link has no carrier, so detection never ends) and a unique-local one,
// then a usable global one. The kernel's flags must come through.
TEST(LocalIpv6AddressText, ReadsTheKernelsFlagsInANamespaceOfItsOwn) {
    const std::string ip = ipCommand();
    if (ip.empty())
        GTEST_SKIP() << "iproute2 is not installed";
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ends[0]);
        std::string out = "no network namespace";
        if (::unshare(CLONE_NEWNET) == 0) {
            const std::vector<std::vector<std::string>> setup = {
                {ip, "link", "add", "v0", "type", "veth", "peer", "name", "v1"},
                {ip, "link", "set", "v0", "up"},
                {ip, "-6", "addr", "add", "2001:db8::7/64", "dev", "v0", "nodad", "preferred_lft",
                 "0"},
                {ip, "-6", "addr", "add", "2001:db8::8/64", "dev", "v0"},
                {ip, "-6", "addr", "add", "fd00::1/64", "dev", "v0", "nodad"},
            };
            bool made = true;
            for (const auto& command : setup)
                made = made && test::runProcess(command).exitCode == 0;
            const std::string first = lookUpIpv6(platform::SystemHostNetwork()).text;
            made = made && test::runProcess(
                               {ip, "-6", "addr", "add", "2001:db8::9/64", "dev", "v0", "nodad"})
                                   .exitCode == 0;
            const std::string second = lookUpIpv6(platform::SystemHostNetwork()).text;
            out = made ? first + " " + second : "the addresses could not be made";
        }
        const ssize_t written = ::write(ends[1], out.data(), out.size());
        ::_exit(written == static_cast<ssize_t>(out.size()) ? 0 : 1);
    }
    ::close(ends[1]);
    std::string out;
    char buffer[256];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(got));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (out == "no network namespace" || out == "the addresses could not be made")
        GTEST_SKIP() << out;
    EXPECT_EQ(out, "fd00::1 2001:db8::9");
}

}  // namespace
}  // namespace tarven
