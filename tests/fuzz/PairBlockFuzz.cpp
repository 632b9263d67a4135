// Sequences of PairBlock operations checked against a plain list of pairs that follows the
// same rules: set moves its entry to the end, lookups stop at the first entry with an empty key
// after the first one, and remove keeps only what the walk from the removed entry can reach.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "text/PairBlock.h"

namespace {

constexpr std::size_t kMaxOperations = 200;
constexpr std::size_t kMaxText = 12;

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    }
    return true;
}

class Model {
  public:
    using Entry = std::pair<std::string, std::string>;

    // Entries a walk from the first one reaches: the first, then each up to an empty key.
    std::size_t reachable() const {
        if (entries.empty())
            return 0;
        std::size_t n = 1;
        while (n < entries.size() && !entries[n].first.empty())
            ++n;
        return n;
    }

    template <typename Equal>
    std::optional<std::size_t> findWith(const std::string& key, Equal equal) const {
        for (std::size_t i = 0; i < reachable(); ++i) {
            if (equal(entries[i].first, key))
                return i;
        }
        return std::nullopt;
    }
    std::optional<std::size_t> find(const std::string& key) const {
        return findWith(key, [](const std::string& a, const std::string& b) { return a == b; });
    }
    std::optional<std::size_t> findNoCase(const std::string& key) const {
        return findWith(key, equalNoCase);
    }

    int remove(const std::string& key) {
        const auto at = find(key);
        if (!at)
            return 0;
        const bool followingReached = *at + 1 < reachable();
        std::vector<Entry> kept(entries.begin(), entries.begin() + static_cast<long>(*at));
        if (followingReached)
            kept.insert(kept.end(), entries.begin() + static_cast<long>(*at) + 1, entries.end());
        entries = std::move(kept);
        return 1;
    }

    std::int32_t set(const std::string& key, const std::string& value) {
        if (find(key))
            remove(key);
        entries.emplace_back(key, value);
        return static_cast<std::int32_t>(key.size() + value.size() + 2);
    }

    std::int32_t storedLength() const {
        std::size_t n = 0;
        for (const auto& [key, value] : entries)
            n += key.size() + value.size() + 2;
        return static_cast<std::int32_t>(n);
    }

    std::vector<Entry> entries;
};

std::string textFrom(FuzzedDataProvider& input) {
    std::string text = input.ConsumeRandomLengthString(kMaxText);
    return text.substr(0, text.find('\0'));
}

// Mostly keys from a small set, so that lookups meet, collide and differ only in case.
std::string keyFrom(FuzzedDataProvider& input) {
    static const char* const kKeys[] = {"", "a", "A", "ab", "aB", "Ab", "key", "KEY", "k\xff", "x"};
    if (input.ConsumeBool())
        return kKeys[input.ConsumeIntegralInRange<std::size_t>(0, std::size(kKeys) - 1)];
    return textFrom(input);
}

// The entry at a position the block handed out must be the model's entry `index`.
void checkEntry(tarven::PairBlock& block, const char* position, const Model& model,
                std::optional<std::size_t> index) {
    if (!index) {
        FUZZ_CHECK(position == nullptr);
        return;
    }
    FUZZ_CHECK(position != nullptr);
    FUZZ_CHECK(block.currentKey() == position);
    FUZZ_CHECK(model.entries[*index].first == block.currentKey());
    FUZZ_CHECK(model.entries[*index].second == block.currentValue());
}

void checkStorage(const tarven::PairBlock& block, const Model& model) {
    const tarven::ByteBuffer& storage = *block.storage;
    if (model.entries.empty()) {
        FUZZ_CHECK(storage.length == 0);
        return;
    }
    FUZZ_CHECK(storage.data != nullptr);
    FUZZ_CHECK(storage.length == model.storedLength());
    FUZZ_CHECK(storage.data[storage.length] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    tarven::PairBlock block;
    Model model;
    // Where the model's cursor stands; unset while the block's cursor may not be stepped.
    bool cursorUsable = false;
    std::optional<std::size_t> cursor;

    for (std::size_t step = 0; step < kMaxOperations && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange(0, 7)) {
            case 0: {
                const std::string key = keyFrom(input);
                const std::string value = textFrom(input);
                FUZZ_CHECK(block.set(key.c_str(), value.c_str()) == model.set(key, value));
                cursorUsable = false;
                break;
            }
            case 1: {
                const std::string key = keyFrom(input);
                const int removed = model.remove(key);
                FUZZ_CHECK(block.remove(key.c_str()) == removed);
                // A removal leaves the cursor on the first entry; a miss leaves it unusable.
                cursor = model.entries.empty() ? std::nullopt : std::optional<std::size_t>(0);
                cursorUsable = removed == 1;
                break;
            }
            case 2:
            case 3: {
                const std::string key = keyFrom(input);
                const bool exact = input.ConsumeBool();
                const auto found = exact ? model.find(key) : model.findNoCase(key);
                char* position = exact ? block.find(key.c_str()) : block.findNoCase(key.c_str());
                checkEntry(block, position, model, found);
                cursor = found;
                cursorUsable = found.has_value();
                break;
            }
            case 4: {
                cursor = model.entries.empty() ? std::nullopt : std::optional<std::size_t>(0);
                checkEntry(block, block.first(), model, cursor);
                cursorUsable = true;
                break;
            }
            case 5: {
                if (!cursorUsable) {
                    cursor = model.entries.empty() ? std::nullopt : std::optional<std::size_t>(0);
                    checkEntry(block, block.first(), model, cursor);
                    cursorUsable = true;
                    break;
                }
                std::optional<std::size_t> following;
                if (cursor && *cursor + 1 < model.reachable())
                    following = *cursor + 1;
                checkEntry(block, block.next(), model, following);
                cursor = following;
                cursorUsable = following.has_value();
                break;
            }
            case 6: {
                const std::string key = keyFrom(input);
                const auto found = model.findNoCase(key);
                const char* value = block.valueOfNoCase(key.c_str());
                FUZZ_CHECK((value != nullptr) == found.has_value());
                if (found)
                    FUZZ_CHECK(model.entries[*found].second == value);
                cursor = found;
                cursorUsable = found.has_value();
                break;
            }
            case 7: {
                // Set the current entry from its own key and value, which lie in the storage,
                // as the address substitution does.
                if (!cursorUsable || !cursor)
                    break;
                const std::string key = model.entries[*cursor].first;
                const bool ownValue = input.ConsumeBool();
                const std::string value =
                    ownValue ? model.entries[*cursor].second : textFrom(input);
                const std::int32_t got =
                    block.set(block.currentKey(), ownValue ? block.currentValue() : value.c_str());
                FUZZ_CHECK(got == model.set(key, value));
                cursorUsable = false;
                break;
            }
        }
        checkStorage(block, model);
    }
    return 0;
}
