#include "log/LogRelay.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/Fakes.h"
#include "log/LogView.h"

namespace tarven {
namespace {

// A run's appends through the relay, taken at random moments, give the owner the same text as
// the appends made on it directly: also when the trimming cuts text not yet delivered.
TEST(LogRelay, DeliveriesAtAnyMomentGiveTheTextOfDirectAppends) {
    test::MemoryWindow owner;
    test::MemoryWindow direct;
    appendWide(owner, u"** Init dialog.\r\n");
    appendWide(direct, u"** Init dialog.\r\n");
    int wakes = 0;
    LogRelay relay(owner.log.text().c_str(), 0, [&] { ++wakes; });

    std::minstd_rand random(20261208);
    clearLog(relay);
    clearLog(direct);
    for (int i = 0; i < 3000; ++i) {
        const std::u16string line =
            u"line " + std::u16string(random() % 40, u'x') + (random() % 3 == 0 ? u"\n" : u"\r\n");
        appendWide(relay, line.c_str());
        appendWide(direct, line.c_str());
        if (random() % 50 == 0) {
            EXPECT_EQ(wakes, 1);
            EXPECT_FALSE(relay.deliverTo(owner.log));
            wakes = 0;
            ASSERT_EQ(owner.log.text(), direct.log.text()) << i;
        }
    }
    relay.finish();
    EXPECT_TRUE(relay.deliverTo(owner.log));
    EXPECT_EQ(owner.log.text(), direct.log.text());
    EXPECT_EQ(owner.log.lineCount(), direct.log.lineCount());

    relay.abandon();  // the owner is gone: the rest is dropped, and no one is woken
    wakes = 0;
    appendWide(relay, u"after\r\n");
    relay.finish();
    EXPECT_EQ(wakes, 0);
}

// The relay's control must pass on one setText once, and the text it starts with not at all.
TEST(LogRelay, OneSetTextIsOneEdit) {
    test::MemoryWindow owner;
    appendWide(owner, u"old\r\n");
    LogRelay relay(owner.log.text().c_str(), 0, [] {});
    relay.deliverTo(owner.log);
    EXPECT_EQ(owner.log.text(), u"old\r\n");

    relay.findControl(kLogControlId)->setText(u"abc");
    relay.deliverTo(owner.log);
    EXPECT_EQ(owner.log.text(), u"abc");
}

}  // namespace
}  // namespace tarven
