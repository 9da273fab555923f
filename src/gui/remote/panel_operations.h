#pragma once
// What a script may do to the running panel, by the controls' names: read
// every control, assign a box or a slider as the program does, click a button
// or an option, press Enter in a box. Each operation checks everything before
// it touches a control, so a refused request changes nothing.

#include "core/remote/json_rpc.h"
#include "gui/window/panel_controls.h"

#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

#include <variant>

namespace veloxa::remote {

using Outcome = std::variant<QJsonValue, Error>;

class PanelOperations {
public:
    explicit PanelOperations(const window::PanelControls &controls);

    // The controls state() shows, in its order.
    static const QStringList &shownControls();

    // {"controls": {...}, "link": {"heard": bool}, "heartbeat": bool}
    QJsonObject state() const;
    // One control's state as state() shows it; Undefined for an unknown name.
    QJsonValue controlState(const QString &name) const;

    Outcome set(const QJsonObject &params);
    Outcome click(const QJsonObject &params);
    Outcome enter(const QJsonObject &params);
    // The request `method` ("get", "set", "click" or "enter") with its params,
    // as every way in to the panel carries it out.
    Outcome carryOut(const QString &method, const QJsonObject &params);
    // True for a control whose value is a number (a slider).
    bool takesNumber(const QString &name) const { return m_sliders.contains(name); }

private:
    const window::PanelControls &m_controls;
    // What a script may assign or click, by name.
    const QHash<QString, controls::TextBox *> m_boxes;
    const QHash<QString, QPushButton *> m_buttons;
    const QHash<QString, controls::Slider *> m_sliders;
    const QHash<QString, controls::OptionGroup *> m_options;
};

} // namespace veloxa::remote
