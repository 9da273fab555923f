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

class SystemClockEntry : public QObject {
public:
    explicit SystemClockEntry(controls::TextBox &clock);

    void clockRules();
    void lowerBoundRule();

private:
    controls::TextBox &m_clock;
};

} // namespace veloxa::dds
