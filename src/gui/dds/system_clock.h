#pragma once
// The DDS system clock box: kept a number, capped at 1000 MHz on every change,
// raised to 100 MHz when the user leaves it.

#include "gui/controls/text_box.h"

namespace veloxa::dds {

class SystemClockEntry : public QObject {
public:
    explicit SystemClockEntry(controls::TextBox &clock);

private:
    controls::TextBox &m_clock;
};

} // namespace veloxa::dds
