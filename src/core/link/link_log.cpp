#include "core/link/link_log.h"

#include "core/link/decoder.h"

namespace veloxa::link {

Q_LOGGING_CATEGORY(linkLog, "veloxa.link", QtWarningMsg)

QString endpointText(const QHostAddress &address, quint16 port)
{
    // A socket bound on both protocols reports IPv4 senders as ::ffff:a.b.c.d;
    // they are shown as the IPv4 addresses they are.
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    const QString host = isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

QString meaningOf(const QByteArray &datagram)
{
    const DecodeResult decoded = decode(datagram);
    return decoded.command ? describe(*decoded.command) : QStringLiteral("not a command: ") + decoded.error;
}

QString datagramLine(const QByteArray &datagram)
{
    return hexBytes(datagram) + QStringLiteral(" | ") + meaningOf(datagram);
}

QString arrivalLine(const QHostAddress &sender, quint16 port, const QByteArray &data)
{
    QString line = QStringLiteral("arrived from %1, %2 %3")
                       .arg(endpointText(sender, port))
                       .arg(data.size())
                       .arg(data.size() == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"));
    if (!data.isEmpty())
        line += QStringLiteral(": ") + hexBytes(data);
    return line;
}

} // namespace veloxa::link
