#include "text/ByteBuffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace tarven {
namespace {

std::int64_t blocksFor(std::int64_t bytes, std::int64_t blockSize) {
    return (bytes + blockSize - 1) / blockSize;
}

}  // namespace

ByteBuffer::~ByteBuffer() {
    std::free(data);
}

int ByteBuffer::clear() {
    std::free(data);
    data = nullptr;
    length = 0;
    return 0;
}

bool ByteBuffer::isEmpty() const {
    return data == nullptr;
}

std::int32_t ByteBuffer::append(const void* bytes, std::int32_t count) {
    if (count <= 0 || bytes == nullptr)
        return 0;
    if (data == nullptr) {
        data = static_cast<char*>(std::calloc(1, static_cast<std::size_t>(blockSize)));
        if (data == nullptr)
            return 0;
        length = 0;
    }
    const std::int64_t needed = blocksFor(std::int64_t{length} + count + 1, blockSize);
    const std::int64_t held = blocksFor(std::int64_t{length} + 1, blockSize);
    if (needed > held) {
        // A size past 32 bits fails like a failed allocation.
        const std::int64_t size = needed * blockSize;
        if (size > std::numeric_limits<std::int32_t>::max())
            return 0;
        void* grown = std::realloc(data, static_cast<std::size_t>(size));
        if (grown == nullptr)
            return 0;
        data = static_cast<char*>(grown);
    }
    std::memcpy(data + length, bytes, static_cast<std::size_t>(count));
    length += count;
    data[length] = 0;
    return count;
}

std::int32_t ByteBuffer::appendText(const char* text) {
    if (text == nullptr)
        return 0;
    const std::size_t n = std::strlen(text);
    if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    return append(text, static_cast<std::int32_t>(n));
}

}  // namespace tarven
