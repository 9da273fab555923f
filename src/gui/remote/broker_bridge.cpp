#include "gui/remote/broker_bridge.h"

#include "gui/remote/panel_events.h"
#include "gui/remote/panel_operations.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QTimer>

namespace veloxa::remote {
namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A control's state as its topic carries it: a text as it is, a number in decimal.
QByteArray stateText(const QJsonValue &value)
{
    if (value.isDouble())
        return QByteArray::number(value.toInteger());
    return value.toString().toUtf8();
}

QByteArray droppedEvent(quint64 count, const char *what)
{
    return compact({{QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                    {QStringLiteral("kind"), QStringLiteral("dropped")},
                    {QLatin1String(what), static_cast<qint64>(count)}});
}

Error invalid(const QString &message)
{
    return Error{code::kInvalidParams, message};
}

broker::ClientSettings clientSettings(const BridgeSettings &bridge)
{
    broker::ClientSettings client = bridge.client;
    client.clientId = QStringLiteral("veloxa2-gui-") + bridge.unit;
    client.willTopic = broker::unitTopic(bridge.unit, QStringLiteral("status"));
    client.willPayload = "offline";
    client.subscriptions.clear();
    if (bridge.commands)
        for (const char *verb : {"set/#", "click/#", "enter/#"})
            client.subscriptions.append(broker::unitTopic(bridge.unit, QLatin1String(verb)));
    client.droppedTopic = broker::unitTopic(bridge.unit, QStringLiteral("event"));
    client.droppedNotice = [](quint64 count) { return droppedEvent(count, "events"); };
    return client;
}

} // namespace

BrokerBridge::BrokerBridge(PanelOperations &operations, PanelEvents &events, BridgeSettings settings, QObject *parent)
    : QObject(parent)
    , m_operations(operations)
    , m_events(events)
    , m_settings(std::move(settings))
    , m_client(clientSettings(m_settings))
    , m_commands(m_settings.commands)
    , m_eventTopic(topic(QStringLiteral("event")))
    , m_stateTopic(topic(QStringLiteral("state/")))
    , m_linkTopic(topic(QStringLiteral("link")))
{
    // Sent again, in this order, at every connect.
    m_client.retain(topic(QStringLiteral("status")), "online");
    const QJsonObject state = m_operations.state();
    m_client.retain(topic(QStringLiteral("link")),
                    state.value(QLatin1String("link")).toObject().value(QLatin1String("heard")).toBool() ? "heard"
                                                                                                         : "silent");
    for (const QString &name : PanelOperations::shownControls())
        m_client.retain(topic(QStringLiteral("state/") + name), stateText(m_operations.controlState(name)));

    connect(&m_events, &PanelEvents::happened, this, &BrokerBridge::eventHappened);
    connect(&m_client, &broker::BrokerClient::arrived, this, &BrokerBridge::takeCommands);
    connect(&m_client, &broker::BrokerClient::connectionChanged, this, [this](bool connected, const QString &problem) {
        const QString url = m_settings.client.address.url();
        if (!connected && !m_down)
            emit said(QStringLiteral("broker %1: %2; trying again").arg(url, problem));
        else if (connected && m_down)
            emit said(QStringLiteral("broker %1: connected").arg(url));
        m_down = !connected;
    });
}

BrokerBridge::~BrokerBridge()
{
    m_events.setWatched(this, false);
}

void BrokerBridge::start()
{
    m_events.setWatched(this, true);
    m_client.start();
}

void BrokerBridge::stopCommands()
{
    m_commands = false;
}

void BrokerBridge::finish(int waitMs)
{
    m_events.setWatched(this, false);
    m_client.stop(topic(QStringLiteral("status")), "offline", waitMs);
}

QString BrokerBridge::topic(const QString &leaf) const
{
    return broker::unitTopic(m_settings.unit, leaf);
}

QString BrokerBridge::refusal(const BridgeSettings &settings)
{
    const broker::BrokerAddress &address = settings.client.address;
    if (!settings.commands || broker::isLoopbackHost(address.host))
        return {};
    if (!address.tls || !settings.client.credentials)
        return QStringLiteral("commands from a broker on another machine (%1) need mqtts:// and "
                              "--mqtt-credentials; no broker bridge")
            .arg(address.host);
    return {};
}

void BrokerBridge::eventHappened(const PanelEvent &event)
{
    if (event.kind() == QLatin1String("changed"))
        m_client.retain(m_stateTopic + event.value(QLatin1String("name")).toString(),
                        stateText(event.value(QLatin1String("value"))));
    else if (event.kind() == QLatin1String("link"))
        m_client.retain(m_linkTopic, event.value(QLatin1String("heard")).toBool() ? "heard" : "silent");
    // Written out on the client's thread: the window only hands it over.
    m_client.sendWritten(m_eventTopic, [event, times = m_eventTimes] { return compact(event.toJson(*times)); });
}

void BrokerBridge::takeCommands()
{
    m_takeQueued = false;
    const QList<broker::Message> messages = m_client.take(kCommandsPerTurn);
    if (const quint64 dropped = m_client.takeDroppedArrivals(); dropped > 0)
        m_client.send(topic(QStringLiteral("event")), droppedEvent(dropped, "commands"));
    for (const broker::Message &message : messages)
        carryOut(message);
    // More may wait: the rest in later turns, after the timers and input
    // that came meanwhile.
    if (messages.size() == kCommandsPerTurn && !m_takeQueued) {
        m_takeQueued = true;
        QTimer::singleShot(0, this, &BrokerBridge::takeCommands);
    }
}

void BrokerBridge::carryOut(const broker::Message &message)
{
    if (!m_commands || message.retained)
        return; // a retained command is an old one, not this moment's
    const QString prefix = topic({});
    if (!message.topic.startsWith(prefix))
        return;
    const QString verb = message.topic.mid(prefix.size()).section(QLatin1Char('/'), 0, 0);
    const QString control = message.topic.mid(prefix.size() + verb.size() + 1);
    const Outcome outcome = outcomeOf(verb, control, message.payload);

    QJsonObject answer;
    if (const auto *error = std::get_if<Error>(&outcome)) {
        const QJsonObject details{{QStringLiteral("code"), error->code}, {QStringLiteral("message"), error->message}};
        answer.insert(QStringLiteral("error"), details);
        m_client.send(topic(QStringLiteral("error")),
                      compact({{QStringLiteral("topic"), message.topic}, {QStringLiteral("error"), details}}));
    } else {
        answer.insert(QStringLiteral("result"), std::get<QJsonValue>(outcome));
    }
    if (!message.responseTopic.isEmpty())
        m_client.send(message.responseTopic, compact(answer), 0, {}, message.correlation);
}

Outcome BrokerBridge::outcomeOf(const QString &verb, const QString &control, const QByteArray &payload)
{
    if (payload.size() > broker::BrokerClient::kMaxPayloadBytes)
        return invalid(QStringLiteral("a payload of more than %1 bytes").arg(broker::BrokerClient::kMaxPayloadBytes));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(payload);
    if (utf8.hasError())
        return invalid(QStringLiteral("the payload is not UTF-8"));
    if (control.contains(QLatin1Char('/')))
        return invalid(QStringLiteral("no control named \"%1\"").arg(control));
    QJsonObject params{{QStringLiteral("name"), control}};

    if (verb == QLatin1String("set")) {
        bool whole = false;
        const int number = text.toInt(&whole);
        params.insert(QStringLiteral("value"),
                      m_operations.takesNumber(control) && whole ? QJsonValue(number) : QJsonValue(text));
        return m_operations.carryOut(verb, params);
    }
    if (verb == QLatin1String("click") || verb == QLatin1String("enter")) {
        if (verb == QLatin1String("click") && (text == QLatin1String("0") || text == QLatin1String("1")))
            params.insert(QStringLiteral("index"), text.toInt());
        else if (!text.isEmpty())
            return invalid(
                QStringLiteral("%1/%2 takes an empty payload%3")
                    .arg(verb, control,
                         verb == QLatin1String("click") ? QStringLiteral(" (0 or 1 for an option)") : QString()));
        return m_operations.carryOut(verb, params);
    }
    return Error{code::kMethodNotFound, QStringLiteral("no command \"%1\"").arg(verb)};
}

} // namespace veloxa::remote
