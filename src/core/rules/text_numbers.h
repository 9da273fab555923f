#pragma once
// The number readings of the panel's boxes, on Qt texts, and writing a
// number into a box.

#include "core/numbers/numbers.h"

#include <QString>

#include <optional>

namespace veloxa::rules {

inline double leading(const QString &text)
{
    return numbers::leadingNumber(text.toStdString());
}

inline std::optional<double> whole(const QString &text)
{
    return numbers::wholeNumber(text.toStdString());
}

inline QString written(double value)
{
    return QString::fromStdString(numbers::writeNumber(value));
}

// A bound as the box would hold it once written: the rules compare against
// this, so a box clamped to the written bound is never clamped again, even
// where 15 digits round the bound up.
inline double asWritten(double bound)
{
    return leading(written(bound));
}

} // namespace veloxa::rules
