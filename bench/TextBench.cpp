// ByteBuffer and PairBlock: growth in whole blocks, and replacing an entry of a full block.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "text/ByteBuffer.h"
#include "text/PairBlock.h"

namespace tarven {
namespace {

constexpr std::int32_t kOneMegabyte = 1 << 20;

// Appends pieces of the given size until the buffer holds 1 MB. Growth by whole blocks keeps
// the cost per byte flat across piece sizes; a buffer that reallocated on every append would
// show the small pieces far slower per byte.
void ByteBufferAppendToOneMegabyte(benchmark::State& state) {
    const auto piece = static_cast<std::int32_t>(state.range(0));
    const std::vector<char> bytes(static_cast<std::size_t>(piece), 'x');
    for (auto _ : state) {
        ByteBuffer buffer;
        for (std::int32_t held = 0; held < kOneMegabyte; held += piece)
            buffer.append(bytes.data(), piece);
        benchmark::DoNotOptimize(buffer.data);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t{kOneMegabyte});
}
BENCHMARK(ByteBufferAppendToOneMegabyte)->Arg(1)->Arg(16)->Arg(80)->Arg(510)->Arg(4096);

constexpr int kEntries = 100;

// Setting the first key of 100 removes it and appends it again: the block is rebuilt once.
// The key that stands first changes every time, so each iteration does the same work.
void PairBlockSetFirstOfHundred(benchmark::State& state) {
    PairBlock block;
    std::vector<std::string> keys;
    for (int i = 0; i < kEntries; ++i) {
        keys.push_back("X-Header-" + std::to_string(i) + ":");
        block.set(keys.back().c_str(), "a value of typical length, about forty bytes");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            block.set(block.first(), "a value of typical length, about forty bytes"));
    }
}
BENCHMARK(PairBlockSetFirstOfHundred);

}  // namespace
}  // namespace tarven
