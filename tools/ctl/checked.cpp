#include "checked.h"

#include "core/numbers/numbers.h"
#include "core/rules/text_numbers.h"

namespace veloxa::ctl {
namespace {

QString writtenNumber(double value)
{
    return QString::fromStdString(numbers::writeNumber(value));
}

QString rangeText(double low, double high)
{
    return writtenNumber(low) + QStringLiteral("..") + writtenNumber(high);
}

} // namespace

std::optional<Failure> expectValues(const QString &command, const QStringList &arguments, int count,
                                    const QString &what)
{
    if (arguments.size() < count)
        return Failure{QStringLiteral("%1 needs %2").arg(command, what) + kSeeHelp};
    if (arguments.size() > count)
        return Failure{QStringLiteral("%1: unexpected argument \"%2\"").arg(command, arguments.at(count)) + kSeeHelp};
    return std::nullopt;
}

Checked<int> polarityIndex(const QString &name, const QString &text)
{
    if (text == QLatin1String("+"))
        return 0;
    if (text == QLatin1String("-") || text == QLatin1String("--"))
        return 1;
    return Failure{QStringLiteral("%1: \"%2\" is neither + nor -").arg(name, text)};
}

Checked<double> numberIn(const QString &name, const QString &text, double low, double high, const QString &unit)
{
    const QString shown = text.trimmed();
    const QString range = rangeText(low, high) + unit;
    const auto value = numbers::wholeNumber(text.toStdString());
    if (!value)
        return Failure{QStringLiteral("%1: \"%2\" is not a number (%3)").arg(name, text, range)};
    if (*value < low || *value > high)
        return Failure{QStringLiteral("%1: %2 is outside %3").arg(name, shown, range)};
    return *value;
}

Checked<double> wholeNumberIn(const QString &name, const QString &text, double low, double high)
{
    auto value = numberIn(name, text, low, high);
    if (value && !numbers::isWhole(*value))
        return Failure{
            QStringLiteral("%1: %2 is not a whole number (%3)").arg(name, text.trimmed(), rangeText(low, high))};
    return value;
}

Checked<QString> frequencyText(const QString &name, const QString &text, double clockMHz)
{
    const double half = clockMHz / 2.0;
    const auto value = numbers::wholeNumber(text.toStdString());
    const QString range = QStringLiteral("%1 MHz, half the system clock of %2 MHz either way")
                              .arg(rangeText(-half, half), writtenNumber(clockMHz));
    if (!value)
        return Failure{QStringLiteral("%1: \"%2\" is not a number (%3)").arg(name, text, range)};
    if (*value > rules::asWritten(half) || *value < rules::asWritten(-half))
        return Failure{QStringLiteral("%1: %2 is outside %3").arg(name, text.trimmed(), range)};
    return text;
}

} // namespace veloxa::ctl
