#include "gui/window/link_view.h"

#include "gui/controls/screen_reader.h"

#include <QPalette>

namespace veloxa::window {

QColor colourFromBgr(quint32 bgr)
{
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

quint32 bgrFromColour(const QColor &colour)
{
    return static_cast<quint32>(colour.red()) | (static_cast<quint32>(colour.green()) << 8)
        | (static_cast<quint32>(colour.blue()) << 16);
}

quint32 backgroundOf(const QWidget &widget)
{
    return bgrFromColour(widget.palette().color(QPalette::Base));
}

void setBackground(QWidget &widget, quint32 bgr)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Base, colourFromBgr(bgr));
    widget.setPalette(palette);
}

void describeLinkState(QWidget &ipBox, bool heard)
{
    controls::describeForScreenReaders(ipBox, QLatin1String(heard ? kUnitHeardText : kNoAnswerText));
}

void describeHeartbeat(QAbstractButton &heartbeatButton)
{
    const bool on = link::heartbeatIsOn(heartbeatButton.text());
    controls::describeForScreenReaders(heartbeatButton, on ? QStringLiteral("on") : QStringLiteral("off"));
}

LinkView::LinkView(controls::TextBox &ipBox, QPushButton &heartbeatButton, dds::LockControls &lock)
    : m_ipBox(ipBox)
    , m_heartbeatButton(heartbeatButton)
    , m_lock(lock)
{
}

bool LinkView::heartbeatOn() const
{
    return link::heartbeatIsOn(m_heartbeatButton.text());
}

bool LinkView::linkShownHeard() const
{
    return backgroundOf(m_ipBox) == kWhite;
}

void LinkView::showLinkLost()
{
    shown(kLinkLostTint);
}

void LinkView::showLinkHeard()
{
    shown(kWhite);
}

void LinkView::shown(quint32 colour)
{
    const bool changes = backgroundOf(m_ipBox) != colour;
    setBackground(m_ipBox, colour);
    describeLinkState(m_ipBox, colour == kWhite);
    if (changes)
        emit shownStateChanged(colour == kWhite);
}

void LinkView::resync()
{
    m_lock.contrastChange();
    m_lock.gainChange();
}

void LinkView::toggleHeartbeat()
{
    m_heartbeatButton.setText(link::toggledHeartbeatCaption(m_heartbeatButton.text()));
    describeHeartbeat(m_heartbeatButton);
}

} // namespace veloxa::window
