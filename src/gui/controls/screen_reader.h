#pragma once
// What screen readers say of a control beyond its caption: a description the
// program changes while it runs, with the change announced.

#include <QString>
#include <QWidget>

namespace veloxa::controls {

// Gives the widget this accessible description, which assistive technology
// is told of with one DescriptionChanged event; nothing happens when it has
// it already. Nothing visible changes.
void describeForScreenReaders(QWidget &widget, const QString &description);

} // namespace veloxa::controls
