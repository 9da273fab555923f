#pragma once

#include "core/link/channel.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <optional>

namespace veloxa::link {

// A dotted IPv4 address exactly as written ("192.168.1.133"), surrounding
// blanks allowed. Unlike QHostAddress it refuses short forms such as
// "192.168.1" and hex parts, and reads leading zeros as decimal ("010" is 10,
// not octal 8): what the user reads is where datagrams go.
std::optional<QHostAddress> parseDottedQuad(const QString &text);

// The channel on one unconnected UDP socket. The socket binds itself (any
// address, a free port) on the first send and from then on receives the unit's
// answers. It is never connected: after an ICMP port-unreachable a connected
// socket drops every second send.
class UdpChannel final : public Channel {
    Q_OBJECT
public:
    // Datagrams drained per readyRead; the socket signals again while more wait,
    // so a flood from anywhere cannot hold the event loop.
    static constexpr int kDrainPerEvent = 64;

    explicit UdpChannel(QObject *parent = nullptr);

    bool setDestination(const QString &host, int port) override;
    bool send(const Datagram &datagram) override;
    void close() override;

    quint16 localPort() const { return m_socket.localPort(); }

private:
    void drain();

    QUdpSocket m_socket;
    QHostAddress m_host;
    quint16 m_port = 0;
    bool m_hasDestination = false;
    bool m_closed = false;
};

} // namespace veloxa::link
