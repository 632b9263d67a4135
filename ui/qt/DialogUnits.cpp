#include "ui/qt/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

namespace tarven {
namespace {

constexpr int kLettersInAlphabet = 52;
constexpr int kUnitsPerBaseWidth = 4;
constexpr int kUnitsPerBaseHeight = 8;

int scale(int units, int base, int divisor) {
    return (units * base + divisor / 2) / divisor;
}

}  // namespace

QSize dialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int width = (letters + kLettersInAlphabet / 2) / kLettersInAlphabet;
    return {width, metrics.height()};
}

QRect toPixels(const templates::DialogRect& rect, QSize base) {
    return {scale(rect.x, base.width(), kUnitsPerBaseWidth),
            scale(rect.y, base.height(), kUnitsPerBaseHeight),
            scale(rect.width, base.width(), kUnitsPerBaseWidth),
            scale(rect.height, base.height(), kUnitsPerBaseHeight)};
}

QFont dialogFont(int points) {
    QFont font = QApplication::font();
    font.setPointSize(points);
    return font;
}

}  // namespace tarven
