#pragma once
// The control endpoint of one window: its operations, its events and the
// server, made and torn down together.

#include "core/remote/endpoint_path.h"
#include "gui/remote/control_server.h"
#include "gui/remote/panel_events.h"
#include "gui/remote/panel_operations.h"

namespace veloxa::window {
class FormMain;
}

namespace veloxa::remote {

class ControlEndpoint {
public:
    explicit ControlEndpoint(window::FormMain &form);

    // Opens it at `name` (by default where veloxa2-ctl --panel looks). Empty
    // when open, else why not.
    QString open(const QString &name = endpointName());

    ControlServer &server() { return m_server; }

private:
    PanelOperations m_operations;
    PanelEvents m_events;
    ControlServer m_server;
};

} // namespace veloxa::remote
