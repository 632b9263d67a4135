#include "support/Process.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

extern char** environ;

namespace tarven::test {

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, ProcessOptions options) {
    ProcessResult result;
    int out[2];
    int err[2];
    if (::pipe(out) != 0)
        return result;
    if (::pipe(err) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    std::vector<std::string> extras = environment;
    struct stat st {};
    if (options.stdoutIsJournal && ::fstat(out[1], &st) == 0)
        extras.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" +
                         std::to_string(st.st_ino));
    // An extra entry replaces the inherited one of its name.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string inherited(*e);
        const std::string name = inherited.substr(0, inherited.find('=') + 1);
        bool replaced = false;
        for (const std::string& extra : extras)
            replaced = replaced || extra.rfind(name, 0) == 0;
        if (!replaced)
            envStrings.push_back(inherited);
    }
    envStrings.insert(envStrings.end(), extras.begin(), extras.end());
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& e : envStrings)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);  // so that the limit ends whatever it starts as well
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        for (const int fd : {out[0], out[1], err[0], err[1]})
            ::close(fd);
        ::execve(args[0], args.data(), env.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    pollfd ends[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    if (options.noReader) {
        ::close(out[0]);
        ends[0].fd = -1;
        --open;
    }
    std::string* into[2] = {&result.out, &result.err};
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int ready = left.count() <= 0 ? 0 : ::poll(ends, 2, static_cast<int>(left.count()));
        if (ready == 0) {
            ::kill(-child, SIGKILL);
            result.timedOut = true;
            break;
        }
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (ends[i].fd < 0 || ends[i].revents == 0)
                continue;
            const ssize_t got = ::read(ends[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ::close(ends[i].fd);
                ends[i].fd = -1;
                --open;
                continue;
            }
            into[i]->append(buffer, static_cast<std::size_t>(got));
        }
    }
    for (const pollfd& end : ends) {
        if (end.fd >= 0)
            ::close(end.fd);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && !result.timedOut)
        result.exitCode = WEXITSTATUS(status);
    if (result.timedOut)
        result.err += "[killed after 120 s]";
    return result;
}

std::string programFromEnvironment(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? value : "";
}

}  // namespace tarven::test
