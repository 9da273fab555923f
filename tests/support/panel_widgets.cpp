#include "support/panel_widgets.h"

#include "support/panel_harness.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

namespace veloxa::test {

QStringList WidgetCounts::floorArguments() const
{
    return {QStringLiteral("--frames"), QString::number(frames), QStringLiteral("--boxes"),   QString::number(boxes),
            QStringLiteral("--labels"), QString::number(labels), QStringLiteral("--buttons"), QString::number(buttons),
            QStringLiteral("--radios"), QString::number(radios), QStringLiteral("--sliders"), QString::number(sliders)};
}

QString WidgetCounts::text() const
{
    QString t = QStringLiteral("%1 frames, %2 text boxes, %3 labels, %4 buttons, %5 radios, %6 sliders")
                    .arg(frames)
                    .arg(boxes)
                    .arg(labels)
                    .arg(buttons)
                    .arg(radios)
                    .arg(sliders);
    if (others)
        t += QStringLiteral(", %1 other widgets").arg(others);
    return t;
}

WidgetCounts countPanelWidgets()
{
    const PanelHarness panel;
    WidgetCounts counts;
    const auto all = panel.form->findChildren<QWidget *>();
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

} // namespace veloxa::test
