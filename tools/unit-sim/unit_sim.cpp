#include "unit_sim.h"

#include "core/link/decoder.h"

#include <QNetworkDatagram>
#include <QTimer>

#include <algorithm>

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

Heard hear(UnitState &state, const QByteArray &bytes, const QHostAddress &sender, quint16 senderPort)
{
    const link::DecodeResult result = link::decode(bytes);
    if (result.command) {
        state.apply(*result.command);
        return {link::describe(*result.command), QByteArrayLiteral("ok") + bytes.left(1)};
    }
    state.noteMalformed();
    return {QStringLiteral("malformed from %1: %2 [%3]")
                .arg(endpoint(sender, senderPort), result.error, link::hexBytes(bytes)),
            QByteArrayLiteral("no") + bytes.left(1)};
}

UnitSim::UnitSim(SimOptions options, LineSink out, LineSink err, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_out(std::move(out))
    , m_err(std::move(err))
    , m_drops(m_options.seed)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &UnitSim::drain);
    for (QTimer *timer : {&m_flapTimer, &m_pendingTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_flapTimer, &QTimer::timeout, this, &UnitSim::flapTurn);
    connect(&m_pendingTimer, &QTimer::timeout, this, &UnitSim::sendDue);
}

bool UnitSim::start()
{
    // Exclusive: a second simulator on the same port must fail, not share it.
    if (!m_socket.bind(m_options.address, m_options.port, QAbstractSocket::DontShareAddress))
        return false;
    m_clock.start();
    m_out(QStringLiteral("listening on %1").arg(endpoint(m_socket.localAddress(), m_socket.localPort())));

    startAnswerWindow();
    startFlap();
    if (m_options.dropShare > 0)
        m_out(QStringLiteral("dropping a share %1 of the answers, seed %2")
                  .arg(QString::number(m_options.dropShare))
                  .arg(m_options.seed));
    if (m_options.delay.count() > 0)
        m_out(QStringLiteral("answering %1 ms late").arg(m_options.delay.count()));
    startRestart();
    return true;
}

void UnitSim::startAnswerWindow()
{
    if (!m_options.answerWindow)
        return;
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

void UnitSim::startFlap()
{
    if (!m_options.flap)
        return;
    m_out(QStringLiteral("flapping: answering %1 ms, then silent %2 ms, over and over")
              .arg(m_options.flap->on.count())
              .arg(m_options.flap->off.count()));
    m_flapTurnMs = m_options.flap->on.count();
    m_flapTimer.start(std::chrono::milliseconds(std::max<qint64>(0, m_flapTurnMs - m_clock.elapsed())));
}

void UnitSim::flapTurn()
{
    // The phases are laid on the clock from the start, so they do not drift
    // however late a timer fires.
    if (!m_options.flap)
        return;
    const qint64 now = m_clock.elapsed();
    if (now < m_flapTurnMs) {
        m_flapTimer.start(std::chrono::milliseconds(m_flapTurnMs - now));
        return;
    }
    m_flapAnswering = !m_flapAnswering;
    const std::chrono::milliseconds phase = m_flapAnswering ? m_options.flap->on : m_options.flap->off;
    m_flapTurnMs += phase.count();
    m_out(QStringLiteral("answers %1 for %2 ms")
              .arg(m_flapAnswering ? QLatin1String("resumed") : QLatin1String("paused"))
              .arg(phase.count()));
    m_flapTimer.start(std::chrono::milliseconds(std::max<qint64>(0, m_flapTurnMs - now)));
}

void UnitSim::startRestart()
{
    if (!m_options.restartAt)
        return;
    const auto at = *m_options.restartAt;
    QTimer::singleShot(at, Qt::PreciseTimer, this, [this, at] {
        m_state = UnitState();
        const auto lost = m_pending.size();
        m_pending.clear();
        m_pendingTimer.stop();
        QString line =
            QStringLiteral("restarted after %1 ms, as after a power cycle: every setting forgotten").arg(at.count());
        if (lost > 0)
            line += QStringLiteral(", late answers lost: %1").arg(lost);
        m_out(line);
    });
}

void UnitSim::drain()
{
    for (int i = 0; i < kDrainPerEvent && m_socket.hasPendingDatagrams(); ++i)
        handle(m_socket.receiveDatagram());
}

void UnitSim::handle(const QNetworkDatagram &datagram)
{
    Heard heard = hear(m_state, datagram.data(), datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
    // An answer without delay goes out before the line is written, so whoever
    // reads the line knows that any such answer is already on its way.
    if (answer(datagram, heard.answer))
        heard.line += QStringLiteral(" (answer dropped)");
    m_out(heard.line);
    if (m_options.verbose)
        m_out(m_state.summary());
}

bool UnitSim::answer(const QNetworkDatagram &datagram, const QByteArray &reply)
{
    if (!m_answering || !m_flapAnswering)
        return false;
    // The drawn number alone decides, the same on every platform: below the
    // share of 2^32, the answer is dropped.
    if (m_options.dropShare > 0 && double(m_drops()) < m_options.dropShare * 4294967296.0)
        return true;
    const auto port = static_cast<quint16>(datagram.senderPort());
    if (m_options.delay.count() <= 0) {
        send(reply, datagram.senderAddress(), port);
        return false;
    }
    const qint64 dueNs = m_clock.nsecsElapsed() + std::chrono::nanoseconds(m_options.delay).count();
    m_pending.push_back({dueNs, reply, datagram.senderAddress(), port});
    if (!m_pendingTimer.isActive())
        m_pendingTimer.start(m_options.delay);
    return false;
}

void UnitSim::sendDue()
{
    const qint64 now = m_clock.nsecsElapsed();
    while (!m_pending.empty() && m_pending.front().dueNs <= now) {
        const PendingAnswer due = std::move(m_pending.front());
        m_pending.pop_front();
        send(due.reply, due.address, due.port);
    }
    // Never early: the timer is set to the next whole millisecond at or after its time.
    if (!m_pending.empty())
        m_pendingTimer.start(std::chrono::milliseconds((m_pending.front().dueNs - now + 999999) / 1000000));
}

void UnitSim::send(const QByteArray &reply, const QHostAddress &address, quint16 port)
{
    if (m_socket.writeDatagram(reply, address, port) != reply.size())
        m_err(QStringLiteral("answer to %1 failed: %2").arg(endpoint(address, port), m_socket.errorString()));
}

} // namespace veloxa::sim
