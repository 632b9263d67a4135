#pragma once

#include <QPlainTextEdit>
#include <QTextCursor>
#include <cstdint>
#include <string>

#include "ui/Window.h"

namespace tarven {

// The desktop's log control: a read-only, unwrapped text view with the line rules of the log,
// where only CR LF ends a line.
//
// The document itself is the store: it holds one block per line, so every CR LF pair is one
// block break and counts two positions. A unit the document would take for a line break of
// its own (a lone CR or LF, U+2028, U+2029 and the document's frame marks) is shown as a
// visible stand-in whose character format keeps the original unit, so the exact text can be
// read back. Every operation costs what it touches, never the whole text.
//
// Edits made between two turns of the event loop form one edit of the document, laid out
// and scrolled to the caret when the loop next runs: a run blocks the loop, so nothing could
// be painted before then anyway, and a long line is laid out once instead of at every append.
// The view then shows the caret, which after an append stands at the end.
class QtEditControl final : public QPlainTextEdit, public EditControl {
    Q_OBJECT
  public:
    explicit QtEditControl(QWidget* parent = nullptr);
    ~QtEditControl() override;

    int lineCount() const override;
    std::int64_t lineIndex(int line) const override;
    void setSelection(std::int64_t start, std::int64_t end) override;
    void replaceSelection(const char16_t* text) override;
    std::int64_t textLength() const override;
    void setText(const char16_t* text) override;

    // The whole text, with CR LF between lines.
    std::u16string text() const;

  private:
    int lineOf(std::int64_t position) const;
    int toView(std::int64_t position) const;
    bool splitsPair(std::int64_t position) const;
    char16_t unitAt(std::int64_t position) const;
    void insertShown(QTextCursor& cursor, const std::u16string& text);
    void beginBatch();
    void endBatch();

    std::int64_t selStart_ = 0;
    std::int64_t selEnd_ = 0;
    QTextCursor batch_;  // holds the open edit block, if any
    bool batchOpen_ = false;
};

}  // namespace tarven
