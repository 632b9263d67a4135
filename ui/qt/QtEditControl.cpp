#include "ui/qt/QtEditControl.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "log/LogView.h"

namespace tarven {
namespace {

// What the document holds for a unit: the unit itself, except for those it would take for
// something else. A CR would end a block, and a CR LF pair would end it as one position.
QChar shownUnit(char16_t unit) {
    switch (unit) {
        case u'\r':
            return QChar(0x200B);  // ZERO WIDTH SPACE: a position of its own, drawn as nothing
        case 0xFDD0:               // the document's own frame marks
        case 0xFDD1:
            return QChar(0xFFFD);
        default:
            return QChar(unit);
    }
}

}  // namespace

QtEditControl::QtEditControl(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // Read-only, yet the caret still moves, so keys can scroll to text beyond the right edge.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    setUndoRedoEnabled(false);
    fill_.setSingleShot(true);
    fill_.setInterval(0);
    connect(&fill_, &QTimer::timeout, this, &QtEditControl::fillStep);
}

QtEditControl::~QtEditControl() {
    endBatch();
}

int QtEditControl::lineCount() const {
    return model_.lineCount();
}

std::int64_t QtEditControl::lineIndex(int line) const {
    return model_.lineIndex(line);
}

std::int64_t QtEditControl::textLength() const {
    return model_.textLength();
}

std::int64_t QtEditControl::characterLimit() const {
    return kLogCharacterLimit;
}

void QtEditControl::setSelection(std::int64_t start, std::int64_t end) {
    model_.setSelection(start, end);
}

void QtEditControl::replaceSelection(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    const std::int64_t start = model_.selectionStart();
    const std::int64_t end = model_.selectionEnd();
    const std::int64_t length = model_.textLength();
    model_.replaceSelection(text);
    beginBatch();
    if (start == 0 && end == length) {
        clearShown();
        QTextCursor cursor(document());
        insertFromEnd(cursor, text, std::char_traits<char16_t>::length(text));
        return;
    }
    if (start == 0 && *text == u'\0') {
        // The log's trimming: what it cuts comes off the front still to be shown first.
        const auto fromPending = std::min<std::int64_t>(end, std::ssize(pending_));
        pending_.erase(0, static_cast<std::size_t>(fromPending));
        removeShown(0, end - fromPending);
        return;
    }
    if (start != length)  // an edit inside the text: all of it in view first
        showPending(pending_.size());
    const auto held = std::ssize(pending_);
    removeShown(start - held, end - held);
    QTextCursor cursor(document());
    cursor.setPosition(static_cast<int>(start - held));
    insertFromEnd(cursor, text, std::char_traits<char16_t>::length(text));
}

void QtEditControl::setText(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    model_.setText(text);
    clearShown();
    QTextCursor cursor(document());
    insertFromEnd(cursor, text, std::char_traits<char16_t>::length(text));
}

void QtEditControl::clearShown() {
    pending_.clear();
    document()->clear();  // at once, where removing the text would cost each block
}

void QtEditControl::removeShown(std::int64_t start, std::int64_t end) {
    if (start == end)
        return;
    QTextCursor cursor(document());
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

void QtEditControl::insertFromEnd(QTextCursor& cursor, const char16_t* text, std::size_t length) {
    // Into an empty view a long text goes in from its end, so the end shows at once; the rest
    // follows a piece a turn of the event loop, and the window answers in between.
    if (length > kShownAtOnce && document()->isEmpty()) {
        const std::size_t front = length - kShownAtOnce;
        pending_.append(text, front);
        text += front;
        length -= front;
        fill_.start();
    }
    insertShown(cursor, text, length);
}

void QtEditControl::insertShown(QTextCursor& cursor, const char16_t* text, std::size_t length) {
    QString shown = QString::fromUtf16(text, static_cast<qsizetype>(length));
    for (QChar& unit : shown)
        unit = shownUnit(unit.unicode());
    // Each LF and U+2029 becomes a block break of one position.
    cursor.insertText(shown, QTextCharFormat());
}

void QtEditControl::showPending(std::size_t count) {
    if (count == 0)
        return;
    const bool atEnd = showsEnd();
    QScrollBar* scroll = verticalScrollBar();
    const int top = scroll->value();
    const int blocks = document()->blockCount();
    const std::size_t from = pending_.size() - count;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    insertShown(cursor, pending_.data() + from, count);
    cursor.endEditBlock();
    pending_.resize(from);
    // What goes in above keeps the view where it was: at the end, or on the same lines.
    if (atEnd)
        showEnd();
    else
        scroll->setValue(top + document()->blockCount() - blocks);
}

void QtEditControl::fillStep() {
    if (batchOpen_) {  // after the edits of this turn have been laid out
        fill_.start();
        return;
    }
    showPending(std::min(pending_.size(), kShownAtOnce));
    if (!pending_.empty())
        fill_.start();
}

void QtEditControl::beginBatch() {
    if (batchOpen_)
        return;
    batch_ = QTextCursor(document());
    batch_.beginEditBlock();
    batchOpen_ = true;
    QMetaObject::invokeMethod(this, &QtEditControl::endBatch, Qt::QueuedConnection);
}

// Lays out what changed and scrolls to the caret: where the last replacement put it.
bool QtEditControl::showsEnd() const {
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    return viewport()->rect().intersects(cursorRect(end));
}

void QtEditControl::showEnd() {
    QScrollBar* scroll = verticalScrollBar();
    scroll->setValue(scroll->maximum());
}

void QtEditControl::endBatch() {
    if (!batchOpen_)
        return;
    batchOpen_ = false;
    batch_.endEditBlock();
    batch_ = QTextCursor();
    QTextCursor caret = textCursor();
    caret.setPosition(static_cast<int>(model_.selectionEnd() - std::ssize(pending_)));
    setTextCursor(caret);
    ensureCursorVisible();
}

std::u16string QtEditControl::text() const {
    return model_.text();
}

QMimeData* QtEditControl::createMimeDataFromSelection() const {
    // A selection from the view's start takes what is still to be shown too.
    const QTextCursor cursor = textCursor();
    const std::size_t held = pending_.size();
    const std::size_t start =
        cursor.selectionStart() == 0 ? 0 : static_cast<std::size_t>(cursor.selectionStart()) + held;
    const std::size_t end = static_cast<std::size_t>(cursor.selectionEnd()) + held;
    const std::u16string real = model_.text().substr(start, end - start);
    auto* copy = new QMimeData;
    copy->setText(QString::fromStdU16String(real));
    return copy;
}

}  // namespace tarven
