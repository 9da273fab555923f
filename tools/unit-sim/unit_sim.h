#pragma once
// A stand-in for the unit on UDP: logs every datagram as the command it is,
// keeps the state the commands imply and answers the sender.

#include "unit_state.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkDatagram;

namespace veloxa::sim {

struct SimOptions {
    QHostAddress address;
    quint16 port = 0;
    // Answers are sent while this much time has passed since start; none
    // means always. Zero means never.
    std::optional<std::chrono::milliseconds> answerWindow;
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
    void drain();
    void handle(const QNetworkDatagram &datagram);
    void answer(const QNetworkDatagram &datagram, const QByteArray &reply);

    SimOptions m_options;
    LineSink m_out;
    LineSink m_err;
    QUdpSocket m_socket;
    UnitState m_state;
    bool m_answering = true;
};

// "127.0.0.1:5000"; an IPv4 address seen through an IPv6 socket is shown as IPv4.
QString endpoint(const QHostAddress &address, quint16 port);

} // namespace veloxa::sim
