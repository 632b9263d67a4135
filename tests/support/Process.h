#pragma once

#include <string>
#include <vector>

namespace tarven::test {

struct ProcessResult {
    int exitCode = -1;      // -1 when it did not exit normally
    bool timedOut = false;  // killed after the run's limit
    std::string out;
    std::string err;
};

struct ProcessOptions {
    // Put the device and inode of the child's standard output in JOURNAL_STREAM, as systemd
    // does for a service whose output goes to the journal.
    bool stdoutIsJournal = false;
    // Close the reading end of the child's standard output before it writes anything, as a
    // reader that went away leaves it.
    bool noReader = false;
};

// Runs a program to its end with extra "NAME=value" environment entries, and collects its
// standard output and standard error. A child still running after two minutes is killed, with
// whatever it started, and reported as timed out.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {},
                         ProcessOptions options = {});

// The path of a program named by an environment variable that the build sets for the tests.
std::string programFromEnvironment(const char* variable);

}  // namespace tarven::test
