#include "log/LogView.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/TextCodec.h"

namespace tarven {
namespace {

void cutFront(EditControl& log, std::int64_t count) {
    log.setSelection(0, count);
    log.replaceSelection(u"");
}

}  // namespace

void appendWide(Window& window, const char16_t* text) {
    EditControl* log = window.findControl(kLogControlId);
    if (log == nullptr || text == nullptr)
        return;
    if (log->lineCount() > kLogTrimAbove)
        cutFront(*log, log->lineIndex(kLogTrimLines));
    const std::int64_t limit = log->characterLimit();
    const auto added = limit > 0 ? static_cast<std::int64_t>(platform::wideLength(text)) : 0;
    const std::int64_t held = log->textLength();
    if (limit > 0 && held > 0 && held + added > limit)
        cutFront(*log, std::min(held, held + added - limit));
    const std::int64_t end = log->textLength();
    log->setSelection(end, end);
    log->replaceSelection(text);
    if (limit > 0 && added > limit)
        cutFront(*log, log->textLength() - limit);
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
    std::vector<char16_t> wide(platform::utf8ToUtf16(text, length, nullptr) + 1, u'\0');
    platform::utf8ToUtf16(text, length, wide.data());
    appendWide(window, wide.data());
}

void NarrowStream::append(const char* bytes, std::int32_t count) {
    if (bytes == nullptr)
        return;
    const auto size = static_cast<std::size_t>(std::max<std::int32_t>(count, 0));
    const void* nul = std::memchr(bytes, 0, size);
    const std::size_t shown =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    std::string text = std::exchange(pending_, {});
    text.append(bytes, shown);
    const std::size_t keep = nul ? 0 : platform::incompleteUtf8Tail(text.data(), text.size());
    pending_.assign(text, text.size() - keep, keep);
    text.resize(text.size() - keep);
    appendNarrow(window_, text.c_str(), static_cast<std::int32_t>(text.size()));
}

void NarrowStream::finish() {
    if (!pending_.empty())
        appendNarrow(window_, std::exchange(pending_, {}).c_str());
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
