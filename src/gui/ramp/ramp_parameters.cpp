#include "gui/ramp/ramp_parameters.h"

#include "core/rules/box_rules.h"
#include "core/unit/limits.h"
#include "gui/dds/system_clock.h"

namespace veloxa::ramp {

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
    wholeNumberRules(m_rate, unit::kMaxRate, settings::names::RampRate);
}

void RampParameters::stepRules()
{
    wholeNumberRules(m_step, unit::kMaxStep, settings::names::RampStep);
}

void RampParameters::wholeNumberRules(controls::TextBox &box, double largest, const QString &settingName)
{
    // Every step reads the box anew; a correction re-runs these rules nested.
    box.correct(rules::wholeNotNegative(box.text()));
    box.correct(rules::wholeAtMost(box.text(), largest));
    box.correct(rules::wholeRoundedDown(box.text()));
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
    box.correct(rules::emptyBox(box.text()));
}

} // namespace veloxa::ramp
