// The host's IPv6 interface addresses, read from the kernel over rtnetlink: unlike getifaddrs
// it gives each address its flags (temporary, tentative, deprecated, dadfailed).

#include "platform/HostNetwork.h"

#ifdef __linux__
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#endif

namespace tarven::platform {

#ifdef __linux__
namespace {

constexpr std::size_t kReceiveSize = 64 * 1024;
// Datagrams read for one dump: far above what any real host needs, so a kernel (or a sandbox)
// that never ends its dump cannot keep the run here.
constexpr int kReadLimit = 4096;
constexpr timeval kReadTimeout{2, 0};

// A netlink route socket, closed when it goes. Every read is bounded by kReadTimeout.
class RouteSocket {
  public:
    RouteSocket() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
        if (fd_ < 0)
            return;
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &kReadTimeout, sizeof kReadTimeout) != 0 ||
            ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~RouteSocket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RouteSocket(const RouteSocket&) = delete;
    RouteSocket& operator=(const RouteSocket&) = delete;

    // Asks the kernel for a dump of `type` (with `body` as the request's payload) and hands
    // every message of the answer to `take`. False when the socket is not open, on an error
    // answer, a time-out, a cut datagram or more than kReadLimit datagrams.
    template <typename Body, typename Take>
    bool dump(std::uint16_t type, const Body& body, const Take& take) {
        if (fd_ < 0)
            return false;
        struct {
            nlmsghdr header;
            Body body;
        } request{};
        request.header.nlmsg_len = NLMSG_LENGTH(sizeof(Body));
        request.header.nlmsg_type = type;
        request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        request.header.nlmsg_seq = ++sequence_;
        request.body = body;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, &request, request.header.nlmsg_len, 0,
                     reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0)
            return false;
        std::vector<char> buffer(kReceiveSize);
        for (int reads = 0; reads < kReadLimit; ++reads) {
            iovec part{buffer.data(), buffer.size()};
            sockaddr_nl from{};
            msghdr message{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            const ssize_t got = ::recvmsg(fd_, &message, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0 || (message.msg_flags & MSG_TRUNC) != 0)
                return false;
            if (from.nl_pid != 0)
                continue;  // not from the kernel
            auto length = static_cast<unsigned>(got);
            for (auto* header = reinterpret_cast<const nlmsghdr*>(buffer.data());
                 NLMSG_OK(header, length); header = NLMSG_NEXT(header, length)) {
                if (header->nlmsg_seq != sequence_)
                    continue;
                if (header->nlmsg_type == NLMSG_DONE)
                    return true;
                if (header->nlmsg_type == NLMSG_ERROR)
                    return false;
                take(*header);
            }
        }
        return false;
    }

  private:
    int fd_;
    std::uint32_t sequence_ = 0;
};

struct LinkFlags {
    bool up = false;
    bool loopback = false;
};

bool readLinks(RouteSocket& route, std::map<int, LinkFlags>& links) {
    return route.dump(RTM_GETLINK, ifinfomsg{}, [&](const nlmsghdr& header) {
        if (header.nlmsg_type != RTM_NEWLINK || header.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
            return;
        const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(&header));
        links[info->ifi_index] = {(info->ifi_flags & IFF_UP) != 0,
                                  (info->ifi_flags & IFF_LOOPBACK) != 0};
    });
}

// One RTM_NEWADDR message as an entry; false when it is no IPv6 address.
bool readAddress(const nlmsghdr& header, Ipv6InterfaceAddress& entry) {
    if (header.nlmsg_type != RTM_NEWADDR || header.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
        return false;
    const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(&header));
    if (info->ifa_family != AF_INET6)
        return false;
    std::uint32_t flags = info->ifa_flags;  // the low eight bits; IFA_FLAGS has them all
    const void* address = nullptr;
    const void* local = nullptr;
    auto length = static_cast<unsigned>(IFA_PAYLOAD(&header));
    for (const rtattr* attribute = IFA_RTA(info); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        const std::size_t size = RTA_PAYLOAD(attribute);
        if (attribute->rta_type == IFA_ADDRESS && size == sizeof entry.address.bytes)
            address = RTA_DATA(attribute);
        else if (attribute->rta_type == IFA_LOCAL && size == sizeof entry.address.bytes)
            local = RTA_DATA(attribute);
        else if (attribute->rta_type == IFA_FLAGS && size == sizeof flags)
            std::memcpy(&flags, RTA_DATA(attribute), sizeof flags);
    }
    // On a point-to-point link IFA_ADDRESS is the peer's and IFA_LOCAL our own.
    const void* own = local != nullptr ? local : address;
    if (own == nullptr)
        return false;
    std::memcpy(entry.address.bytes, own, sizeof entry.address.bytes);
    entry.interfaceIndex = info->ifa_index;
    entry.globalScope = info->ifa_scope == RT_SCOPE_UNIVERSE;
    entry.temporary = (flags & IFA_F_TEMPORARY) != 0;
    entry.tentative = (flags & IFA_F_TENTATIVE) != 0;
    entry.deprecated = (flags & IFA_F_DEPRECATED) != 0;
    entry.dadFailed = (flags & IFA_F_DADFAILED) != 0;
    return true;
}

}  // namespace

bool readIpv6InterfaceAddresses(std::vector<Ipv6InterfaceAddress>& list) {
    RouteSocket route;
    std::map<int, LinkFlags> links;
    if (!readLinks(route, links))
        return false;
    std::vector<Ipv6InterfaceAddress> found;
    ifaddrmsg family{};
    family.ifa_family = AF_INET6;
    const bool read = route.dump(RTM_GETADDR, family, [&](const nlmsghdr& header) {
        Ipv6InterfaceAddress entry;
        if (!readAddress(header, entry))
            return;
        const auto link = links.find(static_cast<int>(entry.interfaceIndex));
        if (link != links.end()) {
            entry.interfaceUp = link->second.up;
            entry.interfaceLoopback = link->second.loopback;
        }
        found.push_back(entry);
    });
    if (!read)
        return false;
    list.insert(list.end(), found.begin(), found.end());
    return true;
}

#else

bool readIpv6InterfaceAddresses(std::vector<Ipv6InterfaceAddress>&) {
    return false;
}

#endif

}  // namespace tarven::platform
