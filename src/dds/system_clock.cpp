#include "dds/system_clock.h"

#include "dds/number_text.h"

#include <cmath>

namespace veloxa::dds {

namespace {

// Rule 1: a text that is not a number as a whole, or whose whole reading
// differs from its leading number, becomes the magnitude of its leading number.
std::optional<QString> notANumberCorrection(const QString &text)
{
    const auto value = whole(text);
    const double leadingValue = leading(text);
    if (!value || *value != leadingValue)
        return written(std::fabs(leadingValue));
    return std::nullopt;
}

// Rule 2: above 1000 becomes "1000".
std::optional<QString> capCorrection(const QString &text)
{
    if (leading(text) > kClockMaxMHz)
        return QStringLiteral("1000");
    return std::nullopt;
}

} // namespace

std::optional<QString> clockLowerBoundCorrection(const QString &text)
{
    if (leading(text) < kClockMinMHz)
        return QStringLiteral("100");
    return std::nullopt;
}

void clampToHalfClock(controls::TextBox &box, const controls::TextBox &clock)
{
    const auto usableClock = [&clock]() -> std::optional<double> {
        const auto clockMHz = whole(clock.text());
        if (!clockMHz || *clockMHz < 0.0)
            return std::nullopt;
        return *clockMHz;
    };
    // The bounds are compared as written, so a box clamped to a bound that 15
    // digits round up is not clamped again.
    if (const auto f = usableClock(); f && leading(box.text()) > asWritten(*f / 2.0))
        box.assign(written(*f / 2.0));
    if (const auto f = usableClock(); f && leading(box.text()) < asWritten(*f * -1.0 / 2.0))
        box.assign(written(*f * -1.0 / 2.0));
}

SystemClockEntry::SystemClockEntry(controls::TextBox &clock)
    : m_clock(clock)
{
    connect(&clock, &controls::TextBox::changed, this, [this] { clockRules(); });
    connect(&clock, &controls::TextBox::left, this, [this] { lowerBoundRule(); });
}

void SystemClockEntry::clockRules()
{
    // Each step reads the box anew: a correction re-runs these rules nested.
    if (auto corrected = notANumberCorrection(m_clock.text()))
        m_clock.assign(*corrected);
    if (auto corrected = capCorrection(m_clock.text()))
        m_clock.assign(*corrected);
}

void SystemClockEntry::lowerBoundRule()
{
    if (auto corrected = clockLowerBoundCorrection(m_clock.text()))
        m_clock.assign(*corrected);
}

} // namespace veloxa::dds
