#include "dds/tuning_word.h"

#include "dds/number_text.h"

#include <cmath>

namespace veloxa::dds {

std::optional<double> tuningWordFromTexts(const QString &frequencyText, const QString &clockText)
{
    const double frequencyHz = std::fabs(leading(frequencyText)) * 1e6;
    const auto clockMHz = whole(clockText);
    if (!clockMHz)
        return std::nullopt;
    const double clockHz = *clockMHz * 1e6;
    const double unit = clockHz / 4294967296.0;
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

} // namespace veloxa::dds
