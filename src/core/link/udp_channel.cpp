#include "core/link/udp_channel.h"

#include "core/link/link_log.h"

#include <QNetworkDatagram>
#include <QStringList>

namespace veloxa::link {

std::optional<QHostAddress> parseDottedQuad(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return std::nullopt;
        for (QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        const uint value = part.toUInt();
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | value;
    }
    return QHostAddress(address);
}

UdpChannel::UdpChannel(QObject *parent)
    : Channel(parent)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &UdpChannel::drain);
}

bool UdpChannel::setDestination(const QString &host, int port)
{
    const auto address = parseDottedQuad(host);
    if (!address || port < 1 || port > 65535)
        return false;
    m_host = *address;
    m_port = static_cast<quint16>(port);
    m_hasDestination = true;
    return true;
}

bool UdpChannel::send(const Datagram &datagram)
{
    if (!m_hasDestination || m_closed) {
        const QString reason = m_closed ? QStringLiteral("channel closed") : QStringLiteral("no destination yet");
        qCDebug(linkLog).noquote() << QStringLiteral("not sent, %1: ").arg(reason) + datagramLine(datagram);
        emit sendFailed(datagram, reason);
        return false;
    }
    // Judged by the return value alone: error() stays set after later successes.
    const bool sent = m_socket.writeDatagram(datagram, m_host, m_port) == datagram.size();
    qCDebug(linkLog).noquote()
        << (sent ? QStringLiteral("sent to %1: ").arg(endpointText(m_host, m_port))
                 : QStringLiteral("send to %1 failed (%2): ").arg(endpointText(m_host, m_port), m_socket.errorString()))
            + datagramLine(datagram);
    if (sent)
        emit datagramSent(datagram);
    else
        emit sendFailed(datagram, m_socket.errorString());
    return sent;
}

void UdpChannel::close()
{
    m_closed = true;
    m_socket.close();
}

void UdpChannel::drain()
{
    for (int i = 0; i < kDrainPerEvent && m_socket.hasPendingDatagrams(); ++i) {
        if (linkLog().isDebugEnabled() || arrivalsWatched()) {
            // Read whole, with its sender, only for the command log and a watcher.
            const QNetworkDatagram datagram = m_socket.receiveDatagram();
            const auto port = static_cast<quint16>(datagram.senderPort());
            if (datagram.isValid())
                qCDebug(linkLog).noquote() << arrivalLine(datagram.senderAddress(), port, datagram.data());
            else
                qCDebug(linkLog).noquote() << QStringLiteral("arrival not readable: ") + m_socket.errorString();
            if (datagram.isValid())
                emit datagramArrived(datagram.senderAddress(), port, datagram.data().size());
        } else {
            char discard;
            m_socket.readDatagram(&discard, 1); // the content is never used
        }
        emit arrived();
    }
}

} // namespace veloxa::link
