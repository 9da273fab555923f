#include "gui/dds/system_clock.h"

#include "core/rules/box_rules.h"

namespace veloxa::dds {

void clampToHalfClock(controls::TextBox &box, const controls::TextBox &clock)
{
    box.correct(rules::aboveHalfClock(box.text(), clock.text()));
    box.correct(rules::belowMinusHalfClock(box.text(), clock.text()));
}

SystemClockEntry::SystemClockEntry(controls::TextBox &clock)
    : m_clock(clock)
{
    connect(&clock, &controls::TextBox::changed, this, [this] { clockRules(); });
    connect(&clock, &controls::TextBox::left, this, [this] { lowerBoundRule(); });
}

void SystemClockEntry::clockRules()
{
    // Each step reads the box anew: a correction re-runs these rules nested.
    m_clock.correct(rules::clockNotANumber(m_clock.text()));
    m_clock.correct(rules::clockCap(m_clock.text()));
}

void SystemClockEntry::lowerBoundRule()
{
    m_clock.correct(rules::clockLowerBound(m_clock.text()));
}

} // namespace veloxa::dds
