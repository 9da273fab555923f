#include "core/rules/restore_checks.h"

#include "core/numbers/numbers.h"
#include "core/rules/text_numbers.h"
#include "core/unit/limits.h"

#include <cmath>

namespace veloxa::rules {
namespace {

template <typename Accept>
std::optional<double> storedNumber(const Stored &stored, Accept accept)
{
    if (!stored)
        return std::nullopt;
    const double v = leading(*stored);
    if (!accept(v))
        return std::nullopt;
    return v;
}

template <typename Accept>
std::optional<QString> storedText(const Stored &stored, Accept accept)
{
    if (const auto v = storedNumber(stored, accept))
        return written(*v);
    return std::nullopt;
}

std::optional<int> sliderPosition(std::optional<double> v, int maximum)
{
    if (!v)
        return std::nullopt;
    const double rounded = numbers::roundHalfEven(*v);
    if (rounded < 0 || rounded > maximum)
        return std::nullopt;
    return static_cast<int>(rounded);
}

// The text without leading and trailing blanks.
QString withoutBlanks(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.sliced(first, last - first);
}

} // namespace

std::optional<int> acceptedContrast(const Stored &stored)
{
    return sliderPosition(storedNumber(stored, [](double v) { return 0 <= v && v < unit::kContrastMax + 1; }),
                          unit::kContrastMax);
}

std::optional<int> acceptedGain(const Stored &stored)
{
    return sliderPosition(storedNumber(stored, [](double v) { return 0 <= v && v <= unit::kGainMax; }), unit::kGainMax);
}

bool polarityIsMinus(const Stored &stored)
{
    return stored && *stored == QLatin1String("False");
}

std::optional<QString> acceptedFrequency(const Stored &stored)
{
    return storedText(stored, [](double v) { return 0 < v && v < unit::kStoredFrequencyBelowMHz; });
}

std::optional<QString> acceptedClock(const Stored &stored)
{
    return storedText(stored, [](double v) { return unit::kClockMinMHz <= v && v <= unit::kClockMaxMHz; });
}

std::optional<QString> acceptedIpAddress(const Stored &stored)
{
    if (!stored)
        return std::nullopt;
    QString trimmed = withoutBlanks(*stored);
    if (trimmed.size() < 8 || trimmed.size() > 15)
        return std::nullopt;
    return trimmed;
}

std::optional<QString> acceptedRampRate(const Stored &stored)
{
    return storedText(stored, [](double v) { return 0 <= v && v <= unit::kWord16Values; });
}

std::optional<QString> acceptedRampStep(const Stored &stored)
{
    return storedText(stored, [](double v) { return 0 <= v && v <= unit::kWord32Values; });
}

std::optional<QString> acceptedStopFrequency(const Stored &stored, const QString &clock)
{
    const auto clockMHz = whole(clock);
    if (!clockMHz)
        return std::nullopt;
    const double halfClock = *clockMHz / 2.0;
    return storedText(stored, [halfClock](double v) { return std::fabs(v) < halfClock; });
}

std::optional<float> acceptedEdge(const Stored &stored, float upperBound)
{
    if (!stored)
        return std::nullopt;
    const auto v = static_cast<float>(leading(*stored));
    if (!(v > 0.0f && v < upperBound))
        return std::nullopt;
    return v;
}

std::optional<int> destinationPort(const QString &portText)
{
    const double port = numbers::roundHalfEven(leading(portText));
    if (!(port >= 0 && port <= 65535))
        return std::nullopt;
    return static_cast<int>(port);
}

} // namespace veloxa::rules
