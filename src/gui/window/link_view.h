#pragma once
// The link state as the window shows it: the heartbeat button's caption and
// the IP box's background (white: heard; the tint: not heard).

#include "core/link/link_supervisor.h"
#include "gui/controls/text_box.h"
#include "gui/dds/lock_controls.h"

#include <QColor>
#include <QObject>
#include <QPushButton>

namespace veloxa::window {

// Colours as 0x00BBGGRR.
inline constexpr quint32 kWhite = 0xFFFFFF;
inline constexpr quint32 kLinkLostTint = 0xC0C0FF; // light red

QColor colourFromBgr(quint32 bgr);
quint32 bgrFromColour(const QColor &colour);

quint32 backgroundOf(const QWidget &widget);
void setBackground(QWidget &widget, quint32 bgr);

// The link state in words for screen readers, as the IP box's accessible
// description: the tint is the only other sign of it.
inline constexpr char kUnitHeardText[] = "unit heard";
inline constexpr char kNoAnswerText[] = "no answer from the unit";
void describeLinkState(QWidget &ipBox, bool heard);

// The heartbeat button keeps one accessible name; its state ("on", "off",
// as its caption says) is its description, so a flip is announced as such.
inline constexpr char kHeartbeatName[] = "Heartbeat";
void describeHeartbeat(QAbstractButton &heartbeatButton);

class LinkView final : public QObject, public link::LinkPanel {
    Q_OBJECT
public:
    LinkView(controls::TextBox &ipBox, QPushButton &heartbeatButton, dds::LockControls &lock);

    bool heartbeatOn() const override;
    bool linkShownHeard() const override;
    void showLinkLost() override;
    void showLinkHeard() override;
    void resync() override;

    // A click on the heartbeat button flips its caption; nothing is sent.
    void toggleHeartbeat();

signals:
    // Each time the IP box's colour changes, with the new state.
    void shownStateChanged(bool heard);

private:
    void shown(quint32 colour);

    controls::TextBox &m_ipBox;
    QPushButton &m_heartbeatButton;
    dds::LockControls &m_lock;
};

} // namespace veloxa::window
