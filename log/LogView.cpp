#include "log/LogView.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/TextCodec.h"

namespace tarven {
namespace {

void cutFront(EditControl& log, std::int64_t count) {
    log.setSelection(0, count);
    log.replaceSelection(u"");
}

// The append with its trimming (LogView.h): `units` gives the text's length, asked only when
// the control has a limit, and `insert` puts the text in at the selection.
template <typename Units, typename Insert>
void appendTo(EditControl& log, Units units, Insert insert) {
    if (log.lineCount() > kLogTrimAbove)
        cutFront(log, log.lineIndex(kLogTrimLines));
    const std::int64_t limit = log.characterLimit();
    const std::int64_t added = limit > 0 ? units() : 0;
    const std::int64_t held = log.textLength();
    if (limit > 0 && held > 0 && held + added > limit)
        cutFront(log, std::min(held, held + added - limit));
    const std::int64_t end = log.textLength();
    log.setSelection(end, end);
    insert();
    if (limit > 0 && added > limit)
        cutFront(log, log.textLength() - limit);
}

// Appends exactly `length` bytes, which hold no NUL.
void appendBytes(Window& window, const char* text, std::size_t length) {
    EditControl* log = window.findControl(kLogControlId);
    if (log == nullptr)
        return;
    const platform::Utf8Measure measure = platform::measureUtf8(text, length);
    const Utf8Text utf8{text, length, measure.units, measure.wellFormed};
    appendTo(
        *log, [&] { return static_cast<std::int64_t>(measure.units); },
        [&] { log->replaceSelectionUtf8(utf8); });
}

}  // namespace

void EditControl::replaceSelectionUtf8(const Utf8Text& text) {
    std::u16string wide(text.units, u'\0');
    platform::utf8ToUtf16(text.bytes, text.count, wide.data());
    replaceSelection(wide.c_str());
}

void appendWide(Window& window, const char16_t* text) {
    EditControl* log = window.findControl(kLogControlId);
    if (log == nullptr || text == nullptr)
        return;
    appendTo(
        *log, [&] { return static_cast<std::int64_t>(platform::wideLength(text)); },
        [&] { log->replaceSelection(text); });
}

void appendNarrow(Window& window, const char* text, std::optional<std::int32_t> count) {
    if (text == nullptr)
        return;
    std::size_t length;
    if (count && *count > 0) {
        const void* nul = std::memchr(text, 0, static_cast<std::size_t>(*count));
        length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text)
                     : static_cast<std::size_t>(*count);
    } else {
        length = std::strlen(text);
    }
    appendBytes(window, text, length);
}

void NarrowStream::append(const char* bytes, std::int32_t count) {
    if (bytes == nullptr)
        return;
    const auto size = static_cast<std::size_t>(std::max<std::int32_t>(count, 0));
    const void* nul = std::memchr(bytes, 0, size);
    const std::size_t shown =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    if (pending_.empty()) {
        // Most parts: no copy, only what is left open is kept back.
        const std::size_t keep = nul ? 0 : platform::incompleteUtf8Tail(bytes, shown);
        pending_.assign(bytes + shown - keep, keep);
        appendBytes(window_, bytes, shown - keep);
        return;
    }
    std::string text = std::exchange(pending_, {});
    text.append(bytes, shown);
    const std::size_t keep = nul ? 0 : platform::incompleteUtf8Tail(text.data(), text.size());
    pending_.assign(text, text.size() - keep, keep);
    appendBytes(window_, text.data(), text.size() - keep);
}

void NarrowStream::finish() {
    if (!pending_.empty()) {
        const std::string rest = std::exchange(pending_, {});
        appendBytes(window_, rest.data(), rest.size());
    }
}

void appendTimestamp(Window& window) {
    appendTimestamp(window, platform::SystemClock());
}

void appendTimestamp(Window& window, const platform::Clock& clock) {
    const platform::LocalTime t = clock.now();
    char line[64];
    std::snprintf(line, sizeof line, "%04d/%02d/%02d:%02d:%02d:%02d\r\n", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    const std::u16string wide = platform::utf8ToUtf16(line, std::strlen(line));
    appendWide(window, wide.c_str());
}

void clearLog(Window& window) {
    if (EditControl* log = window.findControl(kLogControlId))
        log->setText(u"");
}

}  // namespace tarven
