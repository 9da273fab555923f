#pragma once
// veloxa2-ctl --mqtt: a panel reached through a broker. Requests go as
// messages on the unit's set/, click/ and enter/ topics with an MQTT 5
// response topic of this run's own; "get" reads the retained state/ and link
// topics; "units" every unit's status and link; "watch" the event topic.

#include "panel_link.h"

#include "core/broker/broker_client.h"

#include <QHash>
#include <QList>

#include <functional>
#include <memory>

namespace veloxa::ctl {

class BrokerPanel final : public PanelLink {
public:
    static constexpr int kConnectMs = 5000;
    static constexpr int kAnswerMs = 10000;

    // unit: the panel's name, or "+" for every unit (watch only).
    BrokerPanel(broker::ClientSettings settings, QString unit);

    // What the run reads: the state and answers, the events, or only every
    // unit's status and link.
    enum class Use { Requests, Events, Units };
    // Connects and subscribes; why not, when the broker was not reached in time.
    std::optional<QString> open(Use use);

    std::variant<QJsonValue, QString> call(const QString &method, const QJsonObject &params) override;
    std::optional<QString> watch() override { return std::nullopt; }
    std::optional<QJsonObject> nextEvent() override;
    QString eventsEnded() const override { return QStringLiteral("the broker ended the connection"); }
    // Why requests cannot reach the unit's panel (unknown or offline), or empty.
    QString statusProblem() const;

private:
    // Waits until `found` picks a message that arrived (true), at most waitMs
    // (-1: no limit); messages it passes over are kept for later.
    bool waitFor(const std::function<bool(const broker::Message &)> &found, int waitMs);
    // Every retained message of the subscriptions has come: a message of
    // our own, sent after subscribing, is back.
    bool settle();
    std::variant<QJsonValue, QString> request(const QString &method, const QJsonObject &params);
    QJsonObject state() const;
    QJsonObject units() const;

    broker::ClientSettings m_settings;
    QString m_unit;
    QString m_answerTopic;
    std::unique_ptr<broker::BrokerClient> m_client;
    QString m_lost; // why the connection is gone
    QHash<QString, QByteArray> m_retained; // topic -> payload
    QList<broker::Message> m_kept;
    int m_nextId = 1;
};

struct Plan;

// The exit status as runOnPanel's; 3 also when the broker is not reached.
int runThroughBroker(const Plan &plan);

} // namespace veloxa::ctl
