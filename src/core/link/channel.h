#pragma once
// The one road from the panel to the unit: datagrams out, arrivals in.

#include "core/link/datagrams.h"

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
};

} // namespace veloxa::link
