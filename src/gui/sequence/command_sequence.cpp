#include "gui/sequence/command_sequence.h"

#include "core/rules/tuning_word.h"

namespace veloxa::sequence {

CommandSequence::CommandSequence(const SequenceButtons &buttons, const SequenceSources &sources, link::Channel &channel)
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
    const auto entry = rules::buildSequenceFrequencyEntry(m_sources.frequency.text(), m_sources.clock.text());
    return entry && m_channel.send(*entry);
}

bool CommandSequence::addRamp()
{
    const auto entry = rules::buildSequenceRampEntry(m_sources.step.text(), m_sources.rate.text(),
                                                     m_sources.stop.text(), m_sources.clock.text());
    return entry && m_channel.send(*entry);
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
