#include "gui/dds/system_clock.h"

#include "gui/dds/box_steps.h"

namespace veloxa::dds {

SystemClockEntry::SystemClockEntry(controls::TextBox &clock)
    : m_clock(clock)
{
    connect(&clock, &controls::TextBox::changed, this,
            [this] { runSteps(m_clock, rules::changeSteps(rules::Box::Clock)); });
    connect(&clock, &controls::TextBox::left, this, [this] { runStep(m_clock, rules::leaveStep(rules::Box::Clock)); });
}

} // namespace veloxa::dds
