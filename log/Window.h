#pragma once

#include <cstddef>
#include <cstdint>

namespace tarven {

// UTF-8 text for the log, with what its conversion to UTF-16 (platform/TextCodec.h) makes of it.
struct Utf8Text {
    const char* bytes;
    std::size_t count;  // none of them NUL
    std::size_t units;  // the UTF-16 units it converts to
    bool wellFormed;    // converting it to UTF-16 and back gives the same bytes
};

// The operations of a multi-line edit control that the log uses. Positions count UTF-16 units;
// lines are separated by CR LF, and a lone CR or LF does not start a line.
class EditControl {
  public:
    virtual ~EditControl() = default;
    // CR LF pairs plus one: an empty text counts one line.
    virtual int lineCount() const = 0;
    // The position at which line `line` (from 0) begins, or -1 when there is no such line.
    virtual std::int64_t lineIndex(int line) const = 0;
    virtual void setSelection(std::int64_t start, std::int64_t end) = 0;
    // Replaces the selection with the NUL-terminated text; the caret then stands after it.
    virtual void replaceSelection(const char16_t* text) = 0;
    // The same edit as replaceSelection with the text converted to UTF-16, which is what this
    // does unless a control has a shorter way (LogView.cpp).
    virtual void replaceSelectionUtf8(const Utf8Text& text);
    virtual std::int64_t textLength() const = 0;
    virtual void setText(const char16_t* text) = 0;
    // The most units the log is to hold in this control, or 0 for no limit. The log's appends
    // keep within it (LogView.h); the control itself holds whatever it is given.
    virtual std::int64_t characterLimit() const { return 0; }
};

// A window that holds controls by id, as the main window holds its log.
class Window {
  public:
    virtual ~Window() = default;
    // The control with this id, or none.
    virtual EditControl* findControl(int id) = 0;
};

inline constexpr int kLogControlId = 1005;

}  // namespace tarven
