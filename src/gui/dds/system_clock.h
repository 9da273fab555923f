#pragma once
// The DDS system clock box: kept a number, capped at 1000 MHz on every change,
// raised to 100 MHz when the user leaves it.

#include "gui/controls/text_box.h"

namespace veloxa::dds {

// The clamps of a frequency box (the DDS frequency, the ramp's stop) to
// +/- half the clock, each step reading both boxes anew; each clamp is an
// assignment, so the box's own handling runs again nested.
void clampToHalfClock(controls::TextBox &box, const controls::TextBox &clock);

class SystemClockEntry : public QObject {
public:
    explicit SystemClockEntry(controls::TextBox &clock);

    void clockRules();
    void lowerBoundRule();

private:
    controls::TextBox &m_clock;
};

} // namespace veloxa::dds
