#include "log/LogView.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/Fakes.h"
#include "log/EditControlContract.h"
#include "log/MemoryEditControl.h"

namespace tarven {
namespace {

using test::EditControlContract;
using test::EditControlKind;

INSTANTIATE_TEST_SUITE_P(
    Memory, EditControlContract,
    testing::Values(EditControlKind{"Text", [] { return std::make_unique<MemoryEditControl>(); },
                                    [](const EditControl& c) {
                                        return static_cast<const MemoryEditControl&>(c).text();
                                    }},
                    EditControlKind{"LinesOnly",
                                    [] {
                                        return std::make_unique<MemoryEditControl>(
                                            MemoryEditControl::Keep::linesOnly);
                                    },
                                    nullptr}),
    test::kindName);

TEST(LogView, NarrowTextEndsAtItsCountOrFirstNul) {
    test::MemoryWindow window;
    appendNarrow(window, "abcdef", 3);
    appendNarrow(window, "gh\0ij", 5);
    appendNarrow(window, "kl");
    EXPECT_EQ(window.text(), "abcghkl");
}

TEST(LogView, BadBytesShowAsReplacementsAndNothingIsDropped) {
    test::MemoryWindow window;
    appendNarrow(window, "ok \xFF\xFE end\r\n");
    // A character split across two receive chunks: each half converts on its own.
    appendNarrow(window, "\xE3\x83", 2);
    appendNarrow(window, "\x90!", 2);
    EXPECT_EQ(window.text(), "ok \xEF\xBF\xBD\xEF\xBF\xBD end\r\n\xEF\xBF\xBD\xEF\xBF\xBD!");
}

TEST(LogView, TimestampUsesTheFixedFormat) {
    test::MemoryWindow window;
    appendTimestamp(window, test::FixedClock());
    EXPECT_EQ(window.text(), test::kFixedDateLine);
    appendTimestamp(window);
    EXPECT_EQ(window.text().size(), 2 * std::string(test::kFixedDateLine).size());
}

TEST(LogView, ClearEmptiesTheLog) {
    test::MemoryWindow window;
    appendWide(window, u"** Init dialog.\r\n");
    clearLog(window);
    EXPECT_EQ(window.text(), "");
    EXPECT_EQ(window.log.lineCount(), 1);
}

TEST(LogView, AWindowWithoutTheLogIsLeftAlone) {
    class Empty : public Window {
      public:
        EditControl* findControl(int) override { return nullptr; }
    } window;
    appendWide(window, u"x");
    appendNarrow(window, "x");
    appendTimestamp(window);
    clearLog(window);
}

TEST(LogView, TheCharacterLimitDropsNoMoreOfTheOldestTextThanTheAppendNeeds) {
    const auto limit = static_cast<std::size_t>(kLogCharacterLimit);
    struct LimitedWindow final : Window {
        EditControl* findControl(int) override { return &log; }
        MemoryEditControl log{MemoryEditControl::Keep::text, kLogCharacterLimit};
    } window;
    // Two lines, the second open; passing the limit by 9 takes the first line and 2 units.
    const std::u16string first = u"first\r\n";
    const std::u16string open(limit - first.size() - 10, u'x');
    appendWide(window, first.c_str());
    appendWide(window, open.c_str());
    appendWide(window, u"0123456789abcdefghi");
    EXPECT_EQ(window.log.text(), open.substr(2) + u"0123456789abcdefghi");
    EXPECT_EQ(window.log.lineCount(), 1);

    // A closing line takes no more than its own length from the front.
    appendWide(window, u"\nLF only\r\n");
    appendWide(window, u"date\r\n");
    EXPECT_EQ(window.log.textLength(), kLogCharacterLimit);
    EXPECT_EQ(window.log.text().substr(limit - 16), u"\nLF only\r\ndate\r\n");
    EXPECT_EQ(window.log.lineCount(), 3);

    // A text longer than the limit by itself leaves its last units.
    std::u16string huge(limit + 3, u'y');
    huge += u"\nend";
    appendWide(window, huge.c_str());
    EXPECT_EQ(window.log.text(), huge.substr(huge.size() - limit));
}

// The control that keeps only line starts must count exactly like the one that keeps the text,
// whatever the log is fed.
TEST(MemoryEditControl, LinesOnlyCountsLikeTheTextControl) {
    test::MemoryWindow full;
    MemoryEditControl linesOnly(MemoryEditControl::Keep::linesOnly);
    class Holder : public Window {
      public:
        explicit Holder(EditControl& c) : c_(c) {}
        EditControl* findControl(int) override { return &c_; }

      private:
        EditControl& c_;
    } lean(linesOnly);

    std::mt19937 random(12345);
    const char16_t pieces[] = {u'\r', u'\n', u'a', u'\u00E9'};
    for (int round = 0; round < 4000; ++round) {
        std::u16string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            text += pieces[random() % 4];
        if (random() % 500 == 0) {
            clearLog(full);
            clearLog(lean);
        }
        appendWide(full, text.c_str());
        appendWide(lean, text.c_str());
        ASSERT_EQ(full.log.lineCount(), linesOnly.lineCount()) << "round " << round;
        ASSERT_EQ(full.log.textLength(), linesOnly.textLength());
        ASSERT_EQ(full.log.lineIndex(10), linesOnly.lineIndex(10));
    }
}

}  // namespace
}  // namespace tarven
