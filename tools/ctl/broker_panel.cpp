#include "broker_panel.h"

#include "command_line.h"
#include "output.h"
#include "panel_client.h"

#include "core/link/link_supervisor.h"
#include "core/remote/json_rpc.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QTimer>
#include <QUuid>

namespace veloxa::ctl {
namespace {

// The controls whose state is a number (sliders and option groups).
bool isNumberControl(const QString &name)
{
    return name.startsWith(QLatin1String("sld")) || name.startsWith(QLatin1String("opt"));
}

// A unit's name from "veloxa2/<unit>/<leaf...>".
QString unitOf(const QString &topic)
{
    return topic.section(QLatin1Char('/'), 1, 1);
}

} // namespace

BrokerPanel::BrokerPanel(broker::ClientSettings settings, QString unit)
    : m_settings(std::move(settings))
    , m_unit(std::move(unit))
    , m_answerTopic(QStringLiteral("veloxa2-ctl/") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

std::optional<QString> BrokerPanel::open(Use use)
{
    m_settings.subscriptions = {m_answerTopic, broker::unitTopic(m_unit, QStringLiteral("status")),
                                broker::unitTopic(m_unit, QStringLiteral("link"))};
    if (use == Use::Requests)
        m_settings.subscriptions.append(broker::unitTopic(m_unit, QStringLiteral("state/+")));
    if (use == Use::Events)
        m_settings.subscriptions.append(broker::unitTopic(m_unit, QStringLiteral("event")));
    m_client = std::make_unique<broker::BrokerClient>(m_settings);
    bool subscribed = false;
    QObject::connect(m_client.get(), &broker::BrokerClient::subscribed, m_client.get(),
                     [&subscribed] { subscribed = true; });
    QObject::connect(m_client.get(), &broker::BrokerClient::connectionChanged, m_client.get(),
                     [this](bool connected, const QString &problem) { m_lost = connected ? QString() : problem; });
    m_client->start();

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(m_client.get(), &broker::BrokerClient::subscribed, &loop, &QEventLoop::quit);
    QObject::connect(m_client.get(), &broker::BrokerClient::connectionChanged, &loop, [&loop](bool connected) {
        if (!connected)
            loop.quit();
    });
    limit.start(kConnectMs);
    loop.exec();
    if (!subscribed)
        return QStringLiteral("no broker at %1: %2")
            .arg(m_settings.address.url(), m_lost.isEmpty() ? QStringLiteral("no answer") : m_lost);
    if (!settle())
        return QStringLiteral("the broker at %1 stopped answering").arg(m_settings.address.url());
    return std::nullopt;
}

bool BrokerPanel::waitFor(const std::function<bool(const broker::Message &)> &found, int waitMs)
{
    QTimer limit;
    limit.setSingleShot(true);
    if (waitMs >= 0)
        limit.start(waitMs);
    while (true) {
        for (const broker::Message &message : m_client->take(broker::BrokerClient::kMaxArrived)) {
            if (message.topic != m_answerTopic && !message.topic.endsWith(QLatin1String("/event")))
                m_retained.insert(message.topic, message.payload); // the latest state
            else
                m_kept.append(message);
        }
        for (qsizetype i = 0; i < m_kept.size(); ++i) {
            if (found(m_kept.at(i))) {
                m_kept.removeAt(i);
                return true;
            }
        }
        if (!m_lost.isEmpty() || (waitMs >= 0 && !limit.isActive()))
            return false;
        QEventLoop loop;
        QObject::connect(m_client.get(), &broker::BrokerClient::arrived, &loop, &QEventLoop::quit);
        QObject::connect(m_client.get(), &broker::BrokerClient::connectionChanged, &loop, &QEventLoop::quit);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        loop.exec(); // a message that came since the look above has its signal queued
    }
}

bool BrokerPanel::settle()
{
    const QByteArray mark = "settle-" + QByteArray::number(m_nextId++);
    m_client->send(m_answerTopic, {}, 0, {}, mark);
    return waitFor([&mark](const broker::Message &message) { return message.correlation == mark; }, kAnswerMs);
}

QString BrokerPanel::statusProblem() const
{
    const QByteArray status = m_retained.value(broker::unitTopic(m_unit, QStringLiteral("status")));
    if (status.isEmpty())
        return QStringLiteral("no unit \"%1\" on the broker at %2").arg(m_unit, m_settings.address.url());
    if (status != "online")
        return QStringLiteral("unit \"%1\" is %2").arg(m_unit, QString::fromUtf8(status));
    return {};
}

QJsonObject BrokerPanel::state() const
{
    QJsonObject controls;
    const QString prefix = broker::unitTopic(m_unit, QStringLiteral("state/"));
    for (auto value = m_retained.constBegin(); value != m_retained.constEnd(); ++value) {
        if (!value.key().startsWith(prefix))
            continue;
        const QString name = value.key().mid(prefix.size());
        const QString text = QString::fromUtf8(*value);
        bool whole = false;
        const int number = text.toInt(&whole);
        controls.insert(name, isNumberControl(name) && whole ? QJsonValue(number) : QJsonValue(text));
    }
    const bool heard = m_retained.value(broker::unitTopic(m_unit, QStringLiteral("link"))) == "heard";
    return {{QStringLiteral("controls"), controls},
            {QStringLiteral("link"), QJsonObject{{QStringLiteral("heard"), heard}}},
            {QStringLiteral("heartbeat"), link::heartbeatIsOn(controls.value(QLatin1String("cmdHb")).toString())}};
}

QJsonObject BrokerPanel::units() const
{
    QJsonObject units;
    for (auto value = m_retained.constBegin(); value != m_retained.constEnd(); ++value) {
        const QString leaf = value.key().section(QLatin1Char('/'), 2);
        if (leaf != QLatin1String("status") && leaf != QLatin1String("link"))
            continue;
        QJsonObject facts = units.value(unitOf(value.key())).toObject();
        facts.insert(leaf, QString::fromUtf8(*value));
        units.insert(unitOf(value.key()), facts);
    }
    return units;
}

std::variant<QJsonValue, QString> BrokerPanel::call(const QString &method, const QJsonObject &params)
{
    if (method == QLatin1String("units"))
        return QJsonValue(units());
    if (!settle())
        return QStringLiteral("the broker stopped answering");
    if (QString problem = statusProblem(); !problem.isEmpty())
        return problem;
    if (method == QLatin1String("get"))
        return QJsonValue(state());
    return request(method, params);
}

std::variant<QJsonValue, QString> BrokerPanel::request(const QString &method, const QJsonObject &params)
{
    const QString name = params.value(QLatin1String("name")).toString();
    QByteArray payload;
    if (const QJsonValue value = params.value(QLatin1String("value")); value.isString())
        payload = value.toString().toUtf8();
    else if (value.isDouble())
        payload = QByteArray::number(value.toInteger());
    if (const QJsonValue index = params.value(QLatin1String("index")); index.isDouble())
        payload = QByteArray::number(index.toInteger());

    const QByteArray correlation = QByteArray::number(m_nextId++);
    m_client->send(broker::unitTopic(m_unit, method + QLatin1Char('/') + name), payload, 1, m_answerTopic, correlation);
    broker::Message answer;
    const bool answered = waitFor(
        [&](const broker::Message &message) {
            if (message.correlation != correlation)
                return false;
            answer = message;
            return true;
        },
        kAnswerMs);
    if (!answered)
        return m_lost.isEmpty() ? QStringLiteral("the panel did not answer (is it started with --mqtt-commands?)")
                                : m_lost;
    const QJsonObject outcome = QJsonDocument::fromJson(answer.payload).object();
    if (outcome.contains(QLatin1String("error")))
        return outcome.value(QLatin1String("error")).toObject().value(QLatin1String("message")).toString();
    return outcome.value(QLatin1String("result"));
}

int runThroughBroker(const Plan &plan)
{
    if (!plan.broker || !plan.panel)
        return kExitUsage;
    broker::ClientSettings settings;
    settings.address = *plan.broker;
    settings.caFile = plan.brokerCa;
    if (!plan.brokerCredentials.isEmpty()) {
        const auto credentials = broker::readCredentials(plan.brokerCredentials);
        if (const auto *problem = std::get_if<QString>(&credentials)) {
            err(QStringLiteral("--mqtt-credentials: ") + *problem);
            return kExitUsage;
        }
        settings.credentials = std::get<broker::Credentials>(credentials);
    }
    const PanelPlan &panelPlan = *plan.panel;
    const bool units = panelPlan.kind == PanelPlan::Kind::Units;
    BrokerPanel panel(settings, units ? QStringLiteral("+") : plan.unit);
    const auto use = units                         ? BrokerPanel::Use::Units
        : panelPlan.kind == PanelPlan::Kind::Watch ? BrokerPanel::Use::Events
                                                   : BrokerPanel::Use::Requests;
    if (const auto problem = panel.open(use)) {
        err(*problem);
        return kExitNoPanel;
    }
    if (!units && use == BrokerPanel::Use::Requests) {
        if (const QString problem = panel.statusProblem(); !problem.isEmpty()) {
            err(problem);
            return kExitNoPanel;
        }
    }
    return runPlan(panel, panelPlan, {{}, plan.json, plan.verbose});
}

std::optional<QJsonObject> BrokerPanel::nextEvent()
{
    broker::Message event;
    const bool came = waitFor(
        [&event](const broker::Message &message) {
            if (!message.topic.endsWith(QLatin1String("/event")))
                return false;
            event = message;
            return true;
        },
        -1);
    if (!came)
        return std::nullopt;
    QJsonObject object = QJsonDocument::fromJson(event.payload).object();
    if (m_unit == QLatin1String("+"))
        object.insert(QStringLiteral("unit"), unitOf(event.topic));
    return object;
}

} // namespace veloxa::ctl
