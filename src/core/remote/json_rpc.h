#pragma once
// JSON-RPC 2.0 as the control endpoint speaks it: one JSON object per line,
// UTF-8. A request without an "id" is a notification: it is carried out and
// not answered.

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <variant>

namespace veloxa::remote {

// The standard error codes.
namespace code {
inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
} // namespace code

struct Request {
    QJsonValue id; // Undefined for a notification
    QString method;
    QJsonObject params; // empty when none were given
    bool answered() const { return !id.isUndefined(); }
};

struct Error {
    int code = 0;
    QString message;
    QJsonValue id = QJsonValue::Null; // the request's, where it could be read
};

// A line read as a request, or the error to answer it with.
std::variant<Request, Error> parseRequest(QByteArrayView text);

// Lines to write, each ending with "\n".
QByteArray resultLine(const QJsonValue &id, const QJsonValue &result);
QByteArray errorLine(const Error &error);
QByteArray notificationLine(const QString &method, const QJsonObject &params);
// A request, as a client writes it.
QByteArray requestLine(int id, const QString &method, const QJsonObject &params);

} // namespace veloxa::remote
