#include "app/restore.h"

#include "dds/number_text.h"

#include <cmath>
#include <functional>

namespace veloxa::app {
namespace {

using dds::written;

// The leading number of a stored value when it is found and passes `accept`.
std::optional<double> storedNumber(const settings::SettingsStore &store, const QString &name,
                                   const std::function<bool(double)> &accept)
{
    const settings::ReadResult stored = store.read(name);
    if (!stored.found)
        return std::nullopt;
    const double v = dds::leading(stored.text);
    if (!accept(v))
        return std::nullopt;
    return v;
}

// The text without leading and trailing blanks; tabs and line breaks stay.
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

// A slider refuses a value outside its range and keeps its own.
void restoreSlider(controls::Slider &slider, double v)
{
    const double rounded = numbers::roundHalfEven(v);
    if (rounded >= slider.minimum() && rounded <= slider.maximum())
        slider.assign(static_cast<int>(rounded));
}

} // namespace

void restoreSettings(FormMain &form, const settings::SettingsStore &store)
{
    namespace names = settings::names;

    if (auto v = storedNumber(store, names::DisplayContrast, [](double x) { return 0 <= x && x < 100; }))
        restoreSlider(*form.sldContrast, *v);

    if (auto v = storedNumber(store, names::Gain, [](double x) { return 0 <= x && x <= 7; }))
        restoreSlider(*form.sldGain, *v);

    if (store.read(names::Polarity).text == QLatin1String("False"))
        form.optDdsPolarity->select(1);

    if (auto v = storedNumber(store, names::Frequency, [](double x) { return 0 < x && x < 10000; }))
        form.txtFreq->assign(written(*v));

    if (auto v = storedNumber(store, names::SystemClock, [](double x) { return 100 <= x && x <= 1000; }))
        form.txtSysClk->assign(written(*v));

    if (const settings::ReadResult ip = store.read(names::IpAddress); ip.found) {
        const QString trimmed = withoutBlanks(ip.text);
        if (trimmed.size() >= 8 && trimmed.size() <= 15)
            form.txtIP->assign(trimmed);
    }

    if (auto v = storedNumber(store, names::RampRate, [](double x) { return 0 <= x && x <= 65536; }))
        form.txtRampRate->assign(written(*v));

    if (auto v = storedNumber(store, names::RampStep, [](double x) { return 0 <= x && x <= 4294967296.0; }))
        form.txtRampStep->assign(written(*v));

    // The stop frequency is checked against the clock the box holds now.
    if (const auto clock = dds::whole(form.txtSysClk->text())) {
        const double halfClock = *clock / 2.0;
        if (auto v = storedNumber(store, names::RampStopFreq,
                                  [halfClock](double x) { return std::fabs(x) < halfClock; }))
            form.txtStopFreq->assign(written(*v));
    }
}

} // namespace veloxa::app
