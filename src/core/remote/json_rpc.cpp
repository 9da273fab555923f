#include "core/remote/json_rpc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace veloxa::remote {
namespace {

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool isValidId(const QJsonValue &id)
{
    return id.isString() || id.isDouble() || id.isNull();
}

} // namespace

std::variant<Request, Error> parseRequest(QByteArrayView text)
{
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return Error{code::kParseError, QStringLiteral("not JSON: ") + parseError.errorString()};
    if (!document.isObject())
        return Error{code::kInvalidRequest, QStringLiteral("a request is one JSON object (no batches)")};

    const QJsonObject object = document.object();
    const QJsonValue id = object.value(QLatin1String("id"));
    const QJsonValue shownId = isValidId(id) ? id : QJsonValue(QJsonValue::Null);
    if (!id.isUndefined() && !isValidId(id))
        return Error{code::kInvalidRequest, QStringLiteral("\"id\" must be a string, a number or null"), shownId};
    if (object.value(QLatin1String("jsonrpc")) != QLatin1String("2.0"))
        return Error{code::kInvalidRequest, QStringLiteral("\"jsonrpc\" must be \"2.0\""), shownId};
    const QJsonValue method = object.value(QLatin1String("method"));
    if (!method.isString())
        return Error{code::kInvalidRequest, QStringLiteral("\"method\" must be a string"), shownId};
    const QJsonValue params = object.value(QLatin1String("params"));
    if (!params.isUndefined() && !params.isObject())
        return Error{code::kInvalidParams, QStringLiteral("\"params\" must be an object"), shownId};
    return Request{id, method.toString(), params.toObject()};
}

QByteArray resultLine(const QJsonValue &id, const QJsonValue &result)
{
    return line({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                 {QStringLiteral("id"), id},
                 {QStringLiteral("result"), result}});
}

QByteArray errorLine(const Error &error)
{
    const QJsonObject body{{QStringLiteral("code"), error.code}, {QStringLiteral("message"), error.message}};
    return line({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                 {QStringLiteral("id"), error.id},
                 {QStringLiteral("error"), body}});
}

QByteArray notificationLine(const QString &method, const QJsonObject &params)
{
    // Written around the text of the params rather than copying them into an
    // outer object: the same bytes, at a subscriber's every event.
    QByteArray quotedMethod = QJsonDocument(QJsonArray{method}).toJson(QJsonDocument::Compact);
    quotedMethod = quotedMethod.mid(1, quotedMethod.size() - 2); // inside "[...]"
    return R"({"jsonrpc":"2.0","method":)" + quotedMethod + R"(,"params":)"
        + QJsonDocument(params).toJson(QJsonDocument::Compact) + "}\n";
}

QByteArray requestLine(int id, const QString &method, const QJsonObject &params)
{
    return line({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                 {QStringLiteral("id"), id},
                 {QStringLiteral("method"), method},
                 {QStringLiteral("params"), params}});
}

} // namespace veloxa::remote
