#include "gui/controls/screen_reader.h"

namespace veloxa::controls {

void describeForScreenReaders(QWidget &widget, const QString &description)
{
    if (widget.accessibleDescription() == description)
        return;
    // Qt sends the DescriptionChanged event itself (QAccessibleEvent to the
    // platform's bridge, a property change on the AT-SPI bus); one more
    // would make a screen reader speak the change twice.
    widget.setAccessibleDescription(description);
}

} // namespace veloxa::controls
