#pragma once
// veloxa2-ctl --panel: the plan carried out on a running panel's control
// endpoint, one request at a time, each answered before the next goes.

#include "panel_commands.h"
#include "panel_link.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLocalSocket>

#include <optional>
#include <variant>

namespace veloxa::ctl {

inline constexpr int kExitNoPanel = 3;

// One connection to a panel's control endpoint: JSON-RPC requests out, one
// line each, and the lines the panel writes back (answers, and events for a
// subscriber) read one at a time. Every wait has a limit. The one C++ client
// of the endpoint: the tests and the benchmarks talk to the panel with it too.
class PanelConnection final : public PanelLink {
public:
    static constexpr int kConnectMs = 2000;
    static constexpr int kAnswerMs = 10000;

    // One try; false when no endpoint took the connection within waitMs.
    bool open(const QString &name, int waitMs = kConnectMs);
    bool isOpen() const { return m_socket.state() == QLocalSocket::ConnectedState; }
    // Drops the connection at once, without waiting for what is still unwritten.
    void abort() { m_socket.abort(); }
    // For poll() beside other sockets: readable when the panel wrote something.
    qintptr descriptor() const { return m_socket.socketDescriptor(); }

    // The bytes as they are: a request line, several, or part of one.
    void write(const QByteArray &bytes);
    // Writes one request and returns its id; the answer is read with answer().
    int send(const QString &method, const QJsonObject &params);

    // The next line from the panel as a JSON object; nothing when it went
    // away or wrote no whole line within waitMs (-1: no limit, 0: only what
    // has come).
    std::optional<QJsonObject> nextMessage(int waitMs);
    // The answer to request `id`, the lines before it (events) dropped;
    // nothing when the panel went away or wrote nothing for waitMs.
    std::optional<QJsonObject> answer(int id, int waitMs = kAnswerMs);
    // One request and its answer: its "result", or the failure in words.
    std::variant<QJsonValue, QString> call(const QString &method, const QJsonObject &params = {}) override;
    std::optional<QString> watch() override;
    std::optional<QJsonObject> nextEvent() override;

private:
    QLocalSocket m_socket;
    QByteArray m_buffer;
    int m_nextId = 1;
};

struct PanelOptions {
    QString endpoint; // where the endpoint is; by default where the panel opens it
    bool json = false; // watch: the events as the panel sends them
    bool verbose = false;
};

// The exit status: 0 done, 1 the panel refused a request or went away,
// 3 no panel endpoint.
int runOnPanel(const PanelPlan &plan, const PanelOptions &options);
// The plan on a panel reached one way or the other.
int runPlan(PanelLink &panel, const PanelPlan &plan, const PanelOptions &options);

// One event as `watch` prints it: "2026-12-08T14:32:00.123Z sent A5 ... | frequency ...".
QString eventLine(const QJsonObject &event);

} // namespace veloxa::ctl
