#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/HostNetwork.h"
#include "platform/TextCodec.h"
#include "log/MemoryEditControl.h"

namespace tarven::test {

// A window whose only control is an in-memory log.
class MemoryWindow : public Window {
  public:
    EditControl* findControl(int id) override { return id == kLogControlId ? &log : nullptr; }
    // The log as UTF-8, for comparing with expected transcripts.
    std::string text() const {
        const std::u16string wide = log.text();
        return platform::utf16ToUtf8(wide.data(), wide.size());
    }
    MemoryEditControl log;
};

class FixedClock : public platform::Clock {
  public:
    platform::LocalTime now() const override { return {2026, 3, 4, 5, 6, 7}; }
};
inline constexpr char kFixedDateLine[] = "2026/03/04:05:06:07\r\n";

// A host with a given name and addresses. Fields left empty make that lookup fail. Its own name
// resolves to `resolvesTo`; a name in `names` to that address text alone (IPv4 or IPv6); any
// other name as on this machine.
class FakeHost : public platform::HostNetwork {
  public:
    std::string name = "device";
    std::string resolvesTo = "192.0.2.7";
    std::string external;
    std::map<std::string, std::string> names;
    std::vector<platform::Ipv6InterfaceAddress> interfaces;
    bool interfacesReadable = true;
    mutable int nameBufferSize = 0;

    bool hostName(char* buffer, int size) const override {
        nameBufferSize = size;
        if (name.empty() || name.size() + 1 > static_cast<std::size_t>(size))
            return false;
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        return true;
    }
    bool resolve(const char* asked, platform::Ipv4& address) const override {
        if (asked == name)
            return !resolvesTo.empty() && platform::parseDottedIpv4(resolvesTo.c_str(), address);
        const auto known = names.find(asked);
        if (known != names.end())
            return platform::parseDottedIpv4(known->second.c_str(), address);
        return platform::resolveIpv4(asked, address);
    }
    bool firstExternalAddress(platform::Ipv4& address) const override {
        return !external.empty() && platform::parseDottedIpv4(external.c_str(), address);
    }
    bool resolveIpv6(const char* asked, platform::Ipv6& address) const override {
        const auto known = names.find(asked);
        if (known != names.end())
            return platform::parseIpv6Literal(known->second.c_str(), address);
        return platform::resolveIpv6(asked, address);
    }
    bool ipv6Addresses(std::vector<platform::Ipv6InterfaceAddress>& list) const override {
        if (!interfacesReadable)
            return false;
        list.insert(list.end(), interfaces.begin(), interfaces.end());
        return true;
    }
};

}  // namespace tarven::test
