#include "log/EditControlContract.h"

#include "log/LogView.h"

namespace tarven::test {
namespace {

class SingleControlWindow : public Window {
  public:
    explicit SingleControlWindow(EditControl& control) : control_(control) {}
    EditControl* findControl(int id) override { return id == kLogControlId ? &control_ : nullptr; }

  private:
    EditControl& control_;
};

std::u16string lines(int count, const char16_t* line = u"line") {
    std::u16string text;
    for (int i = 0; i < count; ++i)
        text += std::u16string(line) + u"\r\n";
    return text;
}

}  // namespace

TEST_P(EditControlContract, EmptyTextCountsOneLine) {
    EXPECT_EQ(control->lineCount(), 1);
    EXPECT_EQ(control->lineIndex(0), 0);
    EXPECT_EQ(control->lineIndex(1), -1);
    EXPECT_EQ(control->textLength(), 0);
}

TEST_P(EditControlContract, OnlyCrLfSeparatesLines) {
    append(u"a\rb\nc\n\rd");
    EXPECT_EQ(control->lineCount(), 1);
    append(u"\r\nnext\r\n");
    EXPECT_EQ(control->lineCount(), 3);
    EXPECT_EQ(control->lineIndex(1), 10);
    EXPECT_EQ(control->lineIndex(2), 16);  // the empty line after the final CR LF
    EXPECT_EQ(control->textLength(), 16);
}

TEST_P(EditControlContract, CrLfSplitAcrossTwoAppendsJoins) {
    append(u"first\r");
    EXPECT_EQ(control->lineCount(), 1);
    append(u"\nsecond");
    EXPECT_EQ(control->lineCount(), 2);
    EXPECT_EQ(control->lineIndex(1), 7);
}

TEST_P(EditControlContract, CutAtTheFrontRenumbersLines) {
    append(u"aa\r\nbbb\r\ncccc\r\n");
    control->setSelection(0, control->lineIndex(2));
    control->replaceSelection(u"");
    EXPECT_EQ(control->lineCount(), 2);
    EXPECT_EQ(control->lineIndex(1), 6);
    EXPECT_EQ(control->textLength(), 6);
    if (GetParam().text) {
        EXPECT_EQ(GetParam().text(*control), u"cccc\r\n");
    }
}

TEST_P(EditControlContract, SetTextReplacesEverything) {
    append(lines(5).c_str());
    control->setText(u"");
    EXPECT_EQ(control->lineCount(), 1);
    EXPECT_EQ(control->textLength(), 0);
    control->setText(u"x\r\ny");
    EXPECT_EQ(control->lineCount(), 2);
    EXPECT_EQ(control->textLength(), 4);
}

TEST_P(EditControlContract, LogTrimsOnlyAboveTwoHundredLines) {
    SingleControlWindow window(*control);
    append(lines(199).c_str());
    ASSERT_EQ(control->lineCount(), 200);
    appendWide(window, u"x\r\n");
    EXPECT_EQ(control->lineCount(), 201);  // 200 lines were not more than 200: nothing removed
    appendWide(window, u"y\r\n");
    EXPECT_EQ(control->lineCount(), 192);  // 201: ten removed, then one added
    if (GetParam().text) {
        const std::u16string text = GetParam().text(*control);
        EXPECT_EQ(text.substr(text.size() - 6), u"x\r\ny\r\n");
    }
}

TEST_P(EditControlContract, EmptyAppendStillTrims) {
    SingleControlWindow window(*control);
    append(lines(200).c_str());
    ASSERT_EQ(control->lineCount(), 201);
    appendNarrow(window, "");
    EXPECT_EQ(control->lineCount(), 191);
}

TEST_P(EditControlContract, LongAppendStaysWholeAndLaterAppendsTrimByTen) {
    SingleControlWindow window(*control);
    appendWide(window, lines(450, u"0123456789").c_str());
    EXPECT_EQ(control->lineCount(), 451);
    appendWide(window, u"a\r\n");
    EXPECT_EQ(control->lineCount(), 442);
    appendWide(window, u"b\r\n");
    EXPECT_EQ(control->lineCount(), 433);
    EXPECT_EQ(control->textLength(), 430 * 12 + 6);
}

TEST_P(EditControlContract, ReplacingInTheMiddleKeepsLineStarts) {
    if (!GetParam().text)
        GTEST_SKIP() << "keeps no text, so it tracks only the log's own edits";
    append(u"ab\r\ncd\r\nef");
    control->setSelection(3, 5);  // "\nc": breaks the first pair
    control->replaceSelection(u"\n\r\nX");
    EXPECT_EQ(GetParam().text(*control), u"ab\r\n\r\nXd\r\nef");
    EXPECT_EQ(control->lineCount(), 4);
    EXPECT_EQ(control->lineIndex(2), 6);
    EXPECT_EQ(control->lineIndex(3), 10);
}

}  // namespace tarven::test
