#include "gui/ramp/ramp_parameters.h"

#include "gui/dds/box_steps.h"

namespace veloxa::ramp {

RampParameters::RampParameters(controls::TextBox &rate, controls::TextBox &step, controls::TextBox &stop,
                               const controls::TextBox &clock, settings::SettingsStore &store)
    : m_rate(rate)
    , m_step(step)
    , m_stop(stop)
    , m_clock(clock)
    , m_store(store)
{
    connect(&rate, &controls::TextBox::changed, this,
            [this] { wholeNumberRules(m_rate, rules::Box::Rate, settings::names::RampRate); });
    connect(&step, &controls::TextBox::changed, this,
            [this] { wholeNumberRules(m_step, rules::Box::Step, settings::names::RampStep); });
    connect(&stop, &controls::TextBox::changed, this, [this] { stopRules(); });
    // An emptied rate or step box becomes "0" when the user leaves it.
    connect(&rate, &controls::TextBox::left, this,
            [this] { dds::runStep(m_rate, rules::leaveStep(rules::Box::Rate)); });
    connect(&step, &controls::TextBox::left, this,
            [this] { dds::runStep(m_step, rules::leaveStep(rules::Box::Step)); });
}

void RampParameters::wholeNumberRules(controls::TextBox &box, rules::Box which, const QString &settingName)
{
    dds::runSteps(box, rules::changeSteps(which));
    if (!box.text().isEmpty())
        m_store.write(settingName, box.text());
}

void RampParameters::stopRules()
{
    dds::runSteps(m_stop, rules::changeSteps(rules::Box::Stop), &m_clock);
    m_store.write(settings::names::RampStopFreq, m_stop.text());
}

} // namespace veloxa::ramp
