#include "gui/window/restore.h"

#include "core/rules/restore_checks.h"

namespace veloxa::window {

rules::Stored storedSetting(const settings::SettingsStore &store, const QString &name)
{
    settings::ReadResult read = store.read(name);
    if (!read.found)
        return std::nullopt;
    return std::move(read.text);
}

void restoreSettings(FormMain &form, const settings::SettingsStore &store)
{
    namespace names = settings::names;
    const auto stored = [&store](const QString &name) { return storedSetting(store, name); };

    // A slider refuses a value outside its range; the checks never offer one.
    if (const auto v = rules::acceptedContrast(stored(names::DisplayContrast)))
        form.controls().sldContrast.assign(*v);
    if (const auto v = rules::acceptedGain(stored(names::Gain)))
        form.controls().sldGain.assign(*v);
    if (rules::polarityIsMinus(stored(names::Polarity)))
        form.controls().optDdsPolarity.select(1);
    form.controls().txtFreq.correct(rules::acceptedFrequency(stored(names::Frequency)));
    form.controls().txtSysClk.correct(rules::acceptedClock(stored(names::SystemClock)));
    form.controls().txtIP.correct(rules::acceptedIpAddress(stored(names::IpAddress)));
    form.controls().txtRampRate.correct(rules::acceptedRampRate(stored(names::RampRate)));
    form.controls().txtRampStep.correct(rules::acceptedRampStep(stored(names::RampStep)));
    // The stop frequency is checked against the clock the box holds now.
    form.controls().txtStopFreq.correct(
        rules::acceptedStopFrequency(stored(names::RampStopFreq), form.controls().txtSysClk.text()));
}

} // namespace veloxa::window
