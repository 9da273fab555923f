#include "core/link/link_supervisor.h"

namespace veloxa::link {

bool heartbeatIsOn(const QString &caption)
{
    return caption.endsWith(QLatin1String("on"), Qt::CaseSensitive);
}

QString toggledHeartbeatCaption(const QString &caption)
{
    return heartbeatIsOn(caption) ? kHeartbeatOffCaption : kHeartbeatOnCaption;
}

LinkSupervisor::LinkSupervisor(Channel &channel, const MonotonicClock &clock, LinkPanel &panel)
    : m_channel(channel)
    , m_clock(clock)
    , m_panel(panel)
{
}

void LinkSupervisor::tick()
{
    if (m_panel.heartbeatOn())
        m_channel.send(heartbeatCommand());

    if (!m_lastArrival || m_clock.now() - *m_lastArrival > kSilenceThreshold)
        m_panel.showLinkLost();
}

void LinkSupervisor::arrival()
{
    m_lastArrival = m_clock.now();
    if (!m_panel.linkShownHeard()) {
        m_panel.resync();
        m_panel.showLinkHeard();
    }
}

} // namespace veloxa::link
