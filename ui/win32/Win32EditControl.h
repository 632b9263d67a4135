#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>

#include "log/MemoryEditControl.h"
#include "log/Window.h"

namespace tarven {

// The desktop's log control over a classic multi-line EDIT window, with the line rules of the
// log, where only CR LF ends a line.
//
// The real text and its line structure are kept in a MemoryEditControl. The EDIT window breaks
// lines at CR LF only, so it is given the text with every lone LF (one that no CR comes before)
// shown as CR LF; everything else shows unit for unit. The log's own edits (appends at the end,
// cuts at the front, setting the whole text) cost what they touch; any other edit shows the
// whole text anew. A copy (Ctrl+C, or the menu's Copy) puts the real units of the selection on
// the clipboard, not the shown ones.
//
// The control does not own the window; it takes it over until it is destroyed, which must come
// before the window goes.
class Win32EditControl final : public EditControl {
  public:
    explicit Win32EditControl(HWND edit);
    ~Win32EditControl() override;
    Win32EditControl(const Win32EditControl&) = delete;
    Win32EditControl& operator=(const Win32EditControl&) = delete;

    int lineCount() const override;
    std::int64_t lineIndex(int line) const override;
    void setSelection(std::int64_t start, std::int64_t end) override;
    void replaceSelection(const char16_t* text) override;
    std::int64_t textLength() const override;
    void setText(const char16_t* text) override;
    // kLogCharacterLimit.
    std::int64_t characterLimit() const override;

    // The whole real text, and the text the window shows.
    std::u16string text() const;
    std::u16string shownText() const;
    // The real position of a position in the shown text.
    std::int64_t realPosition(std::int64_t shown) const;
    // Whether the window shows the text's last line, and scrolling there.
    bool showsEnd() const;
    void showEnd();
    // Puts the real units behind the window's selection on the clipboard; false when the
    // clipboard could not be had.
    bool copySelection() const;

  private:
    static LRESULT CALLBACK editProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    std::int64_t shownPosition(std::int64_t real) const;
    bool pairEndsAt(std::int64_t position) const;
    void append(const char16_t* text);
    void cutFront(std::int64_t count);
    void showAll();
    void replaceShown(std::int64_t start, std::int64_t end, const std::u16string& shown);

    HWND edit_;
    WNDPROC previousProc_;
    MemoryEditControl model_;  // the real text, its lines and the selection
    // Real positions of the lone LFs, each plus origin_, in order; each takes one more unit
    // on screen, the CR shown before it.
    std::deque<std::int64_t> lone_;
    std::int64_t origin_ = 0;
    char16_t last_ = 0;  // the real text's last unit, 0 when empty
};

}  // namespace tarven
