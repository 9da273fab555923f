#pragma once
// How many widgets of each kind the panel's window holds, so that the
// minimal Qt program the start-up and idle benchmarks compare against
// (floor_app) builds exactly as many.

#include <QString>
#include <QStringList>

namespace veloxa::test {

struct WidgetCounts {
    int frames = 0; // QGroupBox
    int boxes = 0; // QLineEdit (the panel's text boxes)
    int labels = 0; // QLabel
    int buttons = 0; // QPushButton
    int radios = 0; // QRadioButton
    int sliders = 0; // QSlider
    int others = 0; // any other widget below the window

    // floor_app's arguments for the same numbers.
    QStringList floorArguments() const;
    QString text() const;
};

// The counts of the panel's real window (the harness's, built in this
// process and destroyed again). Needs a QApplication.
WidgetCounts countPanelWidgets();

} // namespace veloxa::test
