#pragma once
// The command log: every datagram the panel hands to the network and every one
// that arrives, at debug level in the category "veloxa.link". Off unless
// switched on the usual Qt way, e.g. QT_LOGGING_RULES="veloxa.link.debug=true";
// qCDebug tests the category before it builds a line, so a log that is off
// costs one flag test per datagram.

#include <QByteArray>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QString>

namespace veloxa::link {

Q_DECLARE_LOGGING_CATEGORY(linkLog)

// "192.168.1.133:37829"
QString endpointText(const QHostAddress &address, quint16 port);

// A datagram in hex with the command it is:
//   "A5 00 D8 B6 28 03 | frequency FTW=52999896 (0x0328B6D8)"
// and for bytes that are no command, why not:
//   "41 | not a command: unknown opcode 0x41"
QString datagramLine(const QByteArray &datagram);
// The part after the bar: "frequency FTW=52999896 (0x0328B6D8)".
QString meaningOf(const QByteArray &datagram);

// A datagram that came in: "arrived from 127.0.0.1:37829, 2 bytes: 6F 6B".
QString arrivalLine(const QHostAddress &sender, quint16 port, const QByteArray &data);

} // namespace veloxa::link
