#include "ui/win32/AboutBox.h"

#include <algorithm>

#include "ui/win32/ResourceIds.h"

namespace tarven {
namespace {

INT_PTR CALLBACK aboutProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            RECT own;
            if (!GetWindowRect(box, &own))
                return TRUE;
            RECT client{};
            const HWND owner = GetWindow(box, GW_OWNER);
            if (owner != nullptr && GetClientRect(owner, &client)) {
                // Over the owner wherever it stands on the screen.
                MapWindowPoints(owner, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
            }
            const POINT at = aboutBoxPosition(client, {own.right - own.left, own.bottom - own.top});
            SetWindowPos(box, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(box, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(box, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

POINT aboutBoxPosition(const RECT& ownerClientOnScreen, SIZE ownSize) {
    const LONG width = ownerClientOnScreen.right - ownerClientOnScreen.left;
    const LONG height = ownerClientOnScreen.bottom - ownerClientOnScreen.top;
    return {std::max<LONG>(ownerClientOnScreen.left + (width - ownSize.cx) / 2, 0),
            std::max<LONG>(ownerClientOnScreen.top + (height - ownSize.cy) / 2, 0)};
}

void showAboutBox(HINSTANCE instance, HWND owner) {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(TARVEN_ABOUT_BOX), owner, aboutProc, 0);
}

}  // namespace tarven
