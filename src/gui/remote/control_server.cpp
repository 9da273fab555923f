#include "gui/remote/control_server.h"

#include "core/remote/endpoint_path.h"
#include "core/remote/json_rpc.h"
#include "gui/remote/control_session.h"
#include "gui/remote/panel_events.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace veloxa::remote {

struct ControlServer::Client {
    Client(QLocalSocket *s, PanelOperations &operations)
        : socket(s)
        , session(operations)
    {
    }
    QPointer<QLocalSocket> socket; // deleted by itself once disconnected
    ControlSession session;
    QByteArray heldEvents; // events of the requests being read, sent after them
    bool dropped = false;
};

namespace {

#ifndef Q_OS_WIN
// The peer of a local socket runs as this user (or as root, who may anyway).
bool peerIsThisUser(const QLocalSocket &socket)
{
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    return credentials.uid == ::geteuid() || credentials.uid == 0;
}

// Another panel answers on the socket: it is not stale.
bool answersAlready(const QString &name)
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool answers = probe.waitForConnected(200);
    probe.abort();
    return answers;
}
#endif

} // namespace

ControlServer::ControlServer(PanelOperations &operations, PanelEvents &events, QObject *parent)
    : QObject(parent)
    , m_operations(operations)
    , m_events(events)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.setMaxPendingConnections(kMaxConnections);
    connect(&m_server, &QLocalServer::newConnection, this, &ControlServer::accept);
    connect(&m_events, &PanelEvents::happened, this, &ControlServer::broadcast);
}

ControlServer::~ControlServer()
{
    close();
}

QString ControlServer::open(const QString &name)
{
#ifndef Q_OS_WIN
    if (const QString problem = checkEndpointFolders(name); !problem.isEmpty())
        return problem;
    if (QFileInfo::exists(name) || QFileInfo(name).isSymLink()) {
        if (answersAlready(name))
            return QStringLiteral("another panel already answers on %1").arg(name);
        QLocalServer::removeServer(name); // left by a panel that crashed
    }
#endif
    if (!m_server.listen(name))
        return QStringLiteral("cannot listen on %1: %2").arg(name, m_server.errorString());
#ifndef Q_OS_WIN
    // Qt makes the socket 0700; it needs no execute bit. The folder (0700)
    // already keeps everyone else out.
    ::chmod(QFile::encodeName(m_server.fullServerName()).constData(), 0600);
#endif
    return {};
}

void ControlServer::close()
{
    m_server.close();
    for (auto &client : m_clients)
        drop(*client);
    purge();
}

int ControlServer::clientCount() const
{
    int count = 0;
    for (const auto &client : m_clients)
        count += client->dropped ? 0 : 1;
    return count;
}

void ControlServer::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
#ifndef Q_OS_WIN
        if (!peerIsThisUser(*socket)) {
            socket->abort();
            continue;
        }
#endif
        if (clientCount() >= kMaxConnections) {
            writeTo(*socket,
                    errorLine(Error{code::kInvalidRequest,
                                    QStringLiteral("at most %1 connections at a time").arg(kMaxConnections)}));
            socket->disconnectFromServer();
            continue;
        }
        auto client = std::make_unique<Client>(socket, m_operations);
        Client *added = client.get();
        m_clients.push_back(std::move(client));
        connect(socket, &QLocalSocket::readyRead, this, [this, added] { read(*added); });
        connect(socket, &QLocalSocket::disconnected, this, [this, added] { drop(*added); });
        read(*added); // what came with the connection
    }
}

void ControlServer::read(Client &client)
{
    if (client.dropped)
        return;
    // The events these requests cause go out together once they are through,
    // one write per subscriber instead of one per event.
    m_holdingEvents = true;
    const QByteArray answers = client.session.receive(client.socket->readAll());
    m_holdingEvents = false;
    sendHeldEvents();
    // The requests may have caused events that dropped this client.
    if (client.dropped)
        return;
    if (!answers.isEmpty())
        writeTo(*client.socket, answers);
    if (client.session.wantsClose()) {
        client.socket->disconnectFromServer(); // after the answers have gone
        client.dropped = true;
        queuePurge();
    }
    updateWatched();
}

void ControlServer::broadcast(const PanelEvent &event)
{
    if (std::none_of(m_clients.cbegin(), m_clients.cend(),
                     [](const auto &client) { return !client->dropped && client->session.subscribed(); }))
        return; // the events are watched by someone else (the broker bridge)
    const QByteArray line = notificationLine(QStringLiteral("event"), event.toJson(m_eventTimes));
    for (auto &client : m_clients) {
        if (client->dropped || !client->session.subscribed())
            continue;
        if (client->socket->bytesToWrite() + client->heldEvents.size() + line.size() > kMaxQueuedBytes) {
            drop(*client); // a subscriber that does not read
            continue;
        }
        if (m_holdingEvents)
            client->heldEvents += line;
        else
            writeTo(*client->socket, line);
    }
}

void ControlServer::sendHeldEvents()
{
    for (auto &client : m_clients) {
        if (!client->dropped && !client->heldEvents.isEmpty())
            writeTo(*client->socket, client->heldEvents);
        client->heldEvents.clear();
    }
}

void ControlServer::writeTo(QLocalSocket &socket, const QByteArray &bytes)
{
    qsizetype written = 0;
#ifndef Q_OS_WIN
    // Straight to the kernel while the socket holds nothing unwritten: a
    // buffered write would switch the socket's write notifier on and off
    // again, which wakes the event loop twice per line. What does not fit
    // now is queued by the socket behind it, as before.
    if (socket.bytesToWrite() == 0 && socket.state() == QLocalSocket::ConnectedState) {
        const ssize_t sent = ::send(static_cast<int>(socket.socketDescriptor()), bytes.constData(),
                                    static_cast<size_t>(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        written = sent > 0 ? sent : 0; // a failure shows at the socket's own next write
    }
#endif
    if (written < bytes.size())
        socket.write(bytes.constData() + written, bytes.size() - written);
}

void ControlServer::drop(Client &client)
{
    if (client.dropped)
        return;
    client.dropped = true;
    if (client.socket)
        client.socket->abort();
    queuePurge();
}

void ControlServer::queuePurge()
{
    if (m_purgeQueued)
        return;
    m_purgeQueued = true;
    QMetaObject::invokeMethod(this, &ControlServer::purge, Qt::QueuedConnection);
}

void ControlServer::purge()
{
    m_purgeQueued = false;
    std::erase_if(m_clients, [this](const std::unique_ptr<Client> &client) {
        // A socket still closing may yet signal: not to a client that is gone.
        if (client->dropped && client->socket)
            disconnect(client->socket, nullptr, this, nullptr);
        return client->dropped;
    });
    updateWatched();
}

void ControlServer::updateWatched()
{
    bool watched = false;
    for (const auto &client : m_clients)
        watched = watched || (!client->dropped && client->session.subscribed());
    m_events.setWatched(this, watched);
}

} // namespace veloxa::remote
