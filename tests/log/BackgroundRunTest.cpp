#include "log/BackgroundRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "log/LogView.h"
#include "support/Fakes.h"

namespace tarven {
namespace {

using std::chrono::milliseconds;

// Polls `done` for up to five seconds.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 5000 && !done(); ++i)
        std::this_thread::sleep_for(milliseconds(1));
    return done();
}

// While a run goes on, a delivery right after another waits out the interval; the run's end
// is delivered at once, and the owner gets every edit.
TEST(BackgroundRun, DeliveriesDuringARunArePacedButItsEndIsNot) {
    test::MemoryWindow owner;
    std::atomic<int> wakes{0};
    std::promise<void> release;
    BackgroundRun run;
    run.start(
        owner.log.text(), kLogCharacterLimit, [&] { ++wakes; },
        [gate = release.get_future().share()](Window& window, std::string&) {
            appendNarrow(window, "first\r\n");
            gate.wait();
            appendNarrow(window, "second\r\n");
            return true;
        });
    ASSERT_TRUE(eventually([&] { return wakes > 0; }));
    EXPECT_EQ(run.deliveryDelay(), milliseconds(0));  // nothing delivered yet

    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(run.deliverTo(owner.log));
    const milliseconds delay = run.deliveryDelay();
    const auto taken = std::chrono::steady_clock::now() - before;
    EXPECT_LE(delay, BackgroundRun::kDeliveryInterval);
    if (taken < BackgroundRun::kDeliveryInterval / 2) {  // a stalled machine may have waited
        EXPECT_GT(delay, milliseconds(0));
    }
    EXPECT_EQ(owner.text(), "first\r\n");

    release.set_value();
    ASSERT_TRUE(eventually([&] { return run.deliveryDelay() == milliseconds(0); }));
    EXPECT_TRUE(run.deliverTo(owner.log));
    EXPECT_EQ(owner.text(), "first\r\nsecond\r\n");
    EXPECT_FALSE(run.running());
}

}  // namespace
}  // namespace tarven
