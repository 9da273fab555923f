#include "ramp/ramp_parameters.h"

#include "dds/number_text.h"
#include "dds/system_clock.h"

#include <cmath>

namespace veloxa::ramp {

using dds::leading;
using dds::whole;
using dds::written;

RampParameters::RampParameters(controls::TextBox &rate, controls::TextBox &step, controls::TextBox &stop,
                               const controls::TextBox &clock, settings::SettingsStore &store)
    : m_rate(rate)
    , m_step(step)
    , m_stop(stop)
    , m_clock(clock)
    , m_store(store)
{
    connect(&rate, &controls::TextBox::changed, this, [this] { rateRules(); });
    connect(&step, &controls::TextBox::changed, this, [this] { stepRules(); });
    connect(&stop, &controls::TextBox::changed, this, [this] { stopRules(); });
    connect(&rate, &controls::TextBox::left, this, [this] { emptyBoxRule(m_rate); });
    connect(&step, &controls::TextBox::left, this, [this] { emptyBoxRule(m_step); });
}

void RampParameters::rateRules()
{
    wholeNumberRules(m_rate, kMaxRate, settings::names::RampRate);
}

void RampParameters::stepRules()
{
    wholeNumberRules(m_step, kMaxStep, settings::names::RampStep);
}

void RampParameters::wholeNumberRules(controls::TextBox &box, double largest, const QString &settingName)
{
    // Every step reads the box anew; a correction re-runs these rules nested.
    if (leading(box.text()) < 0.0)
        box.assign(QStringLiteral("0"));
    if (leading(box.text()) > largest)
        box.assign(written(largest));
    if (!numbers::isWhole(leading(box.text()))) {
        // A text such as "2.5x" is not a number as a whole and has no whole
        // reading to round down: it is left as typed (and stored as typed).
        if (const auto value = whole(box.text()))
            box.assign(written(std::floor(*value)));
    }
    if (!box.text().isEmpty())
        m_store.write(settingName, box.text());
}

void RampParameters::stopRules()
{
    dds::clampToHalfClock(m_stop, m_clock);
    m_store.write(settings::names::RampStopFreq, m_stop.text());
}

void RampParameters::emptyBoxRule(controls::TextBox &box)
{
    if (box.text().isEmpty())
        box.assign(QStringLiteral("0"));
}

} // namespace veloxa::ramp
