// The route socket's datagram reading on arbitrary bytes, held in a buffer of exactly their
// size so that any read past them shows: every address found is sixteen bytes of the datagram,
// and the walk ends.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "FuzzCheck.h"
#include "platform/NetlinkDatagram.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto sequence = input.ConsumeIntegral<std::uint8_t>();
    const std::vector<unsigned char> datagram = input.ConsumeRemainingBytes<unsigned char>();

    std::vector<tarven::platform::Ipv6InterfaceAddress> found;
    tarven::platform::readAddressDatagram(datagram, sequence, found);
    for (const auto& entry : found) {
        const auto* bytes = entry.address.bytes;
        FUZZ_CHECK(std::search(datagram.begin(), datagram.end(), bytes, bytes + 16) !=
                   datagram.end());
    }
    // No datagram holds more messages than fit in it.
    FUZZ_CHECK(found.size() <= datagram.size() / 16);

    std::map<int, tarven::platform::LinkFlags> links;
    tarven::platform::readLinkDatagram(datagram, sequence, links);
    FUZZ_CHECK(links.size() <= datagram.size() / 16);
    return 0;
}
