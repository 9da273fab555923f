#pragma once
// How many widgets of each kind the panel's window holds, so that the
// minimal Qt program the start-up and idle benchmarks compare against
// (floor_app) builds exactly as many.

#include <QWidget>

#include <string>
#include <vector>

namespace veloxa::bench {

struct WidgetCounts {
    int frames = 0; // QGroupBox
    int boxes = 0; // QLineEdit (the panel's text boxes)
    int labels = 0; // QLabel
    int buttons = 0; // QPushButton
    int radios = 0; // QRadioButton
    int sliders = 0; // QSlider
    int others = 0; // any other widget below the window

    int total() const { return frames + boxes + labels + buttons + radios + sliders + others; }
    // floor_app's arguments for the same numbers.
    std::vector<std::string> floorArguments() const;
    std::string text() const;
};

WidgetCounts countWidgets(const QWidget &window);

// The counts of the panel's real window: builds a FormMain (with a recording
// channel and a store in memory) in this process, counts, and destroys it.
// Needs a QApplication.
WidgetCounts countPanelWidgets();

} // namespace veloxa::bench
