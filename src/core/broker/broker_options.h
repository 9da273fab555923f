#pragma once
// How the panel and veloxa2-ctl reach an MQTT broker: its address from a URL,
// the credentials from a file only its user may read, and the topics of a unit.

#include <QString>

#include <optional>
#include <variant>

namespace veloxa::broker {

struct BrokerAddress {
    QString host;
    quint16 port = 0;
    bool tls = false;
    QString url() const;
};

// "mqtt://HOST[:PORT]" (port 1883 by default) or "mqtts://HOST[:PORT]" (TLS,
// 8883); HOST may be a name, an IPv4 address or an IPv6 address in brackets.
// The address, or why the URL is not one.
std::variant<BrokerAddress, QString> parseBrokerUrl(const QString &url);

// True for "localhost" and the loopback addresses (127.0.0.0/8, ::1): a broker
// that only this machine reaches.
bool isLoopbackHost(const QString &host);

struct Credentials {
    QString user;
    QString password;
};

// The one line "user:password" of a file that is a regular file of this user's
// that nobody else may read or write (as ssh treats its keys). The credentials,
// or why they are refused.
std::variant<Credentials, QString> readCredentials(const QString &path);

// The unit a panel stands for when it is given none: the machine's short host
// name, every character a unit's name may not hold made '_'.
QString defaultUnitName();

// "veloxa2/<unit>/<leaf>"; the unit may be the wildcard "+".
QString unitTopic(const QString &unit, const QString &leaf);

} // namespace veloxa::broker
