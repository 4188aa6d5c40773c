#pragma once

#include <QRect>

class QWidget;

// Geometry is written in twips; 15 of them make one logical pixel at every
// screen density (Qt's device-pixel ratio scales logical pixels for high-DPI).
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

namespace Twips {
inline constexpr int perPixel = 15;

// Rounds to the nearest pixel; twips here are never negative.
constexpr int toPixels(int twips) { return (twips + 7) / perPixel; }
constexpr int fromPixels(int pixels) { return pixels * perPixel; }
QRect toRect(const TwipsRect &r);
void place(QWidget &widget, const TwipsRect &r);
} // namespace Twips
