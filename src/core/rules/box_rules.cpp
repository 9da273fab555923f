#include "core/rules/box_rules.h"

#include "core/numbers/numbers.h"
#include "core/rules/text_numbers.h"
#include "core/unit/limits.h"

#include <array>
#include <cmath>

namespace veloxa::rules {
namespace {

// The clock the half-clock clamps use, or nothing while they rest.
std::optional<double> usableClock(const QString &clock)
{
    const auto clockMHz = whole(clock);
    if (!clockMHz || *clockMHz < 0.0)
        return std::nullopt;
    return clockMHz;
}

} // namespace

Correction clockNotANumber(const QString &clock)
{
    const auto value = whole(clock);
    const double leadingValue = leading(clock);
    if (!value || *value != leadingValue)
        return written(std::fabs(leadingValue));
    return std::nullopt;
}

Correction clockCap(const QString &clock)
{
    if (leading(clock) > unit::kClockMaxMHz)
        return written(unit::kClockMaxMHz);
    return std::nullopt;
}

Correction clockLowerBound(const QString &clock)
{
    if (leading(clock) < unit::kClockMinMHz)
        return written(unit::kClockMinMHz);
    return std::nullopt;
}

Correction aboveHalfClock(const QString &box, const QString &clock)
{
    if (const auto f = usableClock(clock); f && leading(box) > asWritten(*f / 2.0))
        return written(*f / 2.0);
    return std::nullopt;
}

Correction belowMinusHalfClock(const QString &box, const QString &clock)
{
    if (const auto f = usableClock(clock); f && leading(box) < asWritten(*f * -1.0 / 2.0))
        return written(*f * -1.0 / 2.0);
    return std::nullopt;
}

QString laserOffsetCaption(double ddsMHz)
{
    constexpr double kGigahertzFrom = 1000.0 / 32.0; // 31.25 MHz of DDS frequency
    if (ddsMHz < kGigahertzFrom)
        return QLatin1Char('(') + written(32.0 * ddsMHz) + QLatin1String("MHz)");
    return QLatin1Char('(') + written(32.0 * ddsMHz / 1000.0) + QLatin1String("GHz)");
}

QString laserOffsetCaption(const QString &frequency)
{
    return laserOffsetCaption(leading(frequency));
}

Correction wholeNotNegative(const QString &box)
{
    if (leading(box) < 0.0)
        return QStringLiteral("0");
    return std::nullopt;
}

Correction wholeAtMost(const QString &box, double largest)
{
    if (leading(box) > largest)
        return written(largest);
    return std::nullopt;
}

Correction wholeRoundedDown(const QString &box)
{
    if (numbers::isWhole(leading(box)))
        return std::nullopt;
    if (const auto value = whole(box))
        return written(std::floor(*value));
    return std::nullopt;
}

Correction emptyBox(const QString &box)
{
    if (box.isEmpty())
        return QStringLiteral("0");
    return std::nullopt;
}

namespace {

// A rule that reads the box's text alone, as a step.
template <Correction (*Rule)(const QString &)>
Correction textStep(const QString &text, const QString & /*clock*/)
{
    return Rule(text);
}

template <const double &Largest>
Correction atMostStep(const QString &text, const QString & /*clock*/)
{
    return wholeAtMost(text, Largest);
}

} // namespace

std::span<const BoxStep> changeSteps(Box box)
{
    static constexpr std::array<BoxStep, 2> clock{textStep<clockNotANumber>, textStep<clockCap>};
    static constexpr std::array<BoxStep, 2> halfClock{aboveHalfClock, belowMinusHalfClock};
    static constexpr std::array<BoxStep, 3> rate{textStep<wholeNotNegative>, atMostStep<unit::kMaxRate>,
                                                 textStep<wholeRoundedDown>};
    static constexpr std::array<BoxStep, 3> step{textStep<wholeNotNegative>, atMostStep<unit::kMaxStep>,
                                                 textStep<wholeRoundedDown>};
    switch (box) {
    case Box::Clock: return clock;
    case Box::Frequency:
    case Box::Stop: return halfClock;
    case Box::Rate: return rate;
    case Box::Step: return step;
    }
    return {};
}

BoxStep leaveStep(Box box)
{
    switch (box) {
    case Box::Clock: return textStep<clockLowerBound>;
    case Box::Rate:
    case Box::Step: return textStep<emptyBox>;
    case Box::Frequency:
    case Box::Stop: return nullptr;
    }
    return nullptr;
}

} // namespace veloxa::rules
