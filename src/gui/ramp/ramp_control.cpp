#include "gui/ramp/ramp_control.h"

#include "core/rules/tuning_word.h"

namespace veloxa::ramp {

RampControl::RampControl(const controls::TextBox &rate, const controls::TextBox &step, controls::TextBox &stop,
                         const controls::TextBox &clock, QAbstractButton &start, QAbstractButton &stopButton,
                         link::Channel &channel, dds::LockControls &lock)
    : m_rate(rate)
    , m_step(step)
    , m_stop(stop)
    , m_clock(clock)
    , m_channel(channel)
    , m_lock(lock)
{
    connect(&start, &QAbstractButton::clicked, this, [this] { rampStart(); });
    connect(&stop, &controls::TextBox::carriageReturnTyped, this, [this] { rampStart(); });
    connect(&stopButton, &QAbstractButton::clicked, this, [this] { rampStop(); });
}

bool RampControl::rampStart()
{
    const auto datagram = rules::buildRampStartCommand(m_step.text(), m_rate.text(), m_stop.text(), m_clock.text());
    if (!datagram || !m_channel.send(*datagram))
        return false;
    return m_lock.polarityRepeat();
}

bool RampControl::rampStop()
{
    return m_channel.send(link::rampStopCommand());
}

} // namespace veloxa::ramp
