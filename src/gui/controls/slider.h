#pragma once

#include <QSlider>

namespace veloxa::controls {

// A horizontal slider whose program assignments outside its range are
// refused instead of clamped: the slider keeps its value and assign() says
// false. valueChanged() comes on every real change of the value, by the user
// or by the program.
class Slider : public QSlider {
    Q_OBJECT
public:
    explicit Slider(QWidget *parent = nullptr);

    bool assign(int value);
};

} // namespace veloxa::controls
