#pragma once
// A UDP socket that plays the unit: bound where the panel (or the channel, or
// veloxa2-ctl) sends, it takes in every datagram as it comes and answers
// when told to. The one such socket of the tests.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

namespace veloxa::test {

struct FakeUnit {
    QUdpSocket socket;
    QList<QNetworkDatagram> received;
    // When each of `received` was taken in, in ms of `clock` (started with the unit).
    QList<qint64> arrivalMs;
    QElapsedTimer clock;

    FakeUnit() { clock.start(); }

    // Port 0: any free port (see port()).
    bool bind(const QHostAddress &address, quint16 port = 37829)
    {
        if (!socket.bind(address, port))
            return false;
        QObject::connect(&socket, &QUdpSocket::readyRead, &socket, [this] {
            while (socket.hasPendingDatagrams()) {
                received.append(socket.receiveDatagram());
                arrivalMs.append(clock.elapsed());
            }
        });
        return true;
    }

    quint16 port() const { return socket.localPort(); }
    QString endpoint() const { return QStringLiteral("%1:%2").arg(socket.localAddress().toString()).arg(port()); }

    // The next datagram not yet taken by next(), or an invalid one when none
    // came within the time.
    QNetworkDatagram next(int timeoutMs = 5000)
    {
        if (!QTest::qWaitFor([this] { return received.size() > m_taken; }, timeoutMs))
            return {};
        return received.at(m_taken++);
    }

    // True when nothing arrived beyond what next() has taken.
    bool nothingWaiting() const { return !socket.hasPendingDatagrams() && received.size() == m_taken; }

    QList<QByteArray> payloads() const
    {
        QList<QByteArray> all;
        for (const QNetworkDatagram &datagram : received)
            all.append(datagram.data());
        return all;
    }

    // Answers the panel at the address its datagrams came from.
    void answer(const QByteArray &data = QByteArray("ok"))
    {
        const QNetworkDatagram &last = received.constLast();
        socket.writeDatagram(data, last.senderAddress(), static_cast<quint16>(last.senderPort()));
    }

private:
    qsizetype m_taken = 0;
};

} // namespace veloxa::test
