#include "app/broker_start.h"

#include "gui/remote/control_endpoint.h"

#include <cstdio>

namespace veloxa::app {
namespace {

void say(const QString &line)
{
    std::fprintf(stderr, "veloxa2-gui: %s\n", qPrintable(line));
}

} // namespace

std::unique_ptr<remote::BrokerBridge>
startBrokerBridge(const PanelOptions &options, const broker::BrokerAddress &address, remote::ControlEndpoint &remote)
{
    remote::BridgeSettings settings;
    settings.client.address = address;
    settings.client.caFile = options.brokerCa;
    settings.unit = options.unit.isEmpty() ? broker::defaultUnitName() : options.unit;
    settings.commands = options.brokerCommands;
    if (!options.brokerCredentials.isEmpty()) {
        const auto credentials = broker::readCredentials(options.brokerCredentials);
        if (const auto *problem = std::get_if<QString>(&credentials)) {
            say(QStringLiteral("--mqtt-credentials: %1; no broker bridge").arg(*problem));
            return nullptr;
        }
        settings.client.credentials = std::get<broker::Credentials>(credentials);
    }
    if (const QString refusal = remote::BrokerBridge::refusal(settings); !refusal.isEmpty()) {
        say(refusal);
        return nullptr;
    }
    auto bridge = std::make_unique<remote::BrokerBridge>(remote.operations(), remote.events(), settings);
    QObject::connect(bridge.get(), &remote::BrokerBridge::said, bridge.get(), &say);
    bridge->start();
    return bridge;
}

} // namespace veloxa::app
