#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include "ui/resources/DialogTemplates.h"

namespace tarven {

// The pixel size of one average character of a dialog font: its width over the letters A-Z
// and a-z, and its height.
QSize dialogBaseUnits(const QFont& font);

// Dialog units to pixels: x and width by base width / 4, y and height by base height / 8,
// each rounded to the nearest pixel.
QRect toPixels(const templates::DialogRect& rect, QSize base);

// The font a template names, on this desktop: the application's font at the given size.
QFont dialogFont(int points);

}  // namespace tarven
