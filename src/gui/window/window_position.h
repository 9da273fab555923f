#pragma once
// Where the window comes back on the screen: stored in twips, checked
// against the primary screen, and never put where its title bar cannot be
// reached (a monitor that was there last time may be gone).

#include "core/settings/store.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace veloxa::window {

struct ScreenFacts {
    QSize primarySize; // pixels
    double twipsPerPixel = 15; // 1440 / logical dots per inch
    QList<QRect> screens; // every screen's whole area, pixels
};

ScreenFacts currentScreens();

// The stored left and top edges (twips) that pass their checks, as pixels.
struct StoredPosition {
    std::optional<int> left;
    std::optional<int> top;
};

StoredPosition acceptedPosition(const settings::SettingsStore &store, const ScreenFacts &screens, QSize outerSize);

// Where the window's top-left corner goes: the stored edges that pass their
// checks, each kept unless it alone would leave the title bar on no screen
// (a monitor that was there last time may be gone); the system's placement
// `frame` for an edge that is not kept.
QPoint restoredTopLeft(QRect frame, const StoredPosition &stored, const QList<QRect> &screens);

// True when a strip of the title bar at least `grip` pixels wide lies on some screen.
bool titleBarReachable(QRect frame, const QList<QRect> &screens, int grip = 40);

} // namespace veloxa::window
