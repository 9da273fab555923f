#pragma once
// veloxa2-ctl --panel: the plan carried out on a running panel's control
// endpoint, one request at a time, each answered before the next goes.

#include "panel_commands.h"

namespace veloxa::ctl {

inline constexpr int kExitNoPanel = 3;

struct PanelOptions {
    QString endpoint; // where the endpoint is; by default where the panel opens it
    bool json = false; // watch: the events as the panel sends them
    bool verbose = false;
};

// The exit status: 0 done, 1 the panel refused a request or went away,
// 3 no panel endpoint.
int runOnPanel(const PanelPlan &plan, const PanelOptions &options);

// One event as `watch` prints it: "2026-12-08T14:32:00.123Z sent A5 ... | frequency ...".
QString eventLine(const QJsonObject &event);

} // namespace veloxa::ctl
