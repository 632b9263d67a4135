#pragma once

#include <string>
#include <vector>

namespace tarven::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

struct ProcessOptions {
    // Put the device and inode of the child's standard output in JOURNAL_STREAM, as systemd
    // does for a service whose output goes to the journal.
    bool stdoutIsJournal = false;
};

// Runs a program to its end with extra "NAME=value" environment entries, and collects its
// standard output and standard error.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {},
                         ProcessOptions options = {});

// The path of a program named by an environment variable that the build sets for the tests.
std::string programFromEnvironment(const char* variable);

}  // namespace tarven::test
