#include "gui/dds/system_clock.h"

namespace veloxa::dds {

void runSteps(controls::TextBox &box, std::span<const rules::BoxStep> steps, const controls::TextBox *clock)
{
    for (const rules::BoxStep step : steps)
        runStep(box, step, clock);
}

void runStep(controls::TextBox &box, rules::BoxStep step, const controls::TextBox *clock)
{
    if (step)
        box.correct(step(box.text(), clock ? clock->text() : QString()));
}

SystemClockEntry::SystemClockEntry(controls::TextBox &clock)
    : m_clock(clock)
{
    connect(&clock, &controls::TextBox::changed, this,
            [this] { runSteps(m_clock, rules::changeSteps(rules::Box::Clock)); });
    connect(&clock, &controls::TextBox::left, this, [this] { runStep(m_clock, rules::leaveStep(rules::Box::Clock)); });
}

} // namespace veloxa::dds
