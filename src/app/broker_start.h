#pragma once
// The broker bridge as --mqtt and the options beside it ask for it.

#include "app/panel_options.h"
#include "gui/remote/broker_bridge.h"

#include <memory>

namespace veloxa::remote {
class ControlEndpoint;
}

namespace veloxa::app {

// How long shut-down waits for "offline" to reach the broker.
inline constexpr int kBrokerGoodbyeMs = 900;

// The bridge to the broker at `address` (options.broker) on the window's
// operations and events, started; nothing, with
// one line on stderr, when the credentials or the broker's place forbid it
// (the panel runs on without it).
std::unique_ptr<remote::BrokerBridge>
startBrokerBridge(const PanelOptions &options, const broker::BrokerAddress &address, remote::ControlEndpoint &remote);

} // namespace veloxa::app
