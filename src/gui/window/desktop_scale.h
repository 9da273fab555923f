#pragma once
// The window's fixed layout drawn larger where the desktop asks for larger
// text: a desktop application font larger than the one the layout was made
// for, or (where Qt's own scaling is off) a font DPI above 96. Every
// position, size and font then grows by the same factor, so nothing clips
// and the arrangement stays. With the default font nothing changes.

#include <QFont>
#include <QWidget>

namespace veloxa::window {

// The application font Qt gives where the desktop sets none, which the
// layout (window font 8 pt, frame captions 8.25 pt) was made beside.
inline constexpr double kDesignPointSize = 9.0;
inline constexpr int kDesignDpi = 96;

struct LayoutScale {
    double font = 1.0; // for every point size
    double geometry = 1.0; // for every position and size in pixels
};

// Never below 1: a smaller desktop font leaves the window as designed.
LayoutScale layoutScale(const QFont &desktopFont, int logicalDpi);

// Every control's place and size inside the window and its frames, scaled
// edge by edge, so that neighbours stay neighbours.
void scaleGeometry(QWidget &window, double factor);

} // namespace veloxa::window
