#include "gui/window/window_position.h"

#include "core/numbers/numbers.h"
#include "core/rules/restore_checks.h"
#include "gui/window/restore.h"

#include <QGuiApplication>
#include <QScreen>

namespace veloxa::window {

ScreenFacts currentScreens()
{
    ScreenFacts facts;
    if (QScreen *primary = QGuiApplication::primaryScreen()) {
        facts.primarySize = primary->geometry().size();
        if (primary->logicalDotsPerInchX() > 0)
            facts.twipsPerPixel = 1440.0 / primary->logicalDotsPerInchX();
    }
    for (QScreen *screen : QGuiApplication::screens())
        facts.screens.append(screen->geometry()); // desktop panels do not hide a title bar for good
    return facts;
}

StoredPosition acceptedPosition(const settings::SettingsStore &store, const ScreenFacts &screens, QSize outerSize)
{
    // The checks compare in single precision, in twips; the factor 2 applies
    // to the width only.
    const auto twips = [&](int pixels) { return static_cast<float>(pixels * screens.twipsPerPixel); };
    const float screenWidth = twips(screens.primarySize.width());
    const float screenHeight = twips(screens.primarySize.height());
    const float windowWidth = twips(outerSize.width());
    const float windowHeight = twips(outerSize.height());

    const auto accepted = [&](const QString &name, float upperBound) -> std::optional<int> {
        const auto v = rules::acceptedEdge(storedSetting(store, name), upperBound);
        if (!v)
            return std::nullopt;
        return static_cast<int>(numbers::roundHalfEven(*v / screens.twipsPerPixel));
    };

    StoredPosition position;
    position.left = accepted(settings::names::Left, 2.0f * screenWidth - windowWidth);
    position.top = accepted(settings::names::Top, screenHeight - windowHeight);
    return position;
}

QPoint restoredTopLeft(QRect frame, const StoredPosition &stored, const QList<QRect> &screens)
{
    const QPoint placed = frame.topLeft();
    const QPoint candidates[] = {
        {stored.left.value_or(placed.x()), stored.top.value_or(placed.y())},
        {stored.left.value_or(placed.x()), placed.y()},
        {placed.x(), stored.top.value_or(placed.y())},
    };
    for (const QPoint &corner : candidates) {
        if (titleBarReachable(frame.translated(corner - placed), screens))
            return corner;
    }
    return placed;
}

bool titleBarReachable(QRect frame, const QList<QRect> &screens, int grip)
{
    const QRect titleBar(frame.left(), frame.top(), frame.width(), 20);
    for (const QRect &screen : screens) {
        const QRect onScreen = titleBar.intersected(screen);
        if (onScreen.width() >= grip && onScreen.height() > 0)
            return true;
    }
    return false;
}

} // namespace veloxa::window
