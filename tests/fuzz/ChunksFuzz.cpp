// NarrowStream on arbitrary bytes cut into random parts, as receives deliver them: the log
// must show what converting the bytes whole shows. Each part is shown up to its first NUL, and
// a part that a NUL ends keeps nothing back, so the model converts whole each run of parts up
// to one with a NUL.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "log/LogView.h"
#include "log/MemoryEditControl.h"
#include "platform/TextCodec.h"

namespace {

// A log that never trims, so that only the conversion enters the comparison.
class UntrimmedLog final : public tarven::MemoryEditControl {
  public:
    int lineCount() const override { return 1; }
};

class UntrimmedWindow final : public tarven::Window {
  public:
    tarven::EditControl* findControl(int id) override {
        return id == tarven::kLogControlId ? &log : nullptr;
    }
    UntrimmedLog log;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::size_t> cuts;
    for (std::size_t n = input.ConsumeIntegralInRange<std::size_t>(0, 16); n > 0; --n)
        cuts.push_back(input.ConsumeIntegralInRange<std::size_t>(0, 600));
    const std::string bytes = input.ConsumeRemainingBytesAsString();

    UntrimmedWindow window;
    tarven::NarrowStream stream(window);
    std::u16string expected;
    std::string run;  // the shown bytes since the last part that a NUL ended
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size() || i == 0; ++i) {
        const std::size_t length =
            i < cuts.size() ? std::min(cuts[i], bytes.size() - at) : bytes.size() - at;
        // Exactly the part's bytes, with nothing after them to stop a read that overruns.
        const std::vector<char> part(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        stream.append(part.data(), static_cast<std::int32_t>(part.size()));
        at += length;
        const std::string text(part.begin(), part.end());
        const std::size_t nul = text.find('\0');
        run += text.substr(0, nul);
        if (nul != std::string::npos) {
            expected += tarven::platform::utf8ToUtf16(run.data(), run.size());
            run.clear();
        }
    }
    stream.finish();
    expected += tarven::platform::utf8ToUtf16(run.data(), run.size());
    FUZZ_CHECK(window.log.text() == expected);
    return 0;
}
