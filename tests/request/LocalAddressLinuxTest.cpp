// This machine's IPv6 address checked against what iproute2 shows, and the kernel's address
// flags in a network namespace: both Linux's own.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "request/LocalAddressLookup.h"
#include "support/Process.h"

namespace tarven {
namespace {

using test::Lookup;
using test::lookUpIpv6;

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
