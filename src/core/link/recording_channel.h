#pragma once

#include "core/link/channel.h"

#include <QList>

namespace veloxa::link {

// A channel that keeps what it was asked to send, for tests and benchmarks.
// It can be told to refuse sends; arrivals are injected with simulateArrival().
class RecordingChannel final : public Channel {
    Q_OBJECT
public:
    using Channel::Channel;

    bool setDestination(const QString &host, int port) override
    {
        destinationHost = host;
        destinationPort = port;
        hasDestination = true;
        ++destinationCalls;
        return true;
    }

    bool send(const Datagram &datagram) override
    {
        ++attempts;
        if (failSends || !hasDestination || closed) {
            emit sendFailed(datagram, QStringLiteral("refused by the test"));
            return false;
        }
        sent.append(datagram);
        emit datagramSent(datagram);
        return true;
    }

    void close() override { closed = true; }

    void simulateArrival()
    {
        // In the order the UDP channel tells them.
        emit datagramArrived(QHostAddress(QHostAddress::LocalHost), 37829, 2);
        emit arrived();
    }

    QList<Datagram> sent; // every datagram that went, in order
    int attempts = 0; // every send asked for, also failed ones
    bool failSends = false;
    bool hasDestination = false;
    bool closed = false;
    int destinationCalls = 0;
    QString destinationHost;
    int destinationPort = 0;
};

} // namespace veloxa::link
