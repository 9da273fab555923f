#include "gui/dds/lock_controls.h"

namespace veloxa::dds {

LockControls::LockControls(controls::OptionGroup &polarity, controls::OptionGroup &power, controls::Slider &contrast,
                           controls::Slider &gain, link::Channel &channel, settings::SettingsStore &store)
    : m_polarity(polarity)
    , m_contrast(contrast)
    , m_gain(gain)
    , m_channel(channel)
    , m_store(store)
{
    connect(&polarity, &controls::OptionGroup::clicked, this, [this](int index) { polarityOperation(index); });
    connect(&power, &controls::OptionGroup::clicked, this, [this](int index) { powerOperation(index); });
    connect(&contrast, &QSlider::valueChanged, this, [this] { contrastChange(); });
    connect(&gain, &QSlider::valueChanged, this, [this] { gainChange(); });
}

bool LockControls::polarityOperation(int index)
{
    const auto datagram = link::polarityCommand(index);
    return datagram && m_channel.send(*datagram);
}

bool LockControls::powerOperation(int index)
{
    return m_channel.send(link::powerCommand(index));
}

bool LockControls::polarityRepeat()
{
    return polarityOperation(m_polarity.isSelected(0) ? 0 : 1);
}

void LockControls::contrastChange()
{
    m_store.write(settings::names::DisplayContrast, QString::number(m_contrast.value()));
    const auto datagram = link::contrastCommand(m_contrast.value());
    if (!datagram || !m_channel.send(*datagram))
        return;
    m_contrast.setToolTip(QString::number(m_contrast.value()) + QLatin1Char('%'));
}

void LockControls::gainChange()
{
    m_store.write(settings::names::Gain, QString::number(m_gain.value()));
    const auto datagram = link::gainCommand(m_gain.value());
    if (!datagram || !m_channel.send(*datagram))
        return;
    m_gain.setToolTip(QString::number(m_gain.value()));
}

} // namespace veloxa::dds
