#include "core/rules/tuning_word.h"

#include "core/rules/text_numbers.h"
#include "core/unit/limits.h"

#include <cmath>

namespace veloxa::rules {

std::optional<double> tuningWordFromTexts(const QString &frequencyText, const QString &clockText)
{
    const double frequencyHz = std::fabs(leading(frequencyText)) * 1e6;
    const auto clockMHz = whole(clockText);
    if (!clockMHz)
        return std::nullopt;
    const double clockHz = *clockMHz * 1e6;
    const double unit = clockHz / unit::kWord32Values;
    if (unit == 0.0)
        return std::nullopt;
    const double ftw = std::floor(frequencyHz / unit);
    if (!std::isfinite(ftw))
        return std::nullopt;
    return ftw;
}

std::optional<link::Datagram> buildFrequencyCommand(const QString &frequencyText, const QString &clockText)
{
    const auto ftw = tuningWordFromTexts(frequencyText, clockText);
    if (!ftw)
        return std::nullopt;
    return link::frequencyCommand(*ftw);
}

std::optional<link::Datagram> buildRampStartCommand(const QString &stepText, const QString &rateText,
                                                    const QString &stopText, const QString &clockText)
{
    const auto stopFtw = tuningWordFromTexts(stopText, clockText);
    const auto step = whole(stepText);
    const auto rate = whole(rateText);
    if (!stopFtw || !step || !rate)
        return std::nullopt;
    return link::rampStartCommand(*step, *rate, *stopFtw);
}

std::optional<link::Datagram> buildSequenceFrequencyEntry(const QString &frequencyText, const QString &clockText)
{
    const auto command = buildFrequencyCommand(frequencyText, clockText);
    if (!command)
        return std::nullopt;
    return link::sequenceAdd(*command);
}

std::optional<link::Datagram> buildSequenceRampEntry(const QString &stepText, const QString &rateText,
                                                     const QString &stopText, const QString &clockText)
{
    const auto command = buildRampStartCommand(stepText, rateText, stopText, clockText);
    if (!command)
        return std::nullopt;
    return link::sequenceAdd(*command);
}

} // namespace veloxa::rules
