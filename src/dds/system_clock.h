#pragma once
// The DDS system clock box: kept a number, capped at 1000 MHz on every change,
// raised to 100 MHz when it loses the focus.

#include "controls/text_box.h"

#include <QString>

#include <optional>

namespace veloxa::dds {

inline constexpr double kClockMaxMHz = 1000.0;
inline constexpr double kClockMinMHz = 100.0;

// The lower-bound rule: "100" for a text whose leading number is below 100.
std::optional<QString> clockLowerBoundCorrection(const QString &text);

// The clamps of a frequency box (the DDS frequency, the ramp's stop): above
// +f/2 the box becomes f/2, then below -f/2 it becomes -f/2, f being the clock
// box's whole-text reading read anew for each step. Each clamp is an
// assignment, so the box's own handling runs again nested. The clamps rest
// while the clock is not a number or negative (possible only while the clock
// box has the focus): with a negative clock they would undo each other
// without end.
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
