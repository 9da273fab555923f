#pragma once
// The ramp's rate, step and stop frequency boxes: each kept within what the
// ramp-start command can carry, and stored on every change.

#include "core/rules/box_rules.h"
#include "core/settings/store.h"
#include "gui/controls/text_box.h"

namespace veloxa::ramp {

class RampParameters : public QObject {
public:
    RampParameters(controls::TextBox &rate, controls::TextBox &step, controls::TextBox &stop,
                   const controls::TextBox &clock, settings::SettingsStore &store);

private:
    void wholeNumberRules(controls::TextBox &box, rules::Box which, const QString &settingName);
    void stopRules();

    controls::TextBox &m_rate;
    controls::TextBox &m_step;
    controls::TextBox &m_stop;
    const controls::TextBox &m_clock;
    settings::SettingsStore &m_store;
};

} // namespace veloxa::ramp
