#include "panel_widgets.h"

#include "core/link/clock.h"
#include "core/link/recording_channel.h"
#include "core/settings/memory_store.h"
#include "gui/window/form_main.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

namespace veloxa::bench {

std::vector<std::string> WidgetCounts::floorArguments() const
{
    return {"--frames", std::to_string(frames), "--boxes",   std::to_string(boxes),
            "--labels", std::to_string(labels), "--buttons", std::to_string(buttons),
            "--radios", std::to_string(radios), "--sliders", std::to_string(sliders)};
}

std::string WidgetCounts::text() const
{
    std::string t = std::to_string(frames) + " frames, " + std::to_string(boxes) + " text boxes, "
        + std::to_string(labels) + " labels, " + std::to_string(buttons) + " buttons, " + std::to_string(radios)
        + " radios, " + std::to_string(sliders) + " sliders";
    if (others)
        t += ", " + std::to_string(others) + " other widgets";
    return t;
}

WidgetCounts countWidgets(const QWidget &window)
{
    WidgetCounts counts;
    const auto all = window.findChildren<QWidget *>();
    for (const QWidget *w : all) {
        if (qobject_cast<const QGroupBox *>(w))
            ++counts.frames;
        else if (qobject_cast<const QLineEdit *>(w))
            ++counts.boxes;
        else if (qobject_cast<const QLabel *>(w))
            ++counts.labels;
        else if (qobject_cast<const QPushButton *>(w))
            ++counts.buttons;
        else if (qobject_cast<const QRadioButton *>(w))
            ++counts.radios;
        else if (qobject_cast<const QSlider *>(w))
            ++counts.sliders;
        else
            ++counts.others;
    }
    return counts;
}

WidgetCounts countPanelWidgets()
{
    link::RecordingChannel channel;
    settings::MemoryStore store;
    link::SteadyClock clock;
    window::FormMain form(channel, store, clock);
    return countWidgets(form);
}

} // namespace veloxa::bench
