#pragma once
// The control endpoint of one window: its operations, its events and the
// server, made and torn down together. The server listens only once open()
// is called; the broker bridge uses the operations and events without it.

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
    // What the broker bridge carries out and publishes: the same operations
    // and events, whether or not the endpoint is open.
    PanelOperations &operations() { return m_operations; }
    PanelEvents &events() { return m_events; }

private:
    PanelOperations m_operations;
    PanelEvents m_events;
    ControlServer m_server;
};

} // namespace veloxa::remote
