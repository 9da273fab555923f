#include "gui/dds/frequency_entry.h"

#include "core/rules/box_rules.h"
#include "core/rules/tuning_word.h"
#include "gui/controls/screen_reader.h"
#include "gui/dds/box_steps.h"

namespace veloxa::dds {

FrequencyEntry::FrequencyEntry(controls::TextBox &frequency, const controls::TextBox &clock, QLabel &laserFrequency,
                               QAbstractButton &update, link::Channel &channel, LockControls &lock)
    : m_frequency(frequency)
    , m_clock(clock)
    , m_laserFrequency(laserFrequency)
    , m_channel(channel)
    , m_lock(lock)
{
    connect(&frequency, &controls::TextBox::changed, this, [this] { frequencyChanged(); });
    connect(&frequency, &controls::TextBox::enterPressed, this, [this] { frequencyUpdate(); });
    connect(&update, &QAbstractButton::clicked, this, [this] { frequencyUpdate(); });
    describeLaserOffset();
}

void FrequencyEntry::frequencyChanged()
{
    runSteps(m_frequency, rules::changeSteps(rules::Box::Frequency), &m_clock);

    // The label shows 32 x the number the update sends: the leading number,
    // which for a text that is a number as a whole is that number, and for
    // any other text ("", "-", "12a") what the unit is about to receive.
    m_laserFrequency.setText(rules::laserOffsetCaption(m_frequency.text()));
    describeLaserOffset();

    frequencyUpdate();
}

// "Offset frequency 394.88MHz": the label's caption, which a sighted user
// reads beside the box, without its brackets.
void FrequencyEntry::describeLaserOffset()
{
    QString caption = m_laserFrequency.text();
    caption.remove(QLatin1Char('(')).remove(QLatin1Char(')'));
    controls::describeForScreenReaders(m_frequency, QStringLiteral("Offset frequency ") + caption);
}

bool FrequencyEntry::frequencyUpdate()
{
    const auto datagram = rules::buildFrequencyCommand(m_frequency.text(), m_clock.text());
    if (!datagram || !m_channel.send(*datagram))
        return false;
    return m_lock.polarityRepeat();
}

} // namespace veloxa::dds
