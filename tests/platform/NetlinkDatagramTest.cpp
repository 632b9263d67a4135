// The route socket's datagram reading on crafted datagrams.

#include "platform/NetlinkDatagram.h"

#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>

namespace tarven::platform {
namespace {

constexpr std::uint32_t kSequence = 7;

void put(unsigned char* at, const auto& value) {
    std::memcpy(at, &value, sizeof value);
}

// Writes an RTM_NEWADDR message for the address ::`last` at `at`, with one more attribute of
// `extra` payload bytes after its IFA_ADDRESS when `extra` is not 0. Returns its length.
std::uint32_t putAddress(unsigned char* at, unsigned char last, std::uint16_t extra = 0) {
    const std::uint32_t length =
        NLMSG_LENGTH(sizeof(ifaddrmsg)) + RTA_LENGTH(16) + (extra ? RTA_LENGTH(extra) : 0);
    put(at, nlmsghdr{length, RTM_NEWADDR, 0, kSequence, 0});
    ifaddrmsg info{};
    info.ifa_family = AF_INET6;
    put(at + NLMSG_HDRLEN, info);
    unsigned char* attribute = at + NLMSG_LENGTH(sizeof(ifaddrmsg));
    put(attribute, rtattr{RTA_LENGTH(16), IFA_ADDRESS});
    attribute[RTA_LENGTH(16) - 1] = last;
    if (extra != 0)
        put(attribute + RTA_LENGTH(16), rtattr{static_cast<unsigned short>(RTA_LENGTH(extra)), 99});
    return length;
}

// A last message or attribute whose length is no multiple of four must end the walk there. The
// bytes after the datagram hold what a walk past its end would take for a second address.
TEST(NetlinkDatagram, AnUnalignedLengthAtTheEndEndsTheWalk) {
    alignas(4) unsigned char message[256] = {};
    const std::uint32_t cutAttribute = putAddress(message, 1, 1);
    put(message + NLMSG_ALIGN(cutAttribute), rtattr{RTA_LENGTH(16), IFA_LOCAL});
    message[NLMSG_ALIGN(cutAttribute) + RTA_LENGTH(16) - 1] = 9;

    alignas(4) unsigned char messages[256] = {};
    const std::uint32_t first = putAddress(messages, 1);
    put(messages + first, nlmsghdr{NLMSG_HDRLEN + 1, RTM_NEWADDR, 0, kSequence, 0});
    putAddress(messages + first + NLMSG_ALIGN(NLMSG_HDRLEN + 1), 9);

    for (const std::span<const unsigned char> datagram :
         {std::span<const unsigned char>(message, NLMSG_ALIGN(cutAttribute)),
          std::span<const unsigned char>(messages, first + NLMSG_HDRLEN + 1)}) {
        std::vector<Ipv6InterfaceAddress> found;
        EXPECT_EQ(readAddressDatagram(datagram, kSequence, found), DumpPart::more);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].address.bytes[15], 1);
    }
}

}  // namespace
}  // namespace tarven::platform
