#include "text/PairBlock.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "text/Decimal.h"

namespace tarven {
namespace {

bool equalExact(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (foldAscii(*a) != foldAscii(*b))
            return false;
    }
    return *a == *b;
}

}  // namespace

PairBlock::PairBlock() : storage(std::make_unique<ByteBuffer>()) {}

PairBlock::~PairBlock() = default;

char* PairBlock::first() {
    cursor = storage->data;
    return cursor;
}

char* PairBlock::next() {
    if (cursor == nullptr)
        return nullptr;
    // A cursor resting on the block's final NUL has nothing after it to read.
    if (cursor >= storage->data + storage->length)
        return nullptr;
    char* p = cursor + std::strlen(cursor) + 1;
    if (*p == 0 && p[1] == 0)
        return nullptr;
    p += std::strlen(p) + 1;
    cursor = p;
    return *p == 0 ? nullptr : p;
}

char* PairBlock::currentKey() const {
    return cursor;
}

char* PairBlock::currentValue() const {
    return cursor == nullptr ? nullptr : cursor + std::strlen(cursor) + 1;
}

template <typename Equal>
char* PairBlock::findWith(const char* key, Equal equal) {
    if (key == nullptr)
        return nullptr;
    for (char* p = first(); p != nullptr; p = next()) {
        if (equal(p, key)) {
            cursor = p;
            return p;
        }
    }
    return nullptr;
}

char* PairBlock::find(const char* key) {
    return findWith(key, equalExact);
}

char* PairBlock::findNoCase(const char* key) {
    return findWith(key, equalNoCase);
}

char* PairBlock::valueOf(const char* key) {
    return find(key) ? currentValue() : nullptr;
}

char* PairBlock::valueOfNoCase(const char* key) {
    return findNoCase(key) ? currentValue() : nullptr;
}

std::int32_t PairBlock::intValueOfNoCase(const char* key) {
    const char* value = valueOfNoCase(key);
    return value ? parseDecimal(value) : 0;
}

std::int32_t PairBlock::set(const char* key, const char* value) {
    if (key == nullptr || value == nullptr)
        return 0;
    const std::size_t keyLength = std::strlen(key);
    const std::size_t valueLength = std::strlen(value);
    const std::size_t size = keyLength + valueLength + 2;
    if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    // The piece is built before any removal, because key and value may live in the storage.
    const std::unique_ptr<char, decltype(&std::free)> piece(
        static_cast<char*>(std::calloc(1, size)), std::free);
    if (!piece)
        return 0;
    std::memcpy(piece.get(), key, keyLength);
    std::memcpy(piece.get() + keyLength + 1, value, valueLength);
    if (find(piece.get()) != nullptr)
        remove(piece.get());
    return storage->append(piece.get(), static_cast<std::int32_t>(size));
}

int PairBlock::remove(const char* key) {
    char* const p = find(key);
    if (p == nullptr)
        return 0;
    char* const start = storage->data;
    char* const end = storage->data + storage->length;
    auto fresh = std::make_unique<ByteBuffer>();
    char* const following = next();
    const auto span = [](const char* from, const char* to) {
        return static_cast<std::int32_t>(to - from);
    };
    if (p == start) {
        if (following)
            fresh->append(following, span(following, end));
    } else if (following) {
        fresh->append(start, span(start, p));
        fresh->append(following, span(following, end));
    } else {
        fresh->append(start, span(start, p));
    }
    storage = std::move(fresh);
    first();
    return 1;
}

}  // namespace tarven
