#pragma once
// The commands of veloxa2-ctl --panel: each one as the requests to a running
// panel's control endpoint that do what a user does on the window (a box
// assigned, a button or an option clicked). The panel applies its own rules
// and sends; nothing here is sent to the unit.

#include "tokenizer.h"

#include <QJsonObject>
#include <QList>

#include <optional>

namespace veloxa::ctl {

struct PanelStep {
    QString method; // "get", "set", "click", "subscribe"
    QJsonObject params;
    // For "heartbeat on|off": click only when the panel's heartbeat is not
    // already in the wanted state.
    std::optional<bool> unlessHeartbeatIs;
};

struct PanelPlan {
    enum class Kind { Steps, Get, Watch, Units };
    Kind kind = Kind::Steps;
    QList<PanelStep> steps;
};

Checked<PanelPlan> buildPanelCommand(const Tokens &tokens);

} // namespace veloxa::ctl
