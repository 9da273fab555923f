#pragma once
// The six buttons of the unit's command sequence: one datagram per click,
// nothing sent when the entry cannot be built, never a polarity repeat.

#include "core/link/channel.h"
#include "gui/controls/text_box.h"

#include <QAbstractButton>

namespace veloxa::sequence {

struct SequenceButtons {
    QAbstractButton &clear;
    QAbstractButton &addFrequency;
    QAbstractButton &addRamp;
    QAbstractButton &addAdwinWait;
    QAbstractButton &execute;
    QAbstractButton &restart;
};

struct SequenceSources {
    const controls::TextBox &frequency;
    const controls::TextBox &clock;
    const controls::TextBox &rate;
    const controls::TextBox &step;
    const controls::TextBox &stop;
};

class CommandSequence : public QObject {
public:
    CommandSequence(const SequenceButtons &buttons, const SequenceSources &sources, link::Channel &channel);

    bool clear();
    bool addFrequency();
    bool addRamp();
    bool addAdwinWait();
    bool execute();
    bool restart();

private:
    SequenceSources m_sources;
    link::Channel &m_channel;
};

} // namespace veloxa::sequence
