#pragma once
// The one road from the panel to the unit: datagrams out, arrivals in.

#include "core/link/datagrams.h"

#include <QHostAddress>
#include <QMetaMethod>
#include <QObject>
#include <QString>

namespace veloxa::link {

class Channel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Where every later send goes. Returns false when the host or port is
    // refused; sends then keep failing.
    virtual bool setDestination(const QString &host, int port) = 0;

    // Hands one whole datagram to the network. False when it did not go:
    // no destination yet, closed, or refused by the system.
    virtual bool send(const Datagram &datagram) = 0;

    // Nothing is sent after this.
    virtual void close() = 0;

signals:
    // One per datagram that arrived, from any sender, whatever it holds.
    void arrived();

    // For a watcher such as the control endpoint's event stream; a channel
    // with nothing connected to them does no work for them.
    void datagramSent(const link::Datagram &datagram);
    void sendFailed(const link::Datagram &datagram, const QString &reason);
    void datagramArrived(const QHostAddress &sender, quint16 port, qsizetype length);

protected:
    bool arrivalsWatched() const { return isSignalConnected(QMetaMethod::fromSignal(&Channel::datagramArrived)); }
};

} // namespace veloxa::link
