#include "gui/controls/slider.h"

namespace veloxa::controls {

Slider::Slider(QWidget *parent)
    : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
}

bool Slider::assign(int value)
{
    if (value < minimum() || value > maximum())
        return false;
    setValue(value);
    return true;
}

} // namespace veloxa::controls
