#pragma once

// The program's two dialog templates, in dialog units. The windows that build from them turn
// the units into pixels with the dialog font (ui/qt/DialogUnits.h).

namespace tarven::templates {

struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct ControlTemplate {
    int id;
    const char* text;
    DialogRect rect;
};

// Main window, template 104: caption, system menu and help button, centred on the screen.
// The controls are listed in tab order.
inline constexpr int kMainWindowTemplate = 104;
inline constexpr const char* kMainWindowCaption = "Tarven";
inline constexpr int kMainWindowWidth = 139;
inline constexpr int kMainWindowHeight = 96;
inline constexpr int kMainWindowFontPoints = 9;
inline constexpr ControlTemplate kHideButton{2, "hide", {95, 5, 40, 12}};
inline constexpr ControlTemplate kTestButton{3, "TEST", {50, 5, 40, 12}};
inline constexpr ControlTemplate kLogEdit{1005, "", {4, 20, 132, 75}};

// About box, template 103. Its OK button stands in the box, as a desktop caption has no room
// for one.
inline constexpr int kAboutBoxTemplate = 103;
inline constexpr const char* kAboutBoxCaption = "Tarven のバージョン情報";
inline constexpr int kAboutBoxWidth = 125;
inline constexpr int kAboutBoxHeight = 55;
inline constexpr int kAboutBoxFontPoints = 9;
inline constexpr ControlTemplate kAboutIcon{-1, "", {6, 17, 20, 20}};
inline constexpr ControlTemplate kAboutVersion{-1, "Tarven Version 0.1", {38, 10, 70, 8}};
inline constexpr ControlTemplate kAboutOrigin{-1, "Written anew for Linux", {33, 25, 86, 8}};
inline constexpr ControlTemplate kAboutOk{1, "OK", {79, 39, 40, 12}};

// Icon groups: 101 holds 32 x 32 and 16 x 16 images, 105 one 16 x 16 image.
inline constexpr const char* kIcon101Large = ":/icons/tarven-101-32.xpm";
inline constexpr const char* kIcon101Small = ":/icons/tarven-101-16.xpm";
inline constexpr const char* kIcon105 = ":/icons/tarven-105-16.xpm";

}  // namespace tarven::templates
