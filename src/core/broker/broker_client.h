#pragma once
// One connection to an MQTT 5 broker, kept up on a thread of its own: name
// lookup, connecting, TLS, publishing, reading and reconnecting never happen
// on the caller's thread. The caller hands messages over and goes on; what
// waits to be sent is bounded, and so is what has arrived and waits to be
// taken.

#include "core/broker/broker_options.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

namespace veloxa::broker {

struct ClientSettings {
    BrokerAddress address;
    QString caFile; // TLS: this CA's certificates; empty for the system's
    std::optional<Credentials> credentials;
    QString clientId; // empty: the broker gives one
    // Published retained (QoS 1) by the broker when the connection is lost
    // without a goodbye; none when the topic is empty.
    QString willTopic;
    QByteArray willPayload;
    QStringList subscriptions; // subscribed at every connect, QoS 0
    int keepAliveSeconds = 15;
    // Made on the client's thread once messages had to be dropped and there
    // is room again: the message, sent to droppedTopic, that tells how many.
    QString droppedTopic;
    std::function<QByteArray(quint64 dropped)> droppedNotice;
};

struct Message {
    QString topic;
    QByteArray payload;
    bool retained = false;
    QString responseTopic; // MQTT 5 request/response, where given
    QByteArray correlation;
};

class BrokerClient : public QObject {
    Q_OBJECT
public:
    // What may wait to be sent, retained values aside (those wait one per topic).
    static constexpr qint64 kMaxWaitingBytes = qint64{1024} * 1024;
    // What may have arrived and wait for take(), in messages and in bytes;
    // more is dropped and counted.
    static constexpr int kMaxArrived = 1000;
    static constexpr qint64 kMaxArrivedBytes = qint64{1024} * 1024;
    // The largest payload taken in; the broker is told, and drops larger ones.
    static constexpr int kMaxPayloadBytes = 64 * 1024;
    // The pause before connecting again grows from the first to the last.
    static constexpr int kFirstRetrySeconds = 1;
    static constexpr int kLastRetrySeconds = 30;

    explicit BrokerClient(ClientSettings settings, QObject *parent = nullptr);
    // As stop() with no last word and no wait.
    ~BrokerClient() override;
    BrokerClient(const BrokerClient &) = delete;
    BrokerClient &operator=(const BrokerClient &) = delete;

    // Starts connecting; after a failure or a lost connection it connects
    // again, after a pause that doubles up to kLastRetrySeconds.
    void start();

    // A retained value (QoS 1): the newest per topic is sent, and every topic
    // retained so far is sent again at each connect, in the order first given.
    void retain(const QString &topic, const QByteArray &payload);
    // A message that is not retained. Beyond kMaxWaitingBytes waiting, it is
    // dropped and counted (ClientSettings::droppedNotice).
    void send(const QString &topic, const QByteArray &payload, int qos = 0, const QString &responseTopic = {},
              const QByteArray &correlation = {});
    // The same (QoS 0) for a payload that `write` makes on the client's
    // thread: the caller only hands it over. It counts kWrittenEstimate bytes
    // against kMaxWaitingBytes.
    void sendWritten(const QString &topic, std::function<QByteArray()> write);
    static constexpr qint64 kWrittenEstimate = 256;

    // Up to `most` of the messages that have arrived, oldest first.
    QList<Message> take(int most);
    // Arrived messages dropped since the last call, because kMaxArrived (or
    // kMaxArrivedBytes) waited.
    quint64 takeDroppedArrivals();

    // Sends `lastPayload` retained on `lastTopic` (when given) and says
    // goodbye, waiting at most waitMs for both; then the connection is gone.
    void stop(const QString &lastTopic = {}, const QByteArray &lastPayload = {}, int waitMs = 0);

signals:
    // Messages wait for take(); sent once until take() empties the list.
    void arrived();
    // Connected (problem empty), or the connection failed or was lost and
    // will be tried again (problem says why).
    void connectionChanged(bool connected, const QString &problem);
    // Every subscription of the current connection is in place.
    void subscribed();

public:
    struct Shared; // with the client's thread

private:
    // How much longer than waitMs stop() waits for the thread to end.
    static constexpr int kStopMarginMs = 50;

    std::shared_ptr<Shared> m_shared;
};

} // namespace veloxa::broker
