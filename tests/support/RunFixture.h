#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "request/RequestRun.h"
#include "support/Fakes.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace tarven::test {

// A request run in a temporary folder, with a fixed host address and clock, so the whole log
// can be compared byte for byte, and a loopback peer (set `peer` before running).
class RunFixture : public testing::Test {
  protected:
    // Runs the description file at `path`; `took` is how long the run lasted.
    bool runPath(const std::filesystem::path& path) {
        const std::u16string wide = widePath(path);
        RunEnvironment environment;
        environment.host = &host;
        environment.clock = &clock;
        environment.descriptionPath = wide.c_str();
        const auto start = std::chrono::steady_clock::now();
        const bool done = runRequest(window, kDescriptionFileName, environment);
        took = std::chrono::steady_clock::now() - start;
        return done;
    }
    // Writes and runs a description in which "{port}" stands for the peer's port.
    bool run(std::string description) {
        for (auto at = description.find("{port}"); at != std::string::npos;
             at = description.find("{port}")) {
            description.replace(at, 6, peer->portText());
        }
        return runPath(dir.write("tarven.txt", description));
    }
    std::string log() const { return window.text(); }

    TempDir dir;
    FakeHost host;
    FixedClock clock;
    MemoryWindow window;
    std::unique_ptr<TestPeer> peer;
    std::chrono::steady_clock::duration took{};
};

}  // namespace tarven::test
