#include "unit_sim.h"

#include "core/link/decoder.h"

#include <QNetworkDatagram>
#include <QTimer>

namespace veloxa::sim {

QString endpoint(const QHostAddress &address, quint16 port)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    const QHostAddress shown = isIpv4 ? QHostAddress(ipv4) : address;
    const QString host = shown.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(shown.toString())
        : shown.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

UnitSim::UnitSim(SimOptions options, LineSink out, LineSink err, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_out(std::move(out))
    , m_err(std::move(err))
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &UnitSim::drain);
}

bool UnitSim::start()
{
    // Exclusive: a second simulator on the same port must fail, not share it.
    if (!m_socket.bind(m_options.address, m_options.port, QAbstractSocket::DontShareAddress))
        return false;
    m_out(QStringLiteral("listening on %1").arg(endpoint(m_socket.localAddress(), m_socket.localPort())));

    if (m_options.answerWindow) {
        const auto window = *m_options.answerWindow;
        const auto stopAnswering = [this, window] {
            m_answering = false;
            m_out(QStringLiteral("answers stopped after %1 ms").arg(window.count()));
        };
        if (window.count() <= 0)
            m_answering = false;
        else
            QTimer::singleShot(window, this, stopAnswering);
    }
    return true;
}

void UnitSim::drain()
{
    for (int i = 0; i < kDrainPerEvent && m_socket.hasPendingDatagrams(); ++i)
        handle(m_socket.receiveDatagram());
}

void UnitSim::handle(const QNetworkDatagram &datagram)
{
    const QByteArray bytes = datagram.data();
    const link::DecodeResult result = link::decode(bytes);

    // The answer goes out before the line is written, so whoever reads the
    // line knows that any answer to this datagram is already on its way.
    QString line;
    if (result.command) {
        m_state.apply(*result.command);
        answer(datagram, QByteArrayLiteral("ok") + bytes.left(1));
        line = link::describe(*result.command);
    } else {
        m_state.noteMalformed();
        answer(datagram, QByteArrayLiteral("no") + bytes.left(1));
        line = QStringLiteral("malformed from %1: %2 [%3]")
                   .arg(endpoint(datagram.senderAddress(), static_cast<quint16>(datagram.senderPort())), result.error,
                        link::hexBytes(bytes));
    }
    m_out(line);
    if (m_options.verbose)
        m_out(m_state.summary());
}

void UnitSim::answer(const QNetworkDatagram &datagram, const QByteArray &reply)
{
    if (!m_answering)
        return;
    const auto port = static_cast<quint16>(datagram.senderPort());
    if (m_socket.writeDatagram(reply, datagram.senderAddress(), port) != reply.size())
        m_err(QStringLiteral("answer to %1 failed: %2")
                  .arg(endpoint(datagram.senderAddress(), port), m_socket.errorString()));
}

} // namespace veloxa::sim
