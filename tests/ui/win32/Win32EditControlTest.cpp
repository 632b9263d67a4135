#include <windows.h>

#include <memory>

#include "log/EditControlContract.h"
#include "ui/win32/Win32EditControl.h"

namespace tarven::test {

// A window from CreateWindowExW. Under Wine a window case has at times got no window, all of
// its process's tries failing together while the cases around it got theirs, so it tries for
// up to two seconds and says what the system answered if it never gets one.
HWND createWindow(const wchar_t* windowClass, DWORD style, HWND parent) {
    DWORD error = 0;
    for (int attempt = 0; attempt < 20; ++attempt, Sleep(100)) {
        if (const HWND window = CreateWindowExW(0, windowClass, L"", style, 0, 0, 200, 120, parent,
                                                nullptr, nullptr, nullptr))
            return window;
        error = GetLastError();
    }
    ADD_FAILURE() << "no window: CreateWindowExW failed with error " << error;
    return nullptr;
}

namespace {

// A real EDIT window, as the dialog makes it, with the control over it.
class EditWindow final : public EditControl {
  public:
    EditWindow()
        : window_(createWindow(
              L"EDIT", WS_POPUP | ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_VSCROLL,
              nullptr)),
          control_(std::make_unique<Win32EditControl>(window_)) {}
    ~EditWindow() override {
        control_.reset();
        DestroyWindow(window_);
    }
    int lineCount() const override { return control_->lineCount(); }
    std::int64_t lineIndex(int line) const override { return control_->lineIndex(line); }
    void setSelection(std::int64_t a, std::int64_t b) override { control_->setSelection(a, b); }
    void replaceSelection(const char16_t* text) override { control_->replaceSelection(text); }
    std::int64_t textLength() const override { return control_->textLength(); }
    void setText(const char16_t* text) override { control_->setText(text); }
    Win32EditControl& control() { return *control_; }
    HWND handle() const { return window_; }

  private:
    HWND window_;
    std::unique_ptr<Win32EditControl> control_;
};

INSTANTIATE_TEST_SUITE_P(Win32, EditControlContract,
                         testing::Values(EditControlKind{
                             "Win32", [] { return std::make_unique<EditWindow>(); },
                             [](const EditControl& control) {
                                 return const_cast<EditWindow&>(
                                            static_cast<const EditWindow&>(control))
                                     .control()
                                     .text();
                             }}),
                         kindName);

void append(EditControl& control, const char16_t* text) {
    control.setSelection(control.textLength(), control.textLength());
    control.replaceSelection(text);
}

std::u16string clipboardText() {
    std::u16string text;
    if (!OpenClipboard(nullptr))
        return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* units = static_cast<const char16_t*>(GlobalLock(data))) {
            text = units;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

TEST(Win32EditControlTest, LoneLfShowsAsCrLfWhileLinesAndCopiesKeepTheRealText) {
    EditWindow edit;
    ASSERT_NE(edit.handle(), nullptr);
    append(edit, u"a\nb\r");
    append(edit, u"\nc\r\n\nd");  // the LF in front pairs with the CR before it
    Win32EditControl& control = edit.control();
    EXPECT_EQ(control.text(), u"a\nb\r\nc\r\n\nd");
    EXPECT_EQ(control.shownText(), u"a\r\nb\r\nc\r\n\r\nd");
    EXPECT_EQ(control.lineCount(), 3);

    SendMessageW(edit.handle(), EM_SETSEL, 0, -1);
    SendMessageW(edit.handle(), WM_COPY, 0, 0);
    EXPECT_EQ(clipboardText(), control.text());
    // A selection that starts between the shown CR and LF of a lone LF copies from that LF.
    SendMessageW(edit.handle(), EM_SETSEL, 2, 5);
    SendMessageW(edit.handle(), WM_COPY, 0, 0);
    EXPECT_EQ(clipboardText(), u"\nb\r");

    // A cut between the CR and the LF of a pair leaves a lone LF, which shows as CR LF.
    edit.setSelection(0, 4);
    edit.replaceSelection(u"");
    EXPECT_EQ(control.text(), u"\nc\r\n\nd");
    EXPECT_EQ(control.shownText(), u"\r\nc\r\n\r\nd");
    EXPECT_EQ(control.realPosition(2), 1);
    edit.setSelection(2, 3);  // any other edit shows the whole text anew
    edit.replaceSelection(u"\n");
    EXPECT_EQ(control.text(), u"\nc\n\n\nd");
    EXPECT_EQ(control.shownText(), u"\r\nc\r\n\r\n\r\nd");
}

}  // namespace
}  // namespace tarven::test

// A multi-line edit in a dialog would close the dialog on Escape; in the main window Escape
// must reach the dialog as its cancel command ("hide"), whichever control has the focus.
TEST(Win32EditControlTest, LeavesEscapeToTheDialog) {
    const HWND parent = tarven::test::createWindow(L"STATIC", WS_POPUP, nullptr);
    ASSERT_NE(parent, nullptr);
    const HWND edit =
        tarven::test::createWindow(L"EDIT", WS_CHILD | ES_MULTILINE | ES_READONLY, parent);
    ASSERT_NE(edit, nullptr);
    {
        tarven::Win32EditControl control(edit);
        MSG escape{edit, WM_KEYDOWN, VK_ESCAPE, 0, 0, {}};
        const LRESULT code =
            SendMessageW(edit, WM_GETDLGCODE, VK_ESCAPE, reinterpret_cast<LPARAM>(&escape));
        EXPECT_EQ(code & (DLGC_WANTALLKEYS | DLGC_WANTMESSAGE), 0);
        MSG down{edit, WM_KEYDOWN, VK_DOWN, 0, 0, {}};
        EXPECT_NE(SendMessageW(edit, WM_GETDLGCODE, VK_DOWN, reinterpret_cast<LPARAM>(&down)) &
                      DLGC_WANTARROWS,
                  0);
        SendMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
        MSG posted{};
        EXPECT_FALSE(PeekMessageW(&posted, parent, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    }
    DestroyWindow(parent);
}
