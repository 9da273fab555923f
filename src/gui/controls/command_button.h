#pragma once

#include <QPushButton>

namespace veloxa::controls {

// A push button that Return and keypad Enter press when it has the focus, as
// Space does: one key press, one click. A held key clicks once (its repeats
// are ignored), and with Ctrl or Alt the key does nothing here.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButton(const QString &caption, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace veloxa::controls
