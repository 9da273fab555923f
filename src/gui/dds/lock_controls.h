#pragma once
// Polarity, DDS power, gain and display contrast: each sends its two-byte
// command when the user changes it; gain and contrast are also stored on every
// change and re-sent at start-up and when the link comes back.

#include "core/link/channel.h"
#include "core/settings/store.h"
#include "gui/controls/option_group.h"
#include "gui/controls/slider.h"

namespace veloxa::dds {

class LockControls : public QObject {
public:
    LockControls(controls::OptionGroup &polarity, controls::OptionGroup &power, controls::Slider &contrast,
                 controls::Slider &gain, link::Channel &channel, settings::SettingsStore &store);

    // Each returns whether its command went out.
    bool polarityOperation(int index);
    bool powerOperation(int index);
    // The polarity command for the selected option ("+" is index 0).
    bool polarityRepeat();

    // Store the slider's value, send its command, then set its hint. A command
    // that cannot be built or sent ends the change before the hint.
    void contrastChange();
    void gainChange();

private:
    controls::OptionGroup &m_polarity;
    controls::Slider &m_contrast;
    controls::Slider &m_gain;
    link::Channel &m_channel;
    settings::SettingsStore &m_store;
};

} // namespace veloxa::dds
