#include "ui/win32/Win32EditControl.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "log/LogView.h"

namespace tarven {
namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// The clipboard, open for as long as the object lives.
class OpenClipboardScope {
  public:
    explicit OpenClipboardScope(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
    ~OpenClipboardScope() {
        if (open_)
            CloseClipboard();
    }
    OpenClipboardScope(const OpenClipboardScope&) = delete;
    OpenClipboardScope& operator=(const OpenClipboardScope&) = delete;
    bool open() const { return open_; }

  private:
    bool open_;
};

struct FreeGlobal {
    void operator()(void* memory) const { GlobalFree(memory); }
};
using GlobalMemory = std::unique_ptr<void, FreeGlobal>;

}  // namespace

Win32EditControl::Win32EditControl(HWND edit)
    : edit_(edit), previousProc_(nullptr), model_(MemoryEditControl::Keep::text) {
    // The classic limit is some 30,000 units; the log keeps its own.
    SendMessageW(edit_, EM_SETLIMITTEXT, 0, 0);
    SetWindowTextW(edit_, L"");
    SetWindowLongPtrW(edit_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    previousProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&editProc)));
}

Win32EditControl::~Win32EditControl() {
    SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    SetWindowLongPtrW(edit_, GWLP_USERDATA, 0);
}

LRESULT CALLBACK Win32EditControl::editProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    auto* control = reinterpret_cast<Win32EditControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (control == nullptr)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_COPY) {
        control->copySelection();
        return 0;
    }
    // A multi-line edit in a dialog answers Escape by closing the dialog; leave Escape to the
    // dialog, whose cancel command it is (in the main window: hide).
    if (message == WM_GETDLGCODE && lParam != 0 &&
        reinterpret_cast<const MSG*>(lParam)->wParam == VK_ESCAPE)
        return CallWindowProcW(control->previousProc_, window, message, wParam, lParam) &
               ~(DLGC_WANTALLKEYS | DLGC_WANTMESSAGE);
    if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_ESCAPE)
        return 0;
    return CallWindowProcW(control->previousProc_, window, message, wParam, lParam);
}

int Win32EditControl::lineCount() const {
    return model_.lineCount();
}

std::int64_t Win32EditControl::lineIndex(int line) const {
    return model_.lineIndex(line);
}

std::int64_t Win32EditControl::textLength() const {
    return model_.textLength();
}

std::int64_t Win32EditControl::characterLimit() const {
    return kLogCharacterLimit;
}

void Win32EditControl::setSelection(std::int64_t start, std::int64_t end) {
    model_.setSelection(start, end);
}

std::int64_t Win32EditControl::shownPosition(std::int64_t real) const {
    const auto before = std::lower_bound(lone_.begin(), lone_.end(), real + origin_);
    return real + (before - lone_.begin());
}

std::int64_t Win32EditControl::realPosition(std::int64_t shown) const {
    // The k-th lone LF, at real q, shows as CR at q + k and LF at q + k + 1; a position from
    // just after that CR on maps past it.
    std::size_t low = 0;
    std::size_t high = lone_.size();
    while (low < high) {
        const std::size_t middle = (low + high) / 2;
        const std::int64_t afterCr =
            lone_[middle] - origin_ + static_cast<std::int64_t>(middle) + 1;
        if (afterCr <= shown) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return std::clamp<std::int64_t>(shown - static_cast<std::int64_t>(low), 0, model_.textLength());
}

// Whether a CR LF pair stands at position-1 and position: a line then begins after it.
bool Win32EditControl::pairEndsAt(std::int64_t position) const {
    int low = 1;
    int high = model_.lineCount() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const std::int64_t start = model_.lineIndex(middle);
        if (start == position + 1)
            return true;
        if (start < position + 1) {
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return false;
}

void Win32EditControl::replaceSelection(const char16_t* text) {
    if (text == nullptr)
        text = u"";
    const std::int64_t start = model_.selectionStart();
    const std::int64_t end = model_.selectionEnd();
    const std::int64_t length = model_.textLength();
    if (start == length) {
        append(text);
        model_.replaceSelection(text);
    } else if (start == 0 && end == length) {
        setText(text);
    } else if (start == 0 && *text == u'\0') {
        cutFront(end);  // reads the line structure before the cut
        model_.replaceSelection(text);
    } else {
        model_.replaceSelection(text);
        showAll();
    }
}

void Win32EditControl::setText(const char16_t* text) {
    model_.setText(text == nullptr ? u"" : text);
    showAll();
}

void Win32EditControl::append(const char16_t* text) {
    const std::int64_t base = model_.textLength();
    std::u16string shown;
    char16_t previous = last_;
    for (const char16_t* unit = text; *unit != u'\0'; ++unit) {
        if (*unit == u'\n' && previous != u'\r') {
            lone_.push_back(base + (unit - text) + origin_);
            shown += u'\r';
        }
        shown += *unit;
        previous = *unit;
    }
    last_ = previous;
    // At the window's end: the new lone LFs show within `shown`.
    const auto shownLength = static_cast<std::int64_t>(GetWindowTextLengthW(edit_));
    replaceShown(shownLength, shownLength, shown);
}

void Win32EditControl::cutFront(std::int64_t count) {
    // A cut between the CR and the LF of a pair leaves a lone LF in front, which shows as
    // CR LF: the pair's CR then stays on screen as its CR.
    const bool splitsPair = pairEndsAt(count);
    const std::int64_t shownCut = shownPosition(count);
    while (!lone_.empty() && lone_.front() - origin_ < count)
        lone_.pop_front();
    origin_ += count;
    if (splitsPair) {
        lone_.push_front(origin_);
        replaceShown(0, shownCut - 1, u"");
    } else {
        replaceShown(0, shownCut, u"");
    }
}

void Win32EditControl::showAll() {
    const std::u16string real = model_.text();
    lone_.clear();
    origin_ = 0;
    std::u16string shown;
    shown.reserve(real.size());
    char16_t previous = 0;
    for (std::size_t i = 0; i < real.size(); ++i) {
        if (real[i] == u'\n' && previous != u'\r') {
            lone_.push_back(static_cast<std::int64_t>(i));
            shown += u'\r';
        }
        shown += real[i];
        previous = real[i];
    }
    last_ = previous;
    SetWindowTextW(edit_, wide(shown.c_str()));
    const auto caret = static_cast<WPARAM>(shownPosition(model_.selectionEnd()));
    SendMessageW(edit_, EM_SETSEL, caret, static_cast<LPARAM>(caret));
    SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
}

void Win32EditControl::replaceShown(std::int64_t start, std::int64_t end,
                                    const std::u16string& shown) {
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide(shown.c_str())));
}

std::u16string Win32EditControl::text() const {
    return model_.text();
}

std::u16string Win32EditControl::shownText() const {
    const int length = GetWindowTextLengthW(edit_);
    std::u16string shown(static_cast<std::size_t>(length) + 1, u'\0');
    const int copied = GetWindowTextW(edit_, reinterpret_cast<wchar_t*>(shown.data()), length + 1);
    shown.resize(static_cast<std::size_t>(std::max(copied, 0)));
    return shown;
}

bool Win32EditControl::showsEnd() const {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(edit_, SB_VERT, &info))
        return true;  // nothing to scroll
    return info.nPos + static_cast<int>(info.nPage) > info.nMax;
}

void Win32EditControl::showEnd() {
    SendMessageW(edit_, WM_VSCROLL, SB_BOTTOM, 0);
}

bool Win32EditControl::copySelection() const {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    const std::int64_t realStart = realPosition(start);
    const std::int64_t realEnd = std::max(realStart, realPosition(end));
    const std::u16string real = model_.text().substr(static_cast<std::size_t>(realStart),
                                                     static_cast<std::size_t>(realEnd - realStart));
    const std::size_t bytes = (real.size() + 1) * sizeof(char16_t);
    GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!memory)
        return false;
    void* locked = GlobalLock(memory.get());
    if (locked == nullptr)
        return false;
    std::memcpy(locked, real.c_str(), bytes);
    GlobalUnlock(memory.get());
    const OpenClipboardScope clipboard(edit_);
    if (!clipboard.open() || !EmptyClipboard())
        return false;
    if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr)
        return false;
    memory.release();  // the clipboard owns it now
    return true;
}

}  // namespace tarven
