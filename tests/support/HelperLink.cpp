#include "support/HelperLink.h"

#include <cstdint>

namespace tarven::test {
namespace {

// Far above the largest certificate a test makes, low enough that a garbled length fails.
constexpr std::uint32_t kMostBytes = 64u * 1024 * 1024;
constexpr std::uint32_t kMostFields = 65536;

void appendNumber(std::string& into, std::uint32_t number) {
    for (int shift = 24; shift >= 0; shift -= 8)
        into += static_cast<char>((number >> shift) & 0xff);
}

bool receiveExactly(TcpStream& link, char* into, std::size_t count) {
    while (count > 0) {
        const int got = link.receive(into, static_cast<int>(count < 65536 ? count : 65536), 0);
        if (got <= 0)
            return false;
        into += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

bool receiveNumber(TcpStream& link, std::uint32_t& number) {
    unsigned char bytes[4];
    if (!receiveExactly(link, reinterpret_cast<char*>(bytes), sizeof bytes))
        return false;
    number = static_cast<std::uint32_t>(bytes[0]) << 24 |
             static_cast<std::uint32_t>(bytes[1]) << 16 |
             static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    return true;
}

}  // namespace

bool sendMessage(TcpStream& link, const HelperMessage& message) {
    std::string bytes(1, message.kind);
    appendNumber(bytes, static_cast<std::uint32_t>(message.fields.size()));
    for (const std::string& field : message.fields) {
        appendNumber(bytes, static_cast<std::uint32_t>(field.size()));
        bytes += field;
    }
    return link.sendAll(bytes.data(), static_cast<int>(bytes.size()), 0) ==
           static_cast<int>(bytes.size());
}

bool receiveMessage(TcpStream& link, HelperMessage& message) {
    message = {};
    std::uint32_t count = 0;
    if (!receiveExactly(link, &message.kind, 1) || !receiveNumber(link, count) ||
        count > kMostFields)
        return false;
    std::uint32_t total = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t size = 0;
        if (!receiveNumber(link, size) || size > kMostBytes - total)
            return false;
        total += size;
        std::string field(size, '\0');
        if (!receiveExactly(link, field.data(), size))
            return false;
        message.fields.push_back(std::move(field));
    }
    return true;
}

}  // namespace tarven::test
