#include "gui/window/desktop_scale.h"

#include <QGroupBox>

#include <algorithm>
#include <cmath>

namespace veloxa::window {

LayoutScale layoutScale(const QFont &desktopFont, int logicalDpi)
{
    constexpr double kPointsPerInch = 72.0;
    const double dpi = logicalDpi > 0 ? logicalDpi : kDesignDpi;
    double points = desktopFont.pointSizeF();
    if (points <= 0 && desktopFont.pixelSize() > 0) // a font set in pixels
        points = desktopFont.pixelSize() * kPointsPerInch / dpi;
    LayoutScale scale;
    scale.font = std::max(1.0, points / kDesignPointSize);
    // Point sizes grow with the DPI by themselves; positions and sizes in
    // pixels have to be told.
    scale.geometry = scale.font * std::max(1.0, dpi / kDesignDpi);
    return scale;
}

void scaleGeometry(QWidget &window, double factor)
{
    const auto edge = [factor](int position) { return static_cast<int>(std::lround(position * factor)); };
    const auto widgets = window.findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        QWidget *container = widget->parentWidget();
        if (widget->isWindow() || (container != &window && !qobject_cast<QGroupBox *>(container)))
            continue; // parts of a control, placed by the control itself
        const QRect place = widget->geometry();
        const int left = edge(place.x());
        const int top = edge(place.y());
        widget->setGeometry(left, top, edge(place.x() + place.width()) - left, edge(place.y() + place.height()) - top);
    }
}

} // namespace veloxa::window
