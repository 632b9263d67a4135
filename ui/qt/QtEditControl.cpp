#include "ui/qt/QtEditControl.h"

#include <QColor>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "platform/TextCodec.h"

namespace tarven {
namespace {

// The character-format property that holds the unit a stand-in replaces.
constexpr int kOriginalUnit = QTextFormat::UserProperty + 1;

constexpr char16_t kFrameStart = 0xFDD0;  // the document's own frame marks
constexpr char16_t kFrameEnd = 0xFDD1;

// What the view shows for a unit that would otherwise break the line, or 0 for any other.
char16_t standInFor(char16_t unit) {
    switch (unit) {
        case u'\r':
            return 0x240D;  // SYMBOL FOR CARRIAGE RETURN
        case u'\n':
            return 0x240A;  // SYMBOL FOR LINE FEED
        case 0x2028:
            return 0x2424;  // SYMBOL FOR NEWLINE
        case 0x2029:
            return 0x00B6;  // PILCROW SIGN
        case kFrameStart:
        case kFrameEnd:
            return 0xFFFD;
        default:
            return 0;
    }
}

QTextCharFormat standInFormat(char16_t unit) {
    QTextCharFormat format;
    format.setProperty(kOriginalUnit, static_cast<int>(unit));
    format.setForeground(QColor(Qt::gray));
    return format;
}

QString toQString(const char16_t* text, std::size_t length) {
    return QString::fromUtf16(text, static_cast<qsizetype>(length));
}

}  // namespace

QtEditControl::QtEditControl(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    // Read-only, yet the caret still moves, so keys can scroll to text beyond the right edge.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setUndoRedoEnabled(false);
}

QtEditControl::~QtEditControl() {
    endBatch();
}

int QtEditControl::lineCount() const {
    return document()->blockCount();
}

std::int64_t QtEditControl::lineIndex(int line) const {
    if (line < 0 || line >= lineCount())
        return -1;
    return document()->findBlockByNumber(line).position() + static_cast<std::int64_t>(line);
}

std::int64_t QtEditControl::textLength() const {
    // characterCount() counts one separator after every block, the last one included.
    return document()->characterCount() - 1 + static_cast<std::int64_t>(lineCount()) - 1;
}

// The line that holds `position`; a position between the CR and LF of a pair belongs to the
// line that the pair ends.
int QtEditControl::lineOf(std::int64_t position) const {
    int low = 0;
    int high = lineCount() - 1;
    if (lineIndex(high) <= position)
        return high;  // appends land on the last line
    while (low < high) {
        const int middle = low + (high - low + 1) / 2;
        if (lineIndex(middle) <= position) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

int QtEditControl::toView(std::int64_t position) const {
    return static_cast<int>(position - lineOf(position));
}

bool QtEditControl::splitsPair(std::int64_t position) const {
    return position > 0 && lineIndex(lineOf(position) + 1) == position + 1;
}

char16_t QtEditControl::unitAt(std::int64_t position) const {
    const int line = lineOf(position);
    const std::int64_t next = lineIndex(line + 1);
    if (next != -1 && position == next - 2)
        return u'\r';
    if (next != -1 && position == next - 1)
        return u'\n';
    const int view = static_cast<int>(position - line);
    QTextCursor cursor(document());
    cursor.setPosition(view + 1);  // the format of the unit before the cursor
    const QTextCharFormat format = cursor.charFormat();
    if (format.hasProperty(kOriginalUnit)) {
        return static_cast<char16_t>(format.intProperty(kOriginalUnit));
    }
    return document()->characterAt(view).unicode();
}

void QtEditControl::setSelection(std::int64_t start, std::int64_t end) {
    const std::int64_t length = textLength();
    start = std::clamp<std::int64_t>(start, 0, length);
    end = std::clamp<std::int64_t>(end, 0, length);
    selStart_ = std::min(start, end);
    selEnd_ = std::max(start, end);
}

void QtEditControl::replaceSelection(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    const std::int64_t start = selStart_;
    const std::int64_t end = selEnd_;
    const std::int64_t length = textLength();

    // Widen the range so that it splits no pair and takes in a neighbour that could join the
    // new text in a pair; the rest of the document keeps its blocks.
    std::int64_t from = start;
    if (splitsPair(from) || (from > 0 && unitAt(from - 1) == u'\r'))
        --from;
    std::int64_t to = end;
    if (splitsPair(to) || (to < length && unitAt(to) == u'\n'))
        ++to;

    std::u16string replacement;
    for (std::int64_t p = from; p < start; ++p)
        replacement += unitAt(p);
    const std::size_t inserted = platform::wideLength(text);
    replacement.append(text, inserted);
    for (std::int64_t p = end; p < to; ++p)
        replacement += unitAt(p);

    beginBatch();
    QTextCursor cursor(document());
    cursor.setPosition(toView(from));
    cursor.setPosition(toView(to), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    insertShown(cursor, replacement);

    selStart_ = selEnd_ = start + static_cast<std::int64_t>(inserted);
}

void QtEditControl::setText(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    insertShown(cursor, std::u16string(text));
    selStart_ = selEnd_ = 0;
}

void QtEditControl::insertShown(QTextCursor& cursor, const std::u16string& text) {
    std::size_t runStart = 0;
    const auto flush = [&](std::size_t runEnd) {
        if (runEnd > runStart) {
            cursor.insertText(toQString(text.data() + runStart, runEnd - runStart),
                              QTextCharFormat());
        }
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            flush(i);
            cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
            runStart = ++i + 1;
        } else if (const char16_t standIn = standInFor(unit)) {
            flush(i);
            cursor.insertText(QString(QChar(standIn)), standInFormat(unit));
            runStart = i + 1;
        }
    }
    flush(text.size());
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
void QtEditControl::endBatch() {
    if (!batchOpen_)
        return;
    batchOpen_ = false;
    batch_.endEditBlock();
    batch_ = QTextCursor();
    QTextCursor caret = textCursor();
    caret.setPosition(toView(selEnd_));
    setTextCursor(caret);
    ensureCursorVisible();
}

std::u16string QtEditControl::text() const {
    std::u16string text;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block != document()->begin())
            text += u"\r\n";
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString shown = fragment.text();
            const QTextCharFormat format = fragment.charFormat();
            if (format.hasProperty(kOriginalUnit)) {
                text.append(static_cast<std::size_t>(shown.size()),
                            static_cast<char16_t>(format.intProperty(kOriginalUnit)));
            } else {
                text.append(reinterpret_cast<const char16_t*>(shown.utf16()),
                            static_cast<std::size_t>(shown.size()));
            }
        }
    }
    return text;
}

}  // namespace tarven
