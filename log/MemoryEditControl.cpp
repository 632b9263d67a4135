#include "log/MemoryEditControl.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/TextCodec.h"

namespace tarven {
namespace {

// Text cut at the front is dropped once it is both large and most of the buffer.
constexpr std::size_t kCompactAt = 64 * 1024;

}  // namespace

MemoryEditControl::MemoryEditControl(Keep keep, std::int64_t characterLimit)
    : keep_(keep), characterLimit_(characterLimit) {}

int MemoryEditControl::lineCount() const {
    return static_cast<int>(pairs_.size()) + 1;
}

std::int64_t MemoryEditControl::lineIndex(int line) const {
    if (line == 0)
        return 0;
    if (line < 0 || static_cast<std::size_t>(line) > pairs_.size())
        return -1;
    return pairs_[static_cast<std::size_t>(line) - 1] - origin_ + 2;
}

void MemoryEditControl::setSelection(std::int64_t start, std::int64_t end) {
    start = std::clamp<std::int64_t>(start, 0, length_);
    end = std::clamp<std::int64_t>(end, 0, length_);
    selStart_ = std::min(start, end);
    selEnd_ = std::max(start, end);
}

std::int64_t MemoryEditControl::textLength() const {
    return length_;
}

std::u16string MemoryEditControl::text() const {
    return keep_ == Keep::text ? buffer_.substr(head_) : std::u16string();
}

char16_t MemoryEditControl::charAt(std::int64_t position) const {
    if (keep_ != Keep::text || position < 0 || position >= length_)
        return 0;
    return buffer_[head_ + static_cast<std::size_t>(position)];
}

std::deque<std::int64_t>::iterator MemoryEditControl::takeRange(std::int64_t n) {
    const std::int64_t a = selStart_;
    const std::int64_t b = selEnd_;
    const std::int64_t delta = n - (b - a);
    length_ += delta;
    // An append at the end touches no pair, as none starts on the last unit, and moves none.
    if (a > 0 && a == length_ - delta)
        return pairs_.end();
    // Pairs that touch the replaced range are gone; those before it stay, those after it move.
    auto lo = std::lower_bound(pairs_.begin(), pairs_.end(), a - 1 + origin_);
    auto hi = std::upper_bound(lo, pairs_.end(), b - 1 + origin_);
    auto where = pairs_.erase(lo, hi);
    if (a == 0) {
        origin_ -= delta;
    } else {
        for (auto it = where; it != pairs_.end(); ++it)
            *it += delta;
    }
    return where;
}

void MemoryEditControl::settle(std::int64_t a, std::int64_t b, std::int64_t n,
                               std::int64_t oldLength, char16_t oldLast, char16_t lastInserted) {
    if (length_ == 0) {
        last_ = 0;
    } else if (keep_ == Keep::text) {
        last_ = charAt(length_ - 1);
    } else if (n > 0 && a + n == length_) {
        last_ = lastInserted;
    } else if (b < oldLength || (n == 0 && a == b)) {
        last_ = oldLast;  // the end of the text was not touched
    } else {
        last_ = 0;  // a cut at the end, which the log never makes
    }
    selStart_ = selEnd_ = a + n;
}

void MemoryEditControl::replaceSelection(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    const std::int64_t a = selStart_;
    const std::int64_t b = selEnd_;
    const std::int64_t n = static_cast<std::int64_t>(platform::wideLength(text));
    const std::int64_t oldLength = length_;
    const char16_t oldLast = last_;

    const auto where = takeRange(n);
    const std::ptrdiff_t index = where - pairs_.begin();
    if (keep_ == Keep::text) {
        const std::size_t at = head_ + static_cast<std::size_t>(a);
        if (a == 0 && n == 0) {
            head_ += static_cast<std::size_t>(b);
        } else {
            buffer_.replace(at, static_cast<std::size_t>(b - a), text, static_cast<std::size_t>(n));
        }
        if (head_ >= kCompactAt && head_ * 2 >= buffer_.size()) {
            buffer_.erase(0, head_);
            head_ = 0;
        }
    }

    // New pairs can only stand where the inserted text meets its neighbours.
    addPairsIn(std::max<std::int64_t>(0, a - 1), a + n - 1, pairs_.begin() + index, text, a, n,
               oldLength, oldLast);
    settle(a, b, n, oldLength, oldLast, n > 0 ? text[n - 1] : 0);
}

void MemoryEditControl::replaceSelectionLines(const Utf8Text& text) {
    if (keep_ == Keep::text) {
        std::u16string wide(text.units, u'\0');
        platform::utf8ToUtf16(text.bytes, text.count, wide.data());
        MemoryEditControl::replaceSelection(wide.c_str());
        return;
    }
    const std::int64_t a = selStart_;
    const std::int64_t b = selEnd_;
    const auto n = static_cast<std::int64_t>(text.units);
    const std::int64_t oldLength = length_;
    const char16_t oldLast = last_;
    const auto where = takeRange(n);
    const bool atEnd = where == pairs_.end();

    // As addPairsIn finds them without the text: a pair the old last unit starts, then those
    // inside the bytes. CR and LF are single bytes that no sequence holds, so the units before
    // a CR are those of the bytes before it, counted from the previous pair on.
    std::vector<std::int64_t> found;
    const auto add = [&](std::int64_t pair) {
        if (atEnd)
            pairs_.push_back(pair);
        else
            found.push_back(pair);
    };
    const char* bytes = text.bytes;
    const std::size_t count = text.count;
    if (n > 0 && a > 0 && a == oldLength && oldLast == u'\r' && bytes[0] == '\n')
        add(a - 1 + origin_);
    const bool ascii = text.wellFormed && text.units == count;
    std::size_t counted = 0;
    std::int64_t units = a;
    for (const char* cr = static_cast<const char*>(std::memchr(bytes, '\r', count)); cr;) {
        const auto at = static_cast<std::size_t>(cr - bytes);
        if (at + 1 >= count)
            break;
        if (bytes[at + 1] == '\n') {
            units += ascii ? static_cast<std::int64_t>(at - counted)
                           : static_cast<std::int64_t>(
                                 platform::measureUtf8(bytes + counted, at - counted).units);
            counted = at;
            add(units + origin_);
        }
        cr = static_cast<const char*>(std::memchr(cr + 1, '\r', count - at - 1));
    }
    if (!atEnd)
        pairs_.insert(where, found.begin(), found.end());

    char16_t lastInserted = 0;
    if (count > 0) {
        const auto lastByte = static_cast<unsigned char>(bytes[count - 1]);
        // Only a CR matters here; any other unit stands for whatever the text ends in.
        lastInserted = lastByte < 0x80 ? lastByte : u'\uFFFD';
    }
    settle(a, b, n, oldLength, oldLast, lastInserted);
}

void MemoryEditControl::addPairsIn(std::int64_t from, std::int64_t to,
                                   std::deque<std::int64_t>::iterator where,
                                   const char16_t* inserted, std::int64_t insertedAt,
                                   std::int64_t insertedLength, std::int64_t oldLength,
                                   char16_t oldLast) {
    // The unit at a position of the new text: from the inserted text, or, without the text,
    // the old last unit when the insertion came at the end.
    const auto unit = [&](std::int64_t p) -> char16_t {
        if (p >= insertedAt && p < insertedAt + insertedLength)
            return inserted[p - insertedAt];
        if (keep_ == Keep::text)
            return charAt(p);
        if (p == insertedAt - 1 && insertedAt == oldLength)
            return oldLast;
        return 0;
    };
    const std::int64_t insertedEnd = insertedAt + insertedLength;
    std::vector<std::int64_t> found;
    std::int64_t p = from;
    while (p <= to && p + 1 < length_) {
        if (p >= insertedAt && p < insertedEnd) {
            // Inside the inserted text only a CR can start a pair: go straight to the next one.
            const char16_t* at = inserted + (p - insertedAt);
            const char16_t* cr = std::char_traits<char16_t>::find(
                at, static_cast<std::size_t>(insertedEnd - p), u'\r');
            if (cr == nullptr) {
                p = insertedEnd;
                continue;
            }
            p += cr - at;
            if (p > to || p + 1 >= length_)
                break;
        }
        if (unit(p) == u'\r' && unit(p + 1) == u'\n')
            found.push_back(p + origin_);
        ++p;
    }
    if (!found.empty())
        pairs_.insert(where, found.begin(), found.end());
}

void MemoryEditControl::setText(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    buffer_.clear();
    head_ = 0;
    pairs_.clear();
    origin_ = 0;
    length_ = 0;
    last_ = 0;
    selStart_ = selEnd_ = 0;
    // Its own insertion, not an override's: a control that watches edits sees one setText once.
    MemoryEditControl::replaceSelection(text);
    selStart_ = selEnd_ = 0;
}

}  // namespace tarven
