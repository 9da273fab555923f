#pragma once

#include "core/rules/restore_checks.h"
#include "gui/window/form_main.h"

namespace veloxa::window {

// One stored setting as the checks take it: nothing when it was not found.
rules::Stored storedSetting(const settings::SettingsStore &store, const QString &name);

// Puts the stored settings of the last run back into the controls, in a
// fixed order, each after its check. Every assignment runs that control's
// own change handling at once, so the order decides which checks see which
// neighbouring values. Nothing is sent from here (the channel has no
// destination yet when start-up calls it).
void restoreSettings(FormMain &form, const settings::SettingsStore &store);

} // namespace veloxa::window
