#include "gui/remote/control_session.h"

#include "core/remote/json_rpc.h"
#include "gui/remote/panel_operations.h"

namespace veloxa::remote {

ControlSession::ControlSession(PanelOperations &operations)
    : m_operations(operations)
{
}

QByteArray ControlSession::receive(QByteArrayView bytes)
{
    QByteArray answers;
    if (m_wantsClose)
        return answers;
    m_reader.append(bytes);
    while (const auto line = m_reader.next())
        answers += answer(*line);
    if (m_reader.overlong()) {
        answers += errorLine(
            Error{code::kInvalidRequest, QStringLiteral("line longer than %1 bytes; closing").arg(kMaxLineBytes)});
        m_wantsClose = true;
    }
    return answers;
}

QByteArray ControlSession::answer(QByteArrayView line)
{
    if (line.trimmed().isEmpty())
        return {};
    const auto parsed = parseRequest(line);
    if (const auto *error = std::get_if<Error>(&parsed))
        return errorLine(*error);
    const Request &request = std::get<Request>(parsed);

    Outcome outcome = QJsonValue(true);
    if (request.method == QLatin1String("subscribe"))
        m_subscribed = true;
    else
        outcome = m_operations.carryOut(request.method, request.params);

    if (!request.answered())
        return {};
    if (auto *error = std::get_if<Error>(&outcome)) {
        error->id = request.id;
        return errorLine(*error);
    }
    return resultLine(request.id, std::get<QJsonValue>(outcome));
}

} // namespace veloxa::remote
