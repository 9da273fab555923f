#include "dds/frequency_entry.h"

#include "dds/number_text.h"
#include "dds/tuning_word.h"

namespace veloxa::dds {

QString laserOffsetCaption(double ddsMHz)
{
    constexpr double kGigahertzFrom = 1000.0 / 32.0; // 31.25 MHz of DDS frequency
    if (ddsMHz < kGigahertzFrom)
        return QLatin1Char('(') + written(32.0 * ddsMHz) + QLatin1String("MHz)");
    return QLatin1Char('(') + written(32.0 * ddsMHz / 1000.0) + QLatin1String("GHz)");
}

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
}

void FrequencyEntry::frequencyChanged()
{
    // The clamps assume a clock that is a number and not negative; with a
    // negative clock the two would undo each other without end, so they rest
    // until the clock box holds a usable number again.
    const auto halfClock = [this]() -> std::optional<double> {
        const auto clockMHz = whole(m_clock.text());
        if (!clockMHz || *clockMHz < 0.0)
            return std::nullopt;
        return *clockMHz;
    };

    if (const auto f = halfClock(); f && leading(m_frequency.text()) > asWritten(*f / 2.0))
        m_frequency.assign(written(*f / 2.0));
    if (const auto f = halfClock(); f && leading(m_frequency.text()) < asWritten(*f * -1.0 / 2.0))
        m_frequency.assign(written(*f * -1.0 / 2.0));

    // The label shows 32 x the number the update sends: the leading number,
    // which for a text that is a number as a whole is that number, and for
    // any other text ("", "-", "12a") what the unit is about to receive.
    m_laserFrequency.setText(laserOffsetCaption(leading(m_frequency.text())));

    frequencyUpdate();
}

bool FrequencyEntry::frequencyUpdate()
{
    const auto datagram = buildFrequencyCommand(m_frequency.text(), m_clock.text());
    if (!datagram || !m_channel.send(*datagram))
        return false;
    return m_lock.polarityRepeat();
}

} // namespace veloxa::dds
