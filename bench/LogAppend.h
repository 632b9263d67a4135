#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "log/LogView.h"

namespace tarven::bench {

inline constexpr int kReceiveChunk = 512;
// Lines the log holds before each timed append: more than the trimming bound, so every append
// first removes the ten oldest lines.
inline constexpr int kHeldLines = kLogTrimAbove + kLogTrimLines + 1;

// Adds whole lines of `lineLength` characters at the end of the control, around the log's
// own trimming, until it holds kHeldLines lines again.
inline void refill(EditControl& log, std::size_t lineLength) {
    const int missing = kHeldLines - log.lineCount();
    if (missing <= 0)
        return;
    std::u16string lines;
    lines.reserve(static_cast<std::size_t>(missing) * (lineLength + 2));
    for (int i = 0; i < missing; ++i) {
        lines.append(lineLength, u'h');
        lines += u"\r\n";
    }
    const std::int64_t end = log.textLength();
    log.setSelection(end, end);
    log.replaceSelection(lines.c_str());
}

// Times appendNarrow of one 512-byte receive chunk into a log at steady state: it holds more
// than 200 lines of state.range(0) characters, so each append trims ten of them. The refill
// between appends is not timed. A flat time across line lengths shows that an append costs
// what it adds and removes, not what the log holds.
inline void appendChunkAtSteadyState(benchmark::State& state, Window& window) {
    EditControl* log = window.findControl(kLogControlId);
    if (log == nullptr) {
        state.SkipWithError("the window has no log");
        return;
    }
    const auto lineLength = static_cast<std::size_t>(state.range(0));
    std::string chunk(kReceiveChunk - 2, 'r');
    chunk += "\r\n";
    log->setText(u"");
    refill(*log, lineLength);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        appendNarrow(window, chunk.data(), kReceiveChunk);
        const auto stop = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
        refill(*log, lineLength);
    }
    state.counters["held_chars"] = static_cast<double>(log->textLength());
    state.SetBytesProcessed(state.iterations() * kReceiveChunk);
}

// The line lengths held, from short header lines to long lines of an answer without breaks.
inline void lineLengths(benchmark::internal::Benchmark* b) {
    b->Arg(16)->Arg(256)->Arg(4096)->Arg(65536);
    b->UseManualTime()->Iterations(3000)->Unit(benchmark::kMicrosecond);
}

}  // namespace tarven::bench
