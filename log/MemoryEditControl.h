#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "log/Window.h"

namespace tarven {

// An edit control in memory, with the line rules of the log: lines end at CR LF only.
// An append or a cut at the front costs what it adds or removes, never the whole text: the
// line starts are kept as they change, and text cut at the front is dropped lazily.
//
// With Keep::linesOnly the control keeps no text, only the line structure, for a front end that
// shows each append as it comes and must not hold a long answer. It then tracks exactly the
// edits the log makes (appending at the end, cutting at the front, setting the whole text).
class MemoryEditControl : public EditControl {
  public:
    enum class Keep { text, linesOnly };

    explicit MemoryEditControl(Keep keep = Keep::text, std::int64_t characterLimit = 0);

    int lineCount() const override;
    std::int64_t lineIndex(int line) const override;
    void setSelection(std::int64_t start, std::int64_t end) override;
    void replaceSelection(const char16_t* text) override;
    std::int64_t textLength() const override;
    void setText(const char16_t* text) override;
    std::int64_t characterLimit() const override { return characterLimit_; }

    // The whole text; empty with Keep::linesOnly.
    std::u16string text() const;
    // The selection, ordered and within the text; after a replacement, empty behind the text
    // put in.
    std::int64_t selectionStart() const { return selStart_; }
    std::int64_t selectionEnd() const { return selEnd_; }

  protected:
    // For a control that passes UTF-8 appends through: the same edit of this control as
    // replaceSelection with the text's conversion; with Keep::linesOnly without converting it.
    void replaceSelectionLines(const Utf8Text& text);

  private:
    // The parts of a replacement of the selection by `n` units that do not depend on them:
    // pairs the replaced range touched go, those after it move, the length changes. Returns
    // where pairs found in the new units go.
    std::deque<std::int64_t>::iterator takeRange(std::int64_t n);
    // The last unit and the selection after a replacement of [a, b) by `n` units whose last
    // is `lastInserted`.
    void settle(std::int64_t a, std::int64_t b, std::int64_t n, std::int64_t oldLength,
                char16_t oldLast, char16_t lastInserted);
    char16_t charAt(std::int64_t position) const;
    void addPairsIn(std::int64_t from, std::int64_t to, std::deque<std::int64_t>::iterator where,
                    const char16_t* inserted, std::int64_t insertedAt, std::int64_t insertedLength,
                    std::int64_t oldLength, char16_t oldLast);

    Keep keep_;
    std::int64_t characterLimit_;
    std::u16string buffer_;  // the text is buffer_[head_..]
    std::size_t head_ = 0;   // text cut at the front but not yet dropped
    std::int64_t length_ = 0;
    char16_t last_ = 0;               // the text's last unit, 0 when empty
    std::deque<std::int64_t> pairs_;  // CR positions of CR LF pairs, plus origin_
    std::int64_t origin_ = 0;
    std::int64_t selStart_ = 0;
    std::int64_t selEnd_ = 0;
};

}  // namespace tarven
