#pragma once
// Ramp start (button or Enter in the stop box) and ramp stop.

#include "controls/text_box.h"
#include "dds/lock_controls.h"
#include "link/channel.h"

#include <QAbstractButton>

#include <optional>

namespace veloxa::ramp {

// The ramp-start command from the boxes' texts: the step and the rate by their
// whole-text readings, the stop tuning word from the stop and clock texts.
// Nothing when a reading fails or a value does not fit its word. Ramp start
// and the sequence's ramp entry both build theirs here.
std::optional<link::Datagram> buildRampStartCommand(const QString &stepText, const QString &rateText,
                                                    const QString &stopText, const QString &clockText);

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
