#pragma once

#include <cstring>
#include <string>

#include "platform/Clock.h"
#include "platform/HostNetwork.h"
#include "platform/TextCodec.h"
#include "ui/MemoryEditControl.h"

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

// A host with a given name and addresses. Fields left empty make that lookup fail.
class FakeHost : public platform::HostNetwork {
  public:
    std::string name = "device";
    std::string resolvesTo = "192.0.2.7";
    std::string external;
    mutable int nameBufferSize = 0;

    bool hostName(char* buffer, int size) const override {
        nameBufferSize = size;
        if (name.empty() || name.size() + 1 > static_cast<std::size_t>(size))
            return false;
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        return true;
    }
    bool resolve(const char*, platform::Ipv4& address) const override {
        return !resolvesTo.empty() && platform::parseDottedIpv4(resolvesTo.c_str(), address);
    }
    bool firstExternalAddress(platform::Ipv4& address) const override {
        return !external.empty() && platform::parseDottedIpv4(external.c_str(), address);
    }
};

}  // namespace tarven::test
