// appendNarrow into the in-memory log control at steady state, in both of its keep modes, and
// into the console's control, which writes each append to a stream as it comes.

#include <cstdio>
#include <memory>

#include "LogAppend.h"
#include "cli/ConsoleEditControl.h"
#include "log/MemoryEditControl.h"

namespace tarven {
namespace {

class MemoryLogWindow : public Window {
  public:
    explicit MemoryLogWindow(MemoryEditControl::Keep keep) : log_(keep) {}
    EditControl* findControl(int id) override { return id == kLogControlId ? &log_ : nullptr; }

  private:
    MemoryEditControl log_;
};

void AppendNarrowMemoryKeepText(benchmark::State& state) {
    MemoryLogWindow window(MemoryEditControl::Keep::text);
    bench::appendChunkAtSteadyState(state, window);
}
BENCHMARK(AppendNarrowMemoryKeepText)->Apply(bench::lineLengths);

void AppendNarrowMemoryLinesOnly(benchmark::State& state) {
    MemoryLogWindow window(MemoryEditControl::Keep::linesOnly);
    bench::appendChunkAtSteadyState(state, window);
}
BENCHMARK(AppendNarrowMemoryLinesOnly)->Apply(bench::lineLengths);

// The console program's log: the UTF-8 conversion, write and flush of every append included.
void AppendNarrowConsoleToDevNull(benchmark::State& state) {
    const std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen("/dev/null", "wb"),
                                                                 &std::fclose);
    if (out == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    ConsoleWindow window(out.get());
    bench::appendChunkAtSteadyState(state, window);
}
BENCHMARK(AppendNarrowConsoleToDevNull)->Apply(bench::lineLengths);

}  // namespace
}  // namespace tarven
