#pragma once
// A stand-in for the unit on UDP: logs every datagram as the command it is,
// keeps the state the commands imply and answers the sender. It can play a
// poor link or a power cut: answering in bursts, dropping answers, answering
// late, forgetting its state once. Its times follow the steady clock.

#include "unit_state.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <random>

class QNetworkDatagram;

namespace veloxa::sim {

// Answering for `on`, then silent for `off`, over and over from the start.
struct Flap {
    std::chrono::milliseconds on{0};
    std::chrono::milliseconds off{0};
};

struct SimOptions {
    QHostAddress address;
    quint16 port = 0;
    // Answers are sent while this much time has passed since start; none
    // means always. Zero means never.
    std::optional<std::chrono::milliseconds> answerWindow;
    std::optional<Flap> flap;
    // The share of answers left out, 0 to 1, each drawn from a generator
    // seeded with `seed`: the same seed leaves out the same answers.
    double dropShare = 0;
    quint32 seed = 0;
    std::chrono::milliseconds delay{0}; // every answer goes out this much later
    // The state is forgotten once, this long after start.
    std::optional<std::chrono::milliseconds> restartAt;
    bool verbose = false; // the state line after every datagram
};

class UnitSim : public QObject {
public:
    // Datagrams read per readyRead; the socket signals again while more wait,
    // so a flood cannot hold the event loop.
    static constexpr int kDrainPerEvent = 64;

    using LineSink = std::function<void(const QString &)>;

    UnitSim(SimOptions options, LineSink out, LineSink err, QObject *parent = nullptr);

    // Binds the socket and starts the answer window. False, with the reason
    // in errorString(), when the address or port cannot be bound.
    bool start();
    QString errorString() const { return m_socket.errorString(); }
    quint16 localPort() const { return m_socket.localPort(); }

    const UnitState &state() const { return m_state; }

private:
    struct PendingAnswer {
        qint64 dueNs = 0; // on m_clock
        QByteArray reply;
        QHostAddress address;
        quint16 port = 0;
    };

    void startAnswerWindow();
    void startFlap();
    void flapTurn();
    void startRestart();
    void drain();
    void handle(const QNetworkDatagram &datagram);
    // Sends the answer now or queues it (--delay), unless the unit is silent.
    // True when this answer is one of the dropped share (--drop).
    bool answer(const QNetworkDatagram &datagram, const QByteArray &reply);
    void sendDue();
    void send(const QByteArray &reply, const QHostAddress &address, quint16 port);

    SimOptions m_options;
    LineSink m_out;
    LineSink m_err;
    QUdpSocket m_socket;
    UnitState m_state;
    QElapsedTimer m_clock; // since start()
    bool m_answering = true; // --silent, --silent-after
    bool m_flapAnswering = true;
    qint64 m_flapTurnMs = 0; // when the present flap phase ends, on m_clock
    QTimer m_flapTimer;
    std::mt19937 m_drops;
    std::deque<PendingAnswer> m_pending; // in the order they fall due
    QTimer m_pendingTimer;
};

// "127.0.0.1:5000"; an IPv4 address seen through an IPv6 socket is shown as IPv4.
QString endpoint(const QHostAddress &address, quint16 port);

// What the unit makes of one datagram from `sender`: the command goes into
// `state` (a malformed datagram is counted there), and it gives the line to
// log and the answer: "ok" and the opcode byte, or "no" and the first byte.
struct Heard {
    QString line;
    QByteArray answer;
};
Heard hear(UnitState &state, const QByteArray &bytes, const QHostAddress &sender, quint16 senderPort);

} // namespace veloxa::sim
