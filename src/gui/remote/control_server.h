#pragma once
// The control endpoint: a local server that only the panel's own user can
// reach. At most kMaxConnections clients at a time; each line a client writes
// is at most 64 KiB; a subscriber that lets more than kMaxQueuedBytes of
// events wait unread is dropped. Nothing here waits on a client: reads take
// what has come, writes are queued by the socket.

#include "gui/remote/panel_events.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>

#include <memory>
#include <vector>

namespace veloxa::remote {

class ControlSession;
class PanelOperations;

class ControlServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 8;
    static constexpr qint64 kMaxQueuedBytes = qint64{1024} * 1024;

    ControlServer(PanelOperations &operations, PanelEvents &events, QObject *parent = nullptr);
    ~ControlServer() override;

    // Opens the endpoint under `name` (a socket's path on Linux, a pipe's
    // name on Windows). Empty when it is open, else why it is not.
    QString open(const QString &name);
    // Closes the endpoint and drops every client; no request is carried out after.
    void close();

    QString fullServerName() const { return m_server.fullServerName(); }
    int clientCount() const;

private:
    struct Client;
    void accept();
    void read(Client &client);
    void broadcast(const PanelEvent &event);
    void sendHeldEvents();
    static void writeTo(QLocalSocket &socket, const QByteArray &bytes);
    void drop(Client &client);
    void queuePurge();
    void purge();
    void updateWatched();

    PanelOperations &m_operations;
    PanelEvents &m_events;
    QLocalServer m_server;
    std::vector<std::unique_ptr<Client>> m_clients;
    bool m_purgeQueued = false;
    bool m_holdingEvents = false;
    EventTimes m_eventTimes;
};

} // namespace veloxa::remote
