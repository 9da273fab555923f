#include "sequence/command_sequence.h"

#include "dds/tuning_word.h"
#include "ramp/ramp_control.h"

namespace veloxa::sequence {

CommandSequence::CommandSequence(const SequenceButtons &buttons, const SequenceSources &sources,
                                 link::Channel &channel)
    : m_sources(sources)
    , m_channel(channel)
{
    connect(&buttons.clear, &QAbstractButton::clicked, this, [this] { clear(); });
    connect(&buttons.addFrequency, &QAbstractButton::clicked, this, [this] { addFrequency(); });
    connect(&buttons.addRamp, &QAbstractButton::clicked, this, [this] { addRamp(); });
    connect(&buttons.addAdwinWait, &QAbstractButton::clicked, this, [this] { addAdwinWait(); });
    connect(&buttons.execute, &QAbstractButton::clicked, this, [this] { execute(); });
    connect(&buttons.restart, &QAbstractButton::clicked, this, [this] { restart(); });
}

bool CommandSequence::clear()
{
    return m_channel.send(link::sequenceClearCommand());
}

bool CommandSequence::addFrequency()
{
    const auto command = dds::buildFrequencyCommand(m_sources.frequency.text(), m_sources.clock.text());
    return command && m_channel.send(link::sequenceAdd(*command));
}

bool CommandSequence::addRamp()
{
    const auto command = ramp::buildRampStartCommand(m_sources.step.text(), m_sources.rate.text(),
                                                     m_sources.stop.text(), m_sources.clock.text());
    return command && m_channel.send(link::sequenceAdd(*command));
}

bool CommandSequence::addAdwinWait()
{
    return m_channel.send(link::sequenceAdd(link::adwinWaitCommand()));
}

bool CommandSequence::execute()
{
    return m_channel.send(link::sequenceExecuteCommand());
}

bool CommandSequence::restart()
{
    return m_channel.send(link::sequenceRestartCommand());
}

} // namespace veloxa::sequence
