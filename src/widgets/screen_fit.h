#pragma once

// Windows open inside the available area of their screen (without panels and
// docks): a window larger than that area is made smaller, down to its minimum,
// and every window is centred in it.

#include <QRect>
#include <QSize>

class QWidget;

namespace vexory {

// False on the offscreen and minimal platforms: a server without a display.
bool HasDisplay();

// Where a window of `wanted` size (frame included) goes in `available`: no larger
// than the area unless its `minimum` is, centred, never above or left of it.
QRect FittedRect(QSize wanted, QSize minimum, const QRect& available);

// Resizes (to `wanted`, or as much of it as fits) and centres a top-level window on
// its screen. With `fixed` the window keeps that size (setFixedSize).
void FitOnScreen(QWidget* window, QSize wanted, bool fixed = false);

} // namespace vexory
