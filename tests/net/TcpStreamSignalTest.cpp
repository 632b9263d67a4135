// Signals, which only Linux has of these kinds.

#include <gtest/gtest.h>
#include <sys/time.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "net/Connected.h"

namespace tarven {
namespace {

using test::Connected;

void ignoreSignal(int) {}

TEST(TcpStream, SignalsDoNotCutAWaitShort) {
    Connected c;
    struct sigaction action {};
    action.sa_handler = ignoreSignal;  // no SA_RESTART: every wait sees EINTR
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
    const itimerval every20ms{{0, 20000}, {0, 20000}};
    ::setitimer(ITIMER_REAL, &every20ms, nullptr);
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        c.peer->sendAll("late", 0, 0);
    });
    char buffer[16];
    const int got = c.client.receive(buffer, 16, 0);
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    later.join();
    ::sigaction(SIGALRM, &previous, nullptr);
    EXPECT_EQ(got, 4);
}

}  // namespace
}  // namespace tarven
