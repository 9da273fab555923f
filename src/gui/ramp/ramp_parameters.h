#pragma once
// The ramp's rate, step and stop frequency boxes: each kept within what the
// ramp-start command can carry, and stored on every change.

#include "core/settings/store.h"
#include "gui/controls/text_box.h"

namespace veloxa::ramp {

class RampParameters : public QObject {
public:
    RampParameters(controls::TextBox &rate, controls::TextBox &step, controls::TextBox &stop,
                   const controls::TextBox &clock, settings::SettingsStore &store);

    void rateRules();
    void stepRules();
    void stopRules();
    // An emptied rate or step box becomes "0" when the user leaves it.
    static void emptyBoxRule(controls::TextBox &box);

private:
    void wholeNumberRules(controls::TextBox &box, double largest, const QString &settingName);

    controls::TextBox &m_rate;
    controls::TextBox &m_step;
    controls::TextBox &m_stop;
    const controls::TextBox &m_clock;
    settings::SettingsStore &m_store;
};

} // namespace veloxa::ramp
