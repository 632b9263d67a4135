#pragma once

#include <cstdint>
#include <memory>

#include "text/ByteBuffer.h"

namespace tarven {

// An ordered list of key/value texts kept back to back in one ByteBuffer as
// key NUL value NUL ..., with a cursor for stepping through them. Setting a key moves its
// entry to the end, so the order is the order in which keys were last set.
//
// Every position and text handed out points into the storage and stays valid only until the
// next set() or remove(): remove() replaces the storage and set() may move it. Call first()
// before stepping again after either. After next() or a lookup has returned none, call first()
// or a successful lookup before next(), currentKey() or currentValue().
//
// An entry with an empty key reads as the end of the block when next() reaches it.
class PairBlock {
  public:
    PairBlock();
    virtual ~PairBlock();
    PairBlock(const PairBlock&) = delete;
    PairBlock& operator=(const PairBlock&) = delete;

    // The first entry's key, or none when no storage is held.
    char* first();
    // The following entry's key, or none at the end.
    char* next();
    char* currentKey() const;
    char* currentValue() const;

    // The entry whose key equals `key` byte for byte; none when absent.
    char* find(const char* key);
    // As find(), with A-Z equal to a-z; no other bytes fold.
    char* findNoCase(const char* key);
    char* valueOf(const char* key);
    char* valueOfNoCase(const char* key);
    // The value read as a decimal integer; 0 when absent or without digits.
    std::int32_t intValueOfNoCase(const char* key);

    // Replaces or adds the entry; it then stands last. Returns the bytes appended
    // (key length + value length + 2), or 0 when either text is none or the append failed.
    // Key and value may point into this block.
    std::int32_t set(const char* key, const char* value);
    // Deletes the entry with exactly this key and leaves the cursor on the first entry.
    // Returns 1, or 0 when there is none.
    int remove(const char* key);

    std::unique_ptr<ByteBuffer> storage;
    char* cursor = nullptr;

  private:
    template <typename Equal>
    char* findWith(const char* key, Equal equal);
};

}  // namespace tarven
