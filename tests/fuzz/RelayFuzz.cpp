// A run's log edits through LogRelay, delivered at random moments to an owner's control,
// checked against a plain string that follows the log's rules: before each append, more than
// 200 lines lose everything before line 10; then, under a character limit, the oldest text
// goes as far as the append needs room, and an append longer than the limit keeps only its
// end. The owner starts with text of its own, which a set text or clear replaces.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "log/LogRelay.h"
#include "log/LogView.h"
#include "log/MemoryEditControl.h"

namespace {

constexpr std::size_t kMaxOperations = 64;

// Where line `line` of the text begins, or npos.
std::size_t lineStart(const std::u16string& text, int line) {
    std::size_t at = 0;
    for (int n = 0; n < line; ++n) {
        at = text.find(u"\r\n", at);
        if (at == std::u16string::npos)
            return at;
        at += 2;
    }
    return at;
}

int lineCount(const std::u16string& text) {
    int lines = 1;
    for (std::size_t at = text.find(u"\r\n"); at != std::u16string::npos;
         at = text.find(u"\r\n", at + 2))
        ++lines;
    return lines;
}

void modelAppend(std::u16string& model, const std::u16string& text, std::size_t limit) {
    if (lineCount(model) > tarven::kLogTrimAbove)
        model.erase(0, lineStart(model, tarven::kLogTrimLines));
    if (limit > 0 && !model.empty() && model.size() + text.size() > limit)
        model.erase(0, std::min(model.size(), model.size() + text.size() - limit));
    model += text;
    if (limit > 0 && text.size() > limit)
        model.erase(0, model.size() - limit);
}

std::u16string textFrom(FuzzedDataProvider& input) {
    static const char16_t* const kPieces[] = {u"\r",     u"\n",         u"\r\n",    u"a",
                                              u"\u00e9", u"\U0001F600", u"line\r\n"};
    std::u16string text;
    for (const char pick : input.ConsumeRandomLengthString(24))
        text += kPieces[static_cast<unsigned char>(pick) % std::size(kPieces)];
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::size_t limit =
        input.ConsumeBool() ? 0 : input.ConsumeIntegralInRange<std::size_t>(1, 3000);
    tarven::MemoryEditControl owner(tarven::MemoryEditControl::Keep::text,
                                    static_cast<std::int64_t>(limit));
    std::u16string model = textFrom(input);
    owner.setText(model.c_str());

    int wakes = 0;
    tarven::LogRelay relay(owner.text().c_str(), static_cast<std::int64_t>(limit),
                           [&] { ++wakes; });
    const auto deliver = [&](bool finished) {
        // One wake for edits that wait, and finish's own.
        FUZZ_CHECK(wakes <= (finished ? 2 : 1));
        FUZZ_CHECK(relay.deliverTo(owner) == finished);
        wakes = 0;
        FUZZ_CHECK(owner.text() == model);
        FUZZ_CHECK(owner.lineCount() == lineCount(model));
    };

    for (std::size_t step = 0; step < kMaxOperations && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange(0, 5)) {
            case 0: {
                const std::u16string text = textFrom(input);
                tarven::appendWide(relay, text.c_str());
                modelAppend(model, text, limit);
                break;
            }
            case 1: {
                // Many lines at once, so the log passes 200 lines and keeps trimming.
                const std::u16string line = textFrom(input) + u"\r\n";
                std::u16string lines;
                for (int n = input.ConsumeIntegralInRange(1, 120); n > 0; --n)
                    lines += line;
                tarven::appendWide(relay, lines.c_str());
                modelAppend(model, lines, limit);
                break;
            }
            case 2: {
                // A long line, which a limit cuts from the front.
                const std::u16string text(input.ConsumeIntegralInRange<std::size_t>(1, 6000), u'x');
                tarven::appendWide(relay, text.c_str());
                modelAppend(model, text, limit);
                break;
            }
            case 3:
                tarven::clearLog(relay);
                model.clear();
                break;
            case 4:
                model = textFrom(input);
                relay.findControl(tarven::kLogControlId)->setText(model.c_str());
                break;
            case 5:
                deliver(false);
                break;
        }
    }
    relay.finish();
    deliver(true);
    return 0;
}
