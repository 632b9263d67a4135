// Sequences of log appends and clears, sent to an in-memory log of each kind, checked against
// a plain model of the trimming rule: before each append, a log of more than 200 lines (CR LF
// pairs plus one) loses everything before the start of line 10.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "platform/TextCodec.h"
#include "support/Fakes.h"
#include "log/LogView.h"

namespace {

constexpr std::size_t kMaxOperations = 64;

class LinesOnlyWindow : public tarven::Window {
  public:
    tarven::EditControl* findControl(int id) override {
        return id == tarven::kLogControlId ? &log : nullptr;
    }
    tarven::MemoryEditControl log{tarven::MemoryEditControl::Keep::linesOnly};
};

// Where each line of the model's text begins.
std::vector<std::size_t> lineStarts(const std::u16string& text) {
    std::vector<std::size_t> starts{0};
    for (std::size_t at = text.find(u"\r\n"); at != std::u16string::npos;
         at = text.find(u"\r\n", at + 2)) {
        starts.push_back(at + 2);
    }
    return starts;
}

void modelAppend(std::u16string& model, const std::u16string& text) {
    const std::vector<std::size_t> starts = lineStarts(model);
    if (starts.size() > static_cast<std::size_t>(tarven::kLogTrimAbove))
        model.erase(0, starts[tarven::kLogTrimLines]);
    model += text;
}

// Text from a few units that matter to lines: CR and LF alone or paired, and other units.
std::u16string unitsFrom(FuzzedDataProvider& input) {
    static const char16_t* const kPieces[] = {u"\r",     u"\n",         u"\r\n", u"a",
                                              u"\u00e9", u"\U0001F600", u" ",    u"line\r\n"};
    std::u16string text;
    const std::string picks = input.ConsumeRandomLengthString(24);
    for (const char pick : picks)
        text += kPieces[static_cast<unsigned char>(pick) % std::size(kPieces)];
    return text;
}

void checkLog(const tarven::MemoryEditControl& log, const std::u16string& model, bool keepsText) {
    const std::vector<std::size_t> starts = lineStarts(model);
    FUZZ_CHECK(log.lineCount() == static_cast<int>(starts.size()));
    FUZZ_CHECK(log.textLength() == static_cast<std::int64_t>(model.size()));
    if (keepsText)
        FUZZ_CHECK(log.text() == model);
    const int last = static_cast<int>(starts.size()) - 1;
    for (const int line : {0, 1, tarven::kLogTrimLines, last / 2, last}) {
        if (line <= last)
            FUZZ_CHECK(log.lineIndex(line) == static_cast<std::int64_t>(starts[line]));
    }
    FUZZ_CHECK(log.lineIndex(last + 1) == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    tarven::test::MemoryWindow textWindow;
    LinesOnlyWindow linesWindow;
    std::u16string model;

    const auto appendBoth = [&](const std::u16string& text) {
        tarven::appendWide(textWindow, text.c_str());
        tarven::appendWide(linesWindow, text.c_str());
        modelAppend(model, text);
    };

    for (std::size_t step = 0; step < kMaxOperations && input.remaining_bytes() > 0; ++step) {
        switch (input.ConsumeIntegralInRange(0, 4)) {
            case 0:
                appendBoth(unitsFrom(input));
                break;
            case 1: {
                // Many lines at once, so the log passes 200 lines and keeps trimming.
                const std::u16string line = unitsFrom(input) + u"\r\n";
                std::u16string lines;
                for (int n = input.ConsumeIntegralInRange(1, 120); n > 0; --n)
                    lines += line;
                appendBoth(lines);
                break;
            }
            case 2:
                // A long line, so text cut at the front adds up to a compaction.
                appendBoth(
                    std::u16string(input.ConsumeIntegralInRange<std::size_t>(1, 8000), u'x'));
                break;
            case 3: {
                const std::string bytes = input.ConsumeRandomLengthString(32);
                tarven::appendNarrow(textWindow, bytes.c_str());
                tarven::appendNarrow(linesWindow, bytes.c_str());
                const std::string shown = bytes.substr(0, bytes.find('\0'));
                modelAppend(model, tarven::platform::utf8ToUtf16(shown.data(), shown.size()));
                break;
            }
            case 4:
                tarven::clearLog(textWindow);
                tarven::clearLog(linesWindow);
                model.clear();
                break;
        }
        checkLog(textWindow.log, model, true);
        checkLog(linesWindow.log, model, false);
    }
    return 0;
}
