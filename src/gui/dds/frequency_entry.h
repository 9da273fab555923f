#pragma once
// The DDS frequency box: clamped to +/- half the system clock, the laser
// offset (32 x the DDS frequency) in the label, and the frequency sent on
// every change, on Enter and on the Update button. Screen readers hear the
// label with the box, as its description.

#include "core/link/channel.h"
#include "gui/controls/text_box.h"
#include "gui/dds/lock_controls.h"

#include <QAbstractButton>
#include <QLabel>

namespace veloxa::dds {

class FrequencyEntry : public QObject {
public:
    FrequencyEntry(controls::TextBox &frequency, const controls::TextBox &clock, QLabel &laserFrequency,
                   QAbstractButton &update, link::Channel &channel, LockControls &lock);

    // Clamp, label, update; a clamp re-runs the whole handling nested.
    void frequencyChanged();

    // The frequency command, then the polarity repeat. Ends at the first
    // failure; returns whether everything went.
    bool frequencyUpdate();

private:
    void describeLaserOffset();

    controls::TextBox &m_frequency;
    const controls::TextBox &m_clock;
    QLabel &m_laserFrequency;
    link::Channel &m_channel;
    LockControls &m_lock;
};

} // namespace veloxa::dds
