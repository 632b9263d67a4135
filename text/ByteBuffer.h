#pragma once

#include <cstdint>

namespace tarven {

inline constexpr std::int32_t kBlockSize = 512;

// Growable bytes in whole blocks. A NUL always follows the content, so `data` can be read as
// one text. Readers use `data` and `length` directly.
class ByteBuffer {
  public:
    ByteBuffer() = default;
    virtual ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    // Releases the storage; `data` is none and `length` 0 afterwards. Returns 0.
    virtual int clear();
    // True when no storage is held.
    virtual bool isEmpty() const;

    // Adds `count` bytes after the content and returns count. Returns 0 and changes nothing
    // when count is 0 or negative, bytes is none, the storage cannot be obtained or grown, or
    // the new size would not fit 32 bits. The bytes must not lie inside this buffer.
    std::int32_t append(const void* bytes, std::int32_t count);
    // append() of a NUL-terminated text without its NUL; 0 for none.
    std::int32_t appendText(const char* text);

    char* data = nullptr;
    std::int32_t length = 0;
    std::int32_t blockSize = kBlockSize;
};

}  // namespace tarven
