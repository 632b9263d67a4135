#pragma once

#include <string>
#include <vector>

namespace tarven::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
};

// Runs a program to its end with extra "NAME=value" environment entries, and collects its
// standard output. Standard error is left to the test's own.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

// The path of a program named by an environment variable that the build sets for the tests.
std::string programFromEnvironment(const char* variable);

}  // namespace tarven::test
