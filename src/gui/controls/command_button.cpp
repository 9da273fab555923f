#include "gui/controls/command_button.h"

#include "gui/controls/text_box.h"

#include <QKeyEvent>

namespace veloxa::controls {

CommandButton::CommandButton(const QString &caption, QWidget *parent)
    : QPushButton(caption, parent)
{
    // The window is no dialog: no button is the default one that Enter
    // presses from anywhere.
    setAutoDefault(false);
}

void CommandButton::keyPressEvent(QKeyEvent *event)
{
    if (typesCarriageReturn(*event)) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

} // namespace veloxa::controls
