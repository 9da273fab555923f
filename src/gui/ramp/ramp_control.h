#pragma once
// Ramp start (button or Enter in the stop box) and ramp stop.

#include "core/link/channel.h"
#include "gui/controls/text_box.h"
#include "gui/dds/lock_controls.h"

#include <QAbstractButton>

#include <optional>

namespace veloxa::ramp {

class RampControl : public QObject {
public:
    RampControl(const controls::TextBox &rate, const controls::TextBox &step, controls::TextBox &stop,
                const controls::TextBox &clock, QAbstractButton &start, QAbstractButton &stopButton,
                link::Channel &channel, dds::LockControls &lock);

    // The ramp-start command, then the polarity repeat. Everything is built
    // before anything is sent; a failure sends nothing further.
    bool rampStart();
    bool rampStop();

private:
    const controls::TextBox &m_rate;
    const controls::TextBox &m_step;
    const controls::TextBox &m_stop;
    const controls::TextBox &m_clock;
    link::Channel &m_channel;
    dds::LockControls &m_lock;
};

} // namespace veloxa::ramp
