// loadDescription from real files: a typical description, and two of 1 MB (one long body
// line; many short header lines).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/TextCodec.h"
#include "request/DescriptionFile.h"

namespace tarven {
namespace {

constexpr std::size_t kOneMegabyte = 1 << 20;

constexpr char kTypical[] =
    "# Report this machine's address every hour.\r\n"
    "TARVEN_connect: status.example.net\r\n"
    "TARVEN_port: 80\r\n"
    "TARVEN_request: GET /checkin?ip=%IPADDRESS% HTTP/1.0\r\n"
    "Host: status.example.net\r\n"
    "User-Agent: tarven/0.1\r\n"
    "Accept: */*\r\n"
    "Connection: close\r\n"
    "TARVEN_basicauth: user:password\r\n";

// A folder of files under the temporary folder, removed with them.
class BenchFiles {
  public:
    BenchFiles() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tarven-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr)
            folder_ = pattern;
    }
    ~BenchFiles() {
        std::error_code ignored;
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ignored);
    }
    BenchFiles(const BenchFiles&) = delete;
    BenchFiles& operator=(const BenchFiles&) = delete;

    // Writes the file and returns its path as the wide text that loadDescription takes; empty
    // when the folder or the file could not be made.
    std::u16string write(const std::string& name, const std::string& bytes) const {
        if (folder_.empty())
            return {};
        const std::string path = (folder_ / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            return {};
        return platform::utf8ToUtf16(path.data(), path.size());
    }

  private:
    std::filesystem::path folder_;
};

void loadEach(benchmark::State& state, const std::string& content) {
    const BenchFiles files;
    const std::u16string path = files.write("tarven.txt", content);
    if (path.empty()) {
        state.SkipWithError("cannot write the description file");
        return;
    }
    for (auto _ : state) {
        DescriptionFile description;
        if (description.loadDescription(path.c_str()) != 1) {
            state.SkipWithError("loadDescription failed");
            return;
        }
        benchmark::DoNotOptimize(description.first());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(content.size()));
}

void LoadTypicalDescription(benchmark::State& state) {
    loadEach(state, kTypical);
}
BENCHMARK(LoadTypicalDescription);

void LoadOneMegabyteBody(benchmark::State& state) {
    std::string content = kTypical;
    content += "TARVEN_postbody: ";
    content.append(kOneMegabyte - content.size() - 2, 'b');
    content += "\r\n";
    loadEach(state, content);
}
BENCHMARK(LoadOneMegabyteBody)->Unit(benchmark::kMillisecond);

// Every line is a new key, and each set looks for an earlier entry of that key first, so the
// cost grows with the square of the number of lines.
void LoadOneMegabyteOfHeaderLines(benchmark::State& state) {
    std::string content = kTypical;
    for (int i = 0; content.size() < kOneMegabyte - 64; ++i)
        content += "X-Header-" + std::to_string(i) + ": a value of about thirty bytes\r\n";
    loadEach(state, content);
}
BENCHMARK(LoadOneMegabyteOfHeaderLines)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarven
