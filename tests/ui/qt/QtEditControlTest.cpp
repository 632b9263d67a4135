#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <random>

#include "log/EditControlContract.h"
#include "log/LogView.h"
#include "log/MemoryEditControl.h"
#include "ui/qt/QtEditControl.h"

namespace tarven::test {
namespace {

INSTANTIATE_TEST_SUITE_P(Qt, EditControlContract,
                         testing::Values(EditControlKind{
                             "Qt", [] { return std::make_unique<QtEditControl>(); },
                             [](const EditControl& control) {
                                 return static_cast<const QtEditControl&>(control).text();
                             }}),
                         kindName);

class LogWindow final : public Window {
  public:
    EditControl* findControl(int id) override { return id == kLogControlId ? &log : nullptr; }
    QtEditControl log;
};

void append(EditControl& control, const char16_t* text) {
    control.setSelection(control.textLength(), control.textLength());
    control.replaceSelection(text);
}

QString shownLine(const QtEditControl& control, int line) {
    return control.document()->findBlockByNumber(line).text();
}

TEST(QtEditControlTest, LfBreaksTheLineOnScreenOnlyAndCopiesGiveTheRealUnits) {
    QtEditControl control;
    const std::u16string text = u"a\rb\nc\u2029d\u2028e\uFDD0f\r\n\n\r";
    append(control, text.c_str());
    EXPECT_EQ(control.text(), text);
    EXPECT_EQ(control.lineCount(), 2);  // the log's lines: CR LF only
    // On screen a CR takes no room, LF and U+2029 break the line, a frame mark shows as U+FFFD.
    ASSERT_EQ(control.document()->blockCount(), 5);
    EXPECT_EQ(shownLine(control, 0), QString::fromUtf16(u"a\u200Bb"));
    EXPECT_EQ(shownLine(control, 2), QString::fromUtf16(u"d\u2028e\uFFFDf\u200B"));
    EXPECT_EQ(shownLine(control, 4), QString::fromUtf16(u"\u200B"));

    // A lone LF after the lone CR at the end joins it into a line break.
    append(control, u"\nlast");
    EXPECT_EQ(control.text(), text + u"\nlast");
    EXPECT_EQ(control.lineCount(), 3);
    EXPECT_EQ(control.lineIndex(2), static_cast<std::int64_t>(text.size()) + 1);

    control.selectAll();
    control.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdU16String(text + u"\nlast"));
}

TEST(QtEditControlTest, ALineWiderThanTheViewGetsAHorizontalScrollBarOnlyThen) {
    QtEditControl control;
    control.resize(200, 120);
    control.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
    append(control, u"short\nlines\n");
    QCoreApplication::processEvents();
    EXPECT_FALSE(control.horizontalScrollBar()->isVisible());
    append(control, (std::u16string(300, u'w') + u"\n").c_str());
    EXPECT_TRUE(QTest::qWaitFor([&] { return control.horizontalScrollBar()->isVisible(); }));
    control.setText(u"short again");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !control.horizontalScrollBar()->isVisible(); }));
}

TEST(QtEditControlTest, AnyEditMatchesTheMemoryControl) {
    // Random replacements of random ranges, rich in CR, LF and pairs, on both controls.
    QtEditControl control;
    MemoryEditControl reference;
    std::minstd_rand random(20240305);
    const char16_t units[] = {u'a', u'\r', u'\n', u'\r', u'\n', u'\u00E9', u'\u2029', u'x'};
    const auto pick = [&](std::int64_t below) {
        return static_cast<std::int64_t>(random() % static_cast<unsigned>(below + 1));
    };
    for (int step = 0; step < 600; ++step) {
        std::u16string text(static_cast<std::size_t>(pick(6)), u'a');
        for (char16_t& unit : text)
            unit = units[pick(7)];
        const std::int64_t start = pick(reference.textLength());
        const std::int64_t end = pick(reference.textLength());
        if (step % 97 == 0) {
            control.setText(text.c_str());
            reference.setText(text.c_str());
        } else {
            control.setSelection(start, end);
            reference.setSelection(start, end);
            control.replaceSelection(text.c_str());
            reference.replaceSelection(text.c_str());
        }
        ASSERT_EQ(control.text(), reference.text()) << "step " << step;
        ASSERT_EQ(control.lineCount(), reference.lineCount()) << "step " << step;
        ASSERT_EQ(control.textLength(), reference.textLength()) << "step " << step;
        // The view holds the text position for position.
        ASSERT_EQ(control.document()->characterCount() - 1, reference.textLength());
        for (int line = 0; line <= reference.lineCount(); ++line) {
            ASSERT_EQ(control.lineIndex(line), reference.lineIndex(line)) << "step " << step;
        }
    }
}

TEST(QtEditControlTest, TheEndIsInViewOnceTheLoopRunsAfterEachAppend) {
    LogWindow window;
    window.log.resize(200, 120);
    window.log.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window.log));
    QtEditControl& log = window.log;
    for (int i = 0; i < 260; ++i) {  // past the trimming edge, so cuts at the front come too
        appendNarrow(window, "a line of the log\r\n");
        QCoreApplication::processEvents();
        ASSERT_TRUE(log.textCursor().atEnd()) << i;
        ASSERT_TRUE(log.viewport()->rect().contains(log.cursorRect())) << i;
    }
    EXPECT_GT(log.verticalScrollBar()->value(), 0);
    EXPECT_LE(window.log.lineCount(), 202);
    clearLog(window);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.log.text(), u"");
    EXPECT_EQ(log.verticalScrollBar()->value(), 0);
}

// A full log of LF lines into an empty view: the end shows at once and the rest goes in front
// of it over the next turns of the loop, while the log's trimming and a copy of everything keep
// working on the whole text.
TEST(QtEditControlTest, ALongTextShowsItsEndFirstAndTheRestSoonAfter) {
    LogWindow window;
    QtEditControl& log = window.log;
    log.resize(200, 120);
    log.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    std::u16string text;
    for (int i = 0; text.size() < 300'000; ++i)
        text += u"{\"line\": " + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + u"}\n";
    append(log, text.c_str());
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.showsEnd());
    ASSERT_LT(log.document()->characterCount() - 1, log.textLength());  // not all of it yet

    log.setSelection(0, 12);  // a cut at the front takes what is still to be shown first
    log.replaceSelection(u"");
    text.erase(0, 12);
    log.selectAll();
    log.copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromStdU16String(text));

    ASSERT_TRUE(
        QTest::qWaitFor([&] { return log.document()->characterCount() - 1 == log.textLength(); }));
    EXPECT_EQ(log.document()->toPlainText(), QString::fromStdU16String(text));
    EXPECT_TRUE(log.showsEnd());
    EXPECT_EQ(log.text(), text);
}

}  // namespace
}  // namespace tarven::test
