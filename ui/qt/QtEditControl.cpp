#include "ui/qt/QtEditControl.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

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
    const bool whole = start == 0 && end == model_.textLength();
    model_.replaceSelection(text);
    beginBatch();
    if (whole)
        document()->clear();  // at once, where removing the text would cost each block
    QTextCursor cursor(document());
    if (!whole) {
        cursor.setPosition(static_cast<int>(start));
        cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    insertShown(cursor, text);
}

void QtEditControl::setText(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    model_.setText(text);
    document()->clear();
    QTextCursor cursor(document());
    insertShown(cursor, text);
}

void QtEditControl::insertShown(QTextCursor& cursor, const char16_t* text) {
    QString shown = QString::fromUtf16(text);
    for (QChar& unit : shown)
        unit = shownUnit(unit.unicode());
    // Each LF and U+2029 becomes a block break of one position.
    cursor.insertText(shown, QTextCharFormat());
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
    caret.setPosition(static_cast<int>(model_.selectionEnd()));
    setTextCursor(caret);
    ensureCursorVisible();
}

std::u16string QtEditControl::text() const {
    return model_.text();
}

QMimeData* QtEditControl::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    const auto start = static_cast<std::size_t>(cursor.selectionStart());
    const auto end = static_cast<std::size_t>(cursor.selectionEnd());
    const std::u16string real = model_.text().substr(start, end - start);
    auto* copy = new QMimeData;
    copy->setText(QString::fromStdU16String(real));
    return copy;
}

}  // namespace tarven
