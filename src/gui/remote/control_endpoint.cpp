#include "gui/remote/control_endpoint.h"

#include "core/remote/endpoint_path.h"
#include "gui/window/form_main.h"

namespace veloxa::remote {

ControlEndpoint::ControlEndpoint(window::FormMain &form)
    : m_operations(form.controls())
    , m_events(form.controls(), m_operations, form.Enet, form.linkView())
    , m_server(m_operations, m_events)
{
}

QString ControlEndpoint::open(const QString &name)
{
    return m_server.open(name);
}

} // namespace veloxa::remote
