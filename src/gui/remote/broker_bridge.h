#pragma once
// The running panel on an MQTT broker, under "veloxa2/<unit>/": its status
// (with a last will), the state of every control the endpoint's "get" shows,
// the link as the IP box's tint shows it, and the endpoint's events; with
// commands on, the endpoint's set, click and enter as messages, each carried
// out by the same operations as on the endpoint. The window hands messages to
// the broker's client and goes on; commands are taken in at the window's
// pace, a few each turn of its event loop.

#include "core/broker/broker_client.h"
#include "gui/remote/panel_events.h"
#include "gui/remote/panel_operations.h"

#include <QObject>

#include <memory>

namespace veloxa::remote {

struct BridgeSettings {
    broker::ClientSettings client; // address, CA and credentials; the rest is set here
    QString unit;
    bool commands = false; // take in set/, click/ and enter/
};

class BrokerBridge : public QObject {
    Q_OBJECT
public:
    // Commands carried out in one turn of the window's event loop.
    static constexpr int kCommandsPerTurn = 16;

    BrokerBridge(PanelOperations &operations, PanelEvents &events, BridgeSettings settings, QObject *parent = nullptr);
    ~BrokerBridge() override;
    BrokerBridge(const BrokerBridge &) = delete;
    BrokerBridge &operator=(const BrokerBridge &) = delete;

    void start();
    // At the start of shut-down: no command is carried out any more.
    void stopCommands();
    // At the end: "offline" on status, then goodbye, waiting at most waitMs.
    void finish(int waitMs);

    QString topic(const QString &leaf) const;

    // Why a bridge with these settings may not start, or empty: a broker that
    // others reach takes commands only over TLS with credentials.
    static QString refusal(const BridgeSettings &settings);

signals:
    // One line for the user: the broker was lost (or never reached) and is
    // tried again, or it is reached again. Once per change, not per retry.
    void said(const QString &line);

private:
    void eventHappened(const PanelEvent &event);
    void takeCommands();
    void carryOut(const broker::Message &message);
    Outcome outcomeOf(const QString &verb, const QString &control, const QByteArray &payload);

    PanelOperations &m_operations;
    PanelEvents &m_events;
    const BridgeSettings m_settings;
    broker::BrokerClient m_client;
    bool m_commands;
    const QString m_eventTopic, m_stateTopic, m_linkTopic; // state/ is a prefix
    bool m_down = false; // the user was told that the broker is not reached
    bool m_takeQueued = false;
    // Used by the client's thread alone, where the events are written out.
    const std::shared_ptr<EventTimes> m_eventTimes = std::make_shared<EventTimes>();
};

} // namespace veloxa::remote
