// SecretMask on what a hostile server may send: a few secrets, an answer of arbitrary bytes cut
// into arbitrary pieces. Fed piece by piece it must give what masking the whole answer gives,
// hold back less than the longest secret, and let no secret through.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "request/SecretMask.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> values;
    const int count = input.ConsumeIntegralInRange<int>(0, 5);
    for (int i = 0; i < count; ++i)
        values.push_back(input.ConsumeRandomLengthString(16));
    std::vector<std::size_t> cuts;
    const int pieces = input.ConsumeIntegralInRange<int>(0, 16);
    for (int i = 0; i < pieces; ++i)
        cuts.push_back(input.ConsumeIntegralInRange<std::size_t>(0, 64));
    const std::string answer = input.ConsumeRemainingBytesAsString();

    tarven::SecretMask mask(values);
    const std::string whole = mask.mask(answer);
    std::string streamed;
    std::size_t at = 0;
    for (std::size_t i = 0; at < answer.size(); ++i) {
        const std::size_t length = i < cuts.size() ? cuts[i] : answer.size() - at;
        const std::string_view piece = std::string_view(answer).substr(at, length);
        at += piece.size();
        streamed += mask.feed(piece);
        FUZZ_CHECK(mask.held() == 0 || mask.held() < mask.longest());
        FUZZ_CHECK(whole.compare(0, streamed.size(), streamed) == 0);
    }
    streamed += mask.finish();
    FUZZ_CHECK(mask.held() == 0);
    FUZZ_CHECK(streamed == whole);

    // A value is found wherever it stands, unless the mask text itself helps to spell it.
    for (const std::string& value : values) {
        if (value.size() >= tarven::SecretMask::kShortestSecret &&
            value.find('*') == std::string::npos)
            FUZZ_CHECK(whole.find(value) == std::string::npos);
    }
    return 0;
}
