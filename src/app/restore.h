#pragma once

#include "app/form_main.h"

namespace veloxa::app {

// Puts the stored settings of the last run back into the controls, in a
// fixed order, each after its check. Every assignment runs that control's
// own change handling at once, so the order decides which checks see which
// neighbouring values. Nothing is sent from here (the channel has no
// destination yet when start-up calls it).
void restoreSettings(FormMain &form, const settings::SettingsStore &store);

} // namespace veloxa::app
