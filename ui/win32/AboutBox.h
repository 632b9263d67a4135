#pragma once

#include <windows.h>

namespace tarven {

// Where the about box goes over its owner: centred on the owner's client area, at
// (client width - own width) / 2 and (client height - own height) / 2 from the client area's
// top-left corner on the screen, each part 0 when negative.
POINT aboutBoxPosition(const RECT& ownerClientOnScreen, SIZE ownSize);

// Shows the about box (template 103) modally, owned by `owner`. Its OK button, Enter and
// Escape end it.
void showAboutBox(HINSTANCE instance, HWND owner);

}  // namespace tarven
