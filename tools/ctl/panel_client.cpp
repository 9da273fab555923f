#include "panel_client.h"

#include "output.h"

#include "core/remote/json_rpc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>

namespace veloxa::ctl {
namespace {

QString compact(const QJsonValue &value)
{
    if (value.isString())
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    return QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

QString described(const PanelStep &step)
{
    QString text = step.method + QLatin1Char(' ') + step.params.value(QLatin1String("name")).toString();
    if (step.params.contains(QLatin1String("value")))
        text += QLatin1Char(' ') + compact(step.params.value(QLatin1String("value")));
    if (step.params.contains(QLatin1String("index")))
        text += QStringLiteral(" index ") + compact(step.params.value(QLatin1String("index")));
    return text;
}

int runSteps(PanelLink &panel, const PanelPlan &plan, const PanelOptions &options)
{
    for (const PanelStep &step : plan.steps) {
        if (step.unlessHeartbeatIs) {
            const auto state = panel.call(QStringLiteral("get"), {});
            if (const auto *failure = std::get_if<QString>(&state)) {
                err(*failure);
                return 1;
            }
            if (std::get<QJsonValue>(state).toObject().value(QLatin1String("heartbeat")).toBool()
                == *step.unlessHeartbeatIs) {
                if (options.verbose)
                    out(QStringLiteral("heartbeat already %1").arg(*step.unlessHeartbeatIs ? "on" : "off"));
                continue;
            }
        }
        const auto answer = panel.call(step.method, step.params);
        if (const auto *failure = std::get_if<QString>(&answer)) {
            err(QStringLiteral("the panel refused %1: %2").arg(described(step), *failure));
            return 1;
        }
        const QJsonValue &result = std::get<QJsonValue>(answer);
        if (options.verbose)
            out(QStringLiteral("%1 -> %2").arg(described(step), compact(result)));
        const QJsonValue asked = step.params.value(QLatin1String("value"));
        if (step.method == QLatin1String("set") && result != asked)
            err(QStringLiteral("%1 is %2, not %3: the panel's rule changed it")
                    .arg(step.params.value(QLatin1String("name")).toString(), compact(result), compact(asked)));
    }
    return 0;
}

int watch(PanelLink &panel, const PanelOptions &options)
{
    if (const auto failure = panel.watch()) {
        err(*failure);
        return 1;
    }
    while (const auto event = panel.nextEvent()) {
        if (options.json) {
            out(QString::fromUtf8(QJsonDocument(*event).toJson(QJsonDocument::Compact)));
            continue;
        }
        const QString unit = event->value(QLatin1String("unit")).toString();
        out(unit.isEmpty() ? eventLine(*event) : unit + QLatin1Char(' ') + eventLine(*event));
    }
    err(panel.eventsEnded());
    return 0;
}

} // namespace

bool PanelConnection::open(const QString &name, int waitMs)
{
    m_socket.abort(); // a try before that failed leaves nothing behind
    m_buffer.clear();
    m_socket.connectToServer(name);
    return m_socket.waitForConnected(waitMs);
}

void PanelConnection::write(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

int PanelConnection::send(const QString &method, const QJsonObject &params)
{
    const int id = m_nextId++;
    write(remote::requestLine(id, method, params));
    return id;
}

std::optional<QJsonObject> PanelConnection::nextMessage(int waitMs)
{
    m_buffer += m_socket.readAll(); // what an event loop or an earlier wait has taken in
    while (!m_buffer.contains('\n')) {
        if (m_socket.state() != QLocalSocket::ConnectedState && m_socket.bytesAvailable() == 0)
            return std::nullopt;
        if (!m_socket.waitForReadyRead(waitMs) && m_socket.bytesAvailable() == 0)
            return std::nullopt;
        m_buffer += m_socket.readAll();
    }
    const qsizetype end = m_buffer.indexOf('\n');
    const QByteArray line = m_buffer.left(end);
    m_buffer.remove(0, end + 1);
    return QJsonDocument::fromJson(line).object();
}

std::optional<QJsonObject> PanelConnection::answer(int id, int waitMs)
{
    while (const auto message = nextMessage(waitMs)) {
        if (message->value(QLatin1String("id")) == QJsonValue(id))
            return message;
    }
    return std::nullopt;
}

std::variant<QJsonValue, QString> PanelConnection::call(const QString &method, const QJsonObject &params)
{
    const auto message = answer(send(method, params));
    if (!message)
        return QStringLiteral("the panel did not answer");
    if (message->contains(QLatin1String("error")))
        return message->value(QLatin1String("error")).toObject().value(QLatin1String("message")).toString();
    return message->value(QLatin1String("result"));
}

std::optional<QString> PanelConnection::watch()
{
    const auto answer = call(QStringLiteral("subscribe"), {});
    if (const auto *failure = std::get_if<QString>(&answer))
        return *failure;
    return std::nullopt;
}

std::optional<QJsonObject> PanelConnection::nextEvent()
{
    while (const auto message = nextMessage(-1)) {
        if (message->value(QLatin1String("method")) == QLatin1String("event"))
            return message->value(QLatin1String("params")).toObject();
    }
    return std::nullopt;
}

QString eventLine(const QJsonObject &event)
{
    const QString kind = event.value(QLatin1String("kind")).toString();
    QString line = event.value(QLatin1String("time")).toString() + QLatin1Char(' ') + kind + QLatin1Char(' ');
    const auto text = [&event](const char *field) { return event.value(QLatin1String(field)).toString(); };
    if (kind == QLatin1String("sent"))
        line += text("bytes") + QStringLiteral(" | ") + text("meaning");
    else if (kind == QLatin1String("send-failed"))
        line += text("bytes") + QStringLiteral(" | ") + text("meaning") + QStringLiteral(" (") + text("reason")
            + QLatin1Char(')');
    else if (kind == QLatin1String("arrived"))
        line +=
            QStringLiteral("%1 bytes from %2").arg(event.value(QLatin1String("length")).toInteger()).arg(text("from"));
    else if (kind == QLatin1String("link"))
        line += event.value(QLatin1String("heard")).toBool() ? QStringLiteral("heard") : QStringLiteral("lost");
    else if (kind == QLatin1String("changed"))
        line += text("name") + QStringLiteral(" = ") + compact(event.value(QLatin1String("value")));
    return line.trimmed();
}

int runOnPanel(const PanelPlan &plan, const PanelOptions &options)
{
    PanelConnection panel;
    if (!panel.open(options.endpoint)) {
        err(QStringLiteral("no panel endpoint at %1; start the panel with: veloxa2-gui --control")
                .arg(options.endpoint));
        return kExitNoPanel;
    }
    return runPlan(panel, plan, options);
}

int runPlan(PanelLink &panel, const PanelPlan &plan, const PanelOptions &options)
{
    switch (plan.kind) {
    case PanelPlan::Kind::Get: {
        const auto state = panel.call(QStringLiteral("get"), {});
        if (const auto *failure = std::get_if<QString>(&state)) {
            err(*failure);
            return 1;
        }
        writeText(stdout, QString::fromUtf8(QJsonDocument(std::get<QJsonValue>(state).toObject()).toJson()));
        return 0;
    }
    case PanelPlan::Kind::Watch: return watch(panel, options);
    case PanelPlan::Kind::Units: {
        // {"<unit>": {"status": "online", "link": "heard"}, ...}, sorted by name
        const auto units = panel.call(QStringLiteral("units"), {});
        if (const auto *failure = std::get_if<QString>(&units)) {
            err(*failure);
            return 1;
        }
        const QJsonObject found = std::get<QJsonValue>(units).toObject();
        for (auto unit = found.constBegin(); unit != found.constEnd(); ++unit) {
            const QJsonObject facts = unit->toObject();
            out(QStringLiteral("%1 %2 %3")
                    .arg(unit.key(), facts.value(QLatin1String("status")).toString(QStringLiteral("-")),
                         facts.value(QLatin1String("link")).toString(QStringLiteral("-"))));
        }
        return 0;
    }
    case PanelPlan::Kind::Steps: break;
    }
    return runSteps(panel, plan, options);
}

} // namespace veloxa::ctl
