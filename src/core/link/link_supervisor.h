#pragma once
// The heartbeat and the supervision of the link to the unit.
//
// The panel says once a second that it is there (while the heartbeat is on)
// and shows whether the unit still talks back. The only record of the link
// state is what the window shows; the supervisor asks the window for it.

#include "core/link/channel.h"
#include "core/link/clock.h"

#include <QString>

#include <chrono>
#include <optional>

namespace veloxa::link {

// What the supervision reads and changes on the window.
class LinkPanel {
public:
    virtual ~LinkPanel() = default;
    virtual bool heartbeatOn() const = 0;
    virtual bool linkShownHeard() const = 0; // the IP box is white
    virtual void showLinkLost() = 0; // tint the IP box
    virtual void showLinkHeard() = 0; // the IP box white
    virtual void resync() = 0; // contrast change, then gain change
};

inline constexpr auto kSilenceThreshold = std::chrono::seconds(2);
inline const QString kHeartbeatOnCaption = QStringLiteral("HB is on");
inline const QString kHeartbeatOffCaption = QStringLiteral("HB is off");

// The heartbeat is on exactly while the caption ends in "on".
bool heartbeatIsOn(const QString &caption);
QString toggledHeartbeatCaption(const QString &caption);

class LinkSupervisor {
public:
    LinkSupervisor(Channel &channel, const MonotonicClock &clock, LinkPanel &panel);

    // One tick of the heartbeat timer: the heartbeat (a failed send is
    // ignored), then the tint when nothing arrived since start-up or for
    // strictly more than two seconds.
    void tick();

    // One datagram arrived: note the time; re-sync when the link was shown lost.
    void arrival();

private:
    Channel &m_channel;
    const MonotonicClock &m_clock;
    LinkPanel &m_panel;
    std::optional<std::chrono::nanoseconds> m_lastArrival;
};

} // namespace veloxa::link
