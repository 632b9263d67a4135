#pragma once

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>
#include <cstdint>
#include <string>

#include "log/MemoryEditControl.h"
#include "log/Window.h"

class QMimeData;

namespace tarven {

// The desktop's log control: a read-only, unwrapped text view with the line rules of the log,
// where only CR LF ends a line.
//
// The text and its line structure are kept in a MemoryEditControl; the document shows the
// same text unit for unit, so a position in one is the same position in the other (less the
// front of a long text that is still going in, see pending_). It shows
// the answer the way it reads: every LF (and U+2029) breaks the line on screen, a CR takes no
// room, and the document's frame marks show as U+FFFD. Text copied out of the view holds the
// real units. Every operation costs what it touches, never the whole text.
//
// Edits made between two turns of the event loop form one edit of the document, laid out
// and scrolled to the caret when the loop next runs, so a burst of appends is laid out once.
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
    // kLogCharacterLimit.
    std::int64_t characterLimit() const override;

    // The whole text, with CR LF between lines.
    std::u16string text() const;
    // Whether the view shows the text's last line, and scrolling there.
    bool showsEnd() const;
    void showEnd();

  protected:
    QMimeData* createMimeDataFromSelection() const override;

  private:
    // Units put into an empty view at once, and into the view a step at a time after that.
    static constexpr std::size_t kShownAtOnce = 64 * 1024;

    void clearShown();
    void removeShown(std::int64_t start, std::int64_t end);
    void insertFromEnd(QTextCursor& cursor, const char16_t* text, std::size_t length);
    void insertShown(QTextCursor& cursor, const char16_t* text, std::size_t length);
    // Puts the last `count` units of pending_ in front of the view's text.
    void showPending(std::size_t count);
    void fillStep();
    void beginBatch();
    void endBatch();

    MemoryEditControl model_;  // the text, its lines and the selection
    // The text's front, not yet in the view: a view position is the text position less its
    // length. It goes in from its end with fill_.
    std::u16string pending_;
    QTimer fill_;
    QTextCursor batch_;  // holds the open edit block, if any
    bool batchOpen_ = false;
};

}  // namespace tarven
