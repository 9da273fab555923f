#include "core/broker/broker_client.h"

#include <QHash>
#include <QMetaObject>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <set>
#include <thread>
#include <unistd.h>

namespace veloxa::broker {
namespace {

// Holds back a TCP socket's partial segments while it lives.
class Corked {
public:
    explicit Corked(int socket)
        : m_socket(socket)
    {
        set(1);
    }
    ~Corked() { set(0); }
    Corked(const Corked &) = delete;
    Corked &operator=(const Corked &) = delete;

private:
    void set(int on) const
    {
        if (m_socket >= 0)
            (void)::setsockopt(m_socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
    }
    const int m_socket;
};

using Clock = std::chrono::steady_clock;

struct Outgoing {
    QByteArray topic;
    QByteArray payload;
    int qos = 0;
    QByteArray responseTopic;
    QByteArray correlation;
    std::function<QByteArray()> write; // makes the payload on the client's thread, when given
    qint64 size() const { return topic.size() + (write ? BrokerClient::kWrittenEstimate : payload.size()); }
};

struct Retained {
    QByteArray payload;
    bool waiting = true; // not yet sent on this connection
};

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString mosquittoText(int rc)
{
    return rc == MOSQ_ERR_ERRNO ? errnoText(errno) : QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

// What the caller's thread and the client's thread share, under `mutex`.
struct BrokerClient::Shared {
    explicit Shared(ClientSettings s)
        : settings(std::move(s))
    {
        if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
            wakeFds[0] = wakeFds[1] = -1;
    }
    ~Shared()
    {
        for (const int fd : wakeFds)
            if (fd >= 0)
                ::close(fd);
    }
    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;

    // Wakes the client's thread from its wait: once, until it has taken what
    // waits or while it gathers, unless `urgently` (an answer someone waits
    // for, the stop).
    void wake(bool urgently = false)
    {
        const char byte = 0;
        if (urgently)
            urgent = true;
        if (wakeFds[1] >= 0 && (!wakeSent.exchange(true) || urgently))
            (void)!::write(wakeFds[1], &byte, 1);
    }

    // Runs `call` on the owner's thread, unless the owner is gone. Under `mutex`.
    template <typename Call>
    void post(Call call)
    {
        if (owner)
            QMetaObject::invokeMethod(owner, std::move(call), Qt::QueuedConnection);
    }

    const ClientSettings settings;
    int wakeFds[2] = {-1, -1};
    std::atomic<bool> wakeSent = false;
    std::atomic<bool> urgent = false;

    std::mutex mutex;
    BrokerClient *owner = nullptr;
    // To send: retained values by topic, in the order first given, and the rest.
    std::vector<QByteArray> retainedOrder;
    QHash<QByteArray, Retained> retained;
    std::deque<Outgoing> waiting;
    qint64 waitingBytes = 0;
    quint64 droppedSends = 0;
    // Arrived.
    std::deque<Message> arrived;
    qint64 arrivedBytes = 0;
    quint64 droppedArrivals = 0;
    bool arrivalSignalled = false;
    // Stopping.
    bool stopping = false;
    QByteArray lastTopic;
    QByteArray lastPayload;
    Clock::time_point stopBy;
    bool finished = true; // until start()
    std::condition_variable finishedChanged;
};

namespace {

// The client's thread: one connection after another until it is stopped.
class Worker {
public:
    explicit Worker(std::shared_ptr<BrokerClient::Shared> shared)
        : m_shared(std::move(shared))
        , m_settings(m_shared->settings)
    {
    }

    void run()
    {
        int pause = BrokerClient::kFirstRetrySeconds;
        QString reported;
        while (!stopping()) {
            m_wasConnected = false;
            const QString problem = connection();
            if (stopping())
                break;
            if (m_wasConnected)
                pause = BrokerClient::kFirstRetrySeconds;
            {
                const std::lock_guard lock(m_shared->mutex);
                m_shared->post([owner = m_shared->owner, problem] { emit owner->connectionChanged(false, problem); });
            }
            waitFor(std::chrono::seconds(pause));
            pause = std::min(pause * 2, BrokerClient::kLastRetrySeconds);
        }
        const std::lock_guard lock(m_shared->mutex);
        m_shared->finished = true;
        m_shared->finishedChanged.notify_all();
    }

private:
    using Mosquitto = std::unique_ptr<mosquitto, decltype(&mosquitto_destroy)>;

    bool stopping()
    {
        const std::lock_guard lock(m_shared->mutex);
        return m_shared->stopping;
    }

    // Sleeps, waking early when stopped.
    void waitFor(Clock::duration pause)
    {
        const auto until = Clock::now() + pause;
        while (!stopping() && Clock::now() < until) {
            pollfd wake{m_shared->wakeFds[0], POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (::poll(&wake, 1, static_cast<int>(std::max<qint64>(1, left.count()))) > 0)
                drainWake();
        }
    }

    // Before what woke it is taken: a wake after this point writes again.
    void drainWake() const
    {
        m_shared->wakeSent = false;
        readWake();
    }

    void readWake() const
    {
        char bytes[64];
        while (::read(m_shared->wakeFds[0], bytes, sizeof bytes) > 0) {}
    }

    // Sets up one client and connects it. Empty when that went well.
    QString prepare(mosquitto *m)
    {
        mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
        if (m_settings.address.tls) {
            const QByteArray ca = m_settings.caFile.toLocal8Bit();
            const int rc = ca.isEmpty() ? mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                                        : mosquitto_tls_set(m, ca.constData(), nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS)
                return QStringLiteral("TLS: %1").arg(mosquittoText(rc));
        }
        if (m_settings.credentials) {
            mosquitto_username_pw_set(m, m_settings.credentials->user.toUtf8().constData(),
                                      m_settings.credentials->password.toUtf8().constData());
        }
        if (!m_settings.willTopic.isEmpty()) {
            const QByteArray topic = m_settings.willTopic.toUtf8();
            mosquitto_will_set_v5(m, topic.constData(), static_cast<int>(m_settings.willPayload.size()),
                                  m_settings.willPayload.constData(), 1, true, nullptr);
        }
        mosquitto_connect_v5_callback_set(m, &Worker::onConnect);
        mosquitto_disconnect_v5_callback_set(m, &Worker::onDisconnect);
        mosquitto_message_v5_callback_set(m, &Worker::onMessage);
        mosquitto_publish_v5_callback_set(m, &Worker::onPublish);
        mosquitto_subscribe_v5_callback_set(m, &Worker::onSubscribe);

        // The broker sends nothing larger than what is taken in.
        mosquitto_property *properties = nullptr;
        mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                     BrokerClient::kMaxPayloadBytes + kTopicAllowance);
        const int rc =
            mosquitto_connect_bind_v5(m, m_settings.address.host.toUtf8().constData(), m_settings.address.port,
                                      m_settings.keepAliveSeconds, nullptr, properties);
        mosquitto_property_free_all(&properties);
        if (rc == MOSQ_ERR_EAI)
            return QStringLiteral("cannot find %1").arg(m_settings.address.host);
        if (rc != MOSQ_ERR_SUCCESS)
            return QStringLiteral("cannot connect: %1").arg(mosquittoText(rc));
        return {};
    }

    // One connection, from connecting to its end. Why it ended; empty when stopped.
    QString connection()
    {
        const QByteArray id = m_settings.clientId.toUtf8();
        const Mosquitto m(mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this), &mosquitto_destroy);
        if (!m)
            return QStringLiteral("cannot make an MQTT client");
        m_connected = false;
        m_ended.clear();
        m_unacked.clear();
        m_lastWordMid = -1;
        m_feedPending = true;
        if (QString problem = prepare(m.get()); !problem.isEmpty())
            return problem;

        bool stopSeen = false;
        while (true) {
            if (!stopSeen && stopping()) {
                stopSeen = true;
                sayLastWord(m.get());
            }
            if (stopSeen && (m_lastWordMid < 0 || !m_connected || Clock::now() >= stopBy())) {
                if (m_connected)
                    mosquitto_disconnect_v5(m.get(), MQTT_RC_NORMAL_DISCONNECTION, nullptr);
                return {};
            }
            // What waits is handed over at most every kGatherMs: a burst of
            // changes costs one wake of this thread, not one per message.
            // An answer goes at once.
            const auto now = Clock::now();
            if (m_shared->urgent.exchange(false))
                m_nextFeed = now;
            if (m_connected && !stopSeen && m_feedPending && now >= m_nextFeed) {
                drainWake();
                const quint64 publishedBefore = m_published;
                m_feedPending = !feed(m.get());
                m_nextFeed = now + std::chrono::milliseconds(kGatherMs);
                if (m_published != publishedBefore) {
                    // More is likely to follow: until the next look, what
                    // is handed over waits for it without a wake.
                    m_shared->wakeSent = true;
                    m_feedPending = true;
                }
            }

            pollfd fds[2] = {{mosquitto_socket(m.get()), POLLIN, 0}, {m_shared->wakeFds[0], POLLIN, 0}};
            if (mosquitto_want_write(m.get()))
                fds[0].events |= POLLOUT;
            int timeoutMs = kMiscEveryMs;
            if (m_feedPending && m_connected)
                timeoutMs = waitMsUntil(m_nextFeed);
            if (stopSeen)
                timeoutMs = waitMsUntil(stopBy());
            if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
                return QStringLiteral("poll: %1").arg(errnoText(errno));
            if (fds[1].revents != 0) {
                readWake(); // while gathering, only an answer writes to it
                m_feedPending = true;
            }
            int rc = MOSQ_ERR_SUCCESS;
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                rc = mosquitto_loop_read(m.get(), 1);
            if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(m.get()))
                rc = mosquitto_loop_write(m.get(), 1);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop_misc(m.get());
            if (!m_ended.isEmpty())
                return m_ended;
            if (rc != MOSQ_ERR_SUCCESS)
                return rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN
                    ? QStringLiteral("the broker closed the connection")
                    : QStringLiteral("connection lost: %1").arg(mosquittoText(rc));
        }
    }

    // The wait of the next poll until `when`, at most kMiscEveryMs. Rounded
    // up: a wait cut to 0 ms short of it would spin.
    static int waitMsUntil(Clock::time_point when)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
        return static_cast<int>(std::clamp<qint64>(left, 0, kMiscEveryMs));
    }

    Clock::time_point stopBy()
    {
        const std::lock_guard lock(m_shared->mutex);
        return m_shared->stopBy;
    }

    void sayLastWord(mosquitto *m)
    {
        QByteArray topic;
        QByteArray payload;
        {
            const std::lock_guard lock(m_shared->mutex);
            topic = m_shared->lastTopic;
            payload = m_shared->lastPayload;
        }
        if (!m_connected || topic.isEmpty())
            return;
        int mid = 0;
        if (mosquitto_publish_v5(m, &mid, topic.constData(), static_cast<int>(payload.size()), payload.constData(), 1,
                                 true, nullptr)
            == MOSQ_ERR_SUCCESS)
            m_lastWordMid = mid;
    }

    // Hands libmosquitto what waits, while the socket takes it: retained
    // values first, then the rest. QoS 1 messages stop at kMaxUnacked not yet
    // acknowledged, so that nothing piles up inside the library either. True
    // when nothing is left waiting.
    bool feed(mosquitto *m)
    {
        // What one feed hands over leaves in as few segments as it fits in:
        // the broker wakes once for them, not once for each message.
        const Corked corked(mosquitto_socket(m));
        while (!mosquitto_want_write(m)) {
            bool retain = false;
            bool emptied = false;
            std::optional<Outgoing> next = takeNext(retain, emptied);
            if (!next)
                return emptied;
            if (next->write)
                next->payload = next->write();
            publish(m, *next, retain);
            if (mosquitto_loop_write(m, 1) != MOSQ_ERR_SUCCESS)
                return false;
        }
        return false; // the socket is full for now
    }

    // The next message to hand over (`retain` says whether it is a retained
    // value), or nothing; then `emptied` says whether nothing waits that
    // could go now.
    std::optional<Outgoing> takeNext(bool &retain, bool &emptied)
    {
        const std::lock_guard lock(m_shared->mutex);
        Shared &s = *m_shared;
        if (s.droppedSends > 0 && s.waitingBytes < BrokerClient::kMaxWaitingBytes / 2 && s.settings.droppedNotice) {
            const QByteArray notice = s.settings.droppedNotice(s.droppedSends);
            s.waiting.push_back({s.settings.droppedTopic.toUtf8(), notice, 0, {}, {}, {}});
            s.waitingBytes += notice.size();
            s.droppedSends = 0;
        }
        const bool roomForQos1 = m_unacked.size() < kMaxUnacked;
        if (roomForQos1) {
            for (const QByteArray &topic : s.retainedOrder) {
                Retained &value = s.retained[topic];
                if (value.waiting) {
                    value.waiting = false;
                    retain = true;
                    return Outgoing{topic, value.payload, 1, {}, {}, {}};
                }
            }
        }
        if (!s.waiting.empty() && (s.waiting.front().qos == 0 || roomForQos1)) {
            Outgoing next = std::move(s.waiting.front());
            s.waiting.pop_front();
            s.waitingBytes -= next.size();
            return next;
        }
        emptied = s.waiting.empty() || roomForQos1;
        return std::nullopt;
    }

    void publish(mosquitto *m, const Outgoing &message, bool retain)
    {
        mosquitto_property *properties = nullptr;
        if (!message.responseTopic.isEmpty())
            mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, message.responseTopic.constData());
        if (!message.correlation.isEmpty())
            mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, message.correlation.constData(),
                                          static_cast<uint16_t>(message.correlation.size()));
        int mid = 0;
        const int rc =
            mosquitto_publish_v5(m, &mid, message.topic.constData(), static_cast<int>(message.payload.size()),
                                 message.payload.constData(), message.qos, retain, properties);
        mosquitto_property_free_all(&properties);
        if (rc == MOSQ_ERR_SUCCESS && message.qos > 0)
            m_unacked.insert(mid);
        ++m_published;
    }

    static Worker &self(void *object) { return *static_cast<Worker *>(object); }

    static void onConnect(mosquitto *m, void *object, int rc, int /*flags*/, const mosquitto_property * /*props*/)
    {
        Worker &w = self(object);
        if (rc != 0) {
            w.m_ended = QStringLiteral("the broker refused the connection: %1")
                            .arg(QString::fromUtf8(mosquitto_reason_string(rc)));
            return;
        }
        w.m_connected = w.m_wasConnected = true;
        w.m_feedPending = true;
        w.m_pendingSubscriptions = 0;
        for (const QString &filter : w.m_settings.subscriptions) {
            if (mosquitto_subscribe_v5(m, nullptr, filter.toUtf8().constData(), 0, 0, nullptr) == MOSQ_ERR_SUCCESS)
                ++w.m_pendingSubscriptions;
        }
        const std::lock_guard lock(w.m_shared->mutex);
        for (auto &value : w.m_shared->retained)
            value.waiting = true; // everything again on a new connection
        w.m_shared->post([owner = w.m_shared->owner] { emit owner->connectionChanged(true, {}); });
        if (w.m_pendingSubscriptions == 0)
            w.m_shared->post([owner = w.m_shared->owner] { emit owner->subscribed(); });
    }

    static void onDisconnect(mosquitto * /*m*/, void *object, int rc, const mosquitto_property * /*props*/)
    {
        Worker &w = self(object);
        w.m_connected = false;
        if (w.m_ended.isEmpty() && rc != 0)
            w.m_ended = QStringLiteral("the broker ended the connection: %1")
                            .arg(QString::fromUtf8(mosquitto_reason_string(rc)));
    }

    static void onSubscribe(mosquitto * /*m*/, void *object, int /*mid*/, int /*count*/, const int * /*granted*/,
                            const mosquitto_property * /*props*/)
    {
        Worker &w = self(object);
        if (--w.m_pendingSubscriptions == 0) {
            const std::lock_guard lock(w.m_shared->mutex);
            w.m_shared->post([owner = w.m_shared->owner] { emit owner->subscribed(); });
        }
    }

    static void onPublish(mosquitto * /*m*/, void *object, int mid, int /*reason*/, const mosquitto_property *)
    {
        Worker &w = self(object);
        w.m_unacked.erase(mid);
        w.m_feedPending = true; // room for what waited on acknowledgements
        if (mid == w.m_lastWordMid)
            w.m_lastWordMid = -1;
    }

    static void onMessage(mosquitto * /*m*/, void *object, const mosquitto_message *message,
                          const mosquitto_property *properties)
    {
        Worker &w = self(object);
        if (message->payloadlen > BrokerClient::kMaxPayloadBytes)
            return;
        Message arrived;
        arrived.topic = QString::fromUtf8(message->topic);
        arrived.payload = QByteArray(static_cast<const char *>(message->payload), message->payloadlen);
        arrived.retained = message->retain;
        char *responseTopic = nullptr;
        if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false)) {
            arrived.responseTopic = QString::fromUtf8(responseTopic);
            std::free(responseTopic); // NOLINT(cppcoreguidelines-no-malloc): the library's
        }
        void *correlation = nullptr;
        uint16_t length = 0;
        if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false)) {
            arrived.correlation = QByteArray(static_cast<const char *>(correlation), length);
            std::free(correlation); // NOLINT(cppcoreguidelines-no-malloc): the library's
        }
        const std::lock_guard lock(w.m_shared->mutex);
        Shared &s = *w.m_shared;
        const qint64 size = arrived.topic.size() + arrived.payload.size();
        if (static_cast<int>(s.arrived.size()) >= BrokerClient::kMaxArrived
            || s.arrivedBytes + size > BrokerClient::kMaxArrivedBytes) {
            ++s.droppedArrivals;
            return;
        }
        s.arrivedBytes += size;
        s.arrived.push_back(std::move(arrived));
        if (!s.arrivalSignalled) {
            s.arrivalSignalled = true;
            s.post([owner = s.owner] { emit owner->arrived(); });
        }
    }

    using Shared = BrokerClient::Shared;
    static constexpr int kMiscEveryMs = 1000;
    static constexpr int kTopicAllowance = 1024;
    static constexpr std::size_t kMaxUnacked = 16;
    static constexpr int kGatherMs = 20;

    std::shared_ptr<Shared> m_shared;
    const ClientSettings &m_settings;
    bool m_connected = false;
    bool m_wasConnected = false;
    QString m_ended;
    std::set<int> m_unacked;
    int m_lastWordMid = -1;
    int m_pendingSubscriptions = 0;
    bool m_feedPending = true; // something may wait to be handed over
    quint64 m_published = 0;
    Clock::time_point m_nextFeed;
};

// Queues a message that is not retained, or counts it dropped past the bound.
void enqueue(BrokerClient::Shared &shared, Outgoing message)
{
    const qint64 size = message.size();
    const bool urgent = !message.correlation.isEmpty();
    {
        const std::lock_guard lock(shared.mutex);
        if (shared.waitingBytes + size > BrokerClient::kMaxWaitingBytes) {
            ++shared.droppedSends;
            return;
        }
        shared.waitingBytes += size;
        shared.waiting.push_back(std::move(message));
    }
    shared.wake(urgent);
}

} // namespace

BrokerClient::BrokerClient(ClientSettings settings, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>(std::move(settings)))
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    m_shared->owner = this;
}

BrokerClient::~BrokerClient()
{
    stop();
}

void BrokerClient::start()
{
    {
        const std::lock_guard lock(m_shared->mutex);
        if (!m_shared->finished || m_shared->stopping)
            return;
        m_shared->finished = false;
    }
    std::thread([shared = m_shared] { Worker(shared).run(); }).detach();
}

void BrokerClient::retain(const QString &topic, const QByteArray &payload)
{
    const QByteArray key = topic.toUtf8();
    {
        const std::lock_guard lock(m_shared->mutex);
        auto found = m_shared->retained.find(key);
        if (found == m_shared->retained.end()) {
            m_shared->retainedOrder.push_back(key);
            m_shared->retained.insert(key, {payload, true});
        } else if (found->payload != payload || !found->waiting) {
            *found = {payload, true};
        }
    }
    m_shared->wake();
}

void BrokerClient::send(const QString &topic, const QByteArray &payload, int qos, const QString &responseTopic,
                        const QByteArray &correlation)
{
    enqueue(*m_shared, {topic.toUtf8(), payload, qos, responseTopic.toUtf8(), correlation, {}});
}

void BrokerClient::sendWritten(const QString &topic, std::function<QByteArray()> write)
{
    enqueue(*m_shared, {topic.toUtf8(), {}, 0, {}, {}, std::move(write)});
}

QList<Message> BrokerClient::take(int most)
{
    QList<Message> taken;
    const std::lock_guard lock(m_shared->mutex);
    while (!m_shared->arrived.empty() && taken.size() < most) {
        taken.append(std::move(m_shared->arrived.front()));
        m_shared->arrivedBytes -= taken.constLast().topic.size() + taken.constLast().payload.size();
        m_shared->arrived.pop_front();
    }
    if (m_shared->arrived.empty())
        m_shared->arrivalSignalled = false;
    return taken;
}

quint64 BrokerClient::takeDroppedArrivals()
{
    const std::lock_guard lock(m_shared->mutex);
    return std::exchange(m_shared->droppedArrivals, 0);
}

void BrokerClient::stop(const QString &lastTopic, const QByteArray &lastPayload, int waitMs)
{
    std::unique_lock lock(m_shared->mutex);
    if (!m_shared->owner)
        return;
    m_shared->owner = nullptr; // nothing more is posted to this object
    m_shared->stopping = true;
    m_shared->lastTopic = lastTopic.toUtf8();
    m_shared->lastPayload = lastPayload;
    m_shared->stopBy = Clock::now() + std::chrono::milliseconds(waitMs);
    m_shared->wake(true);
    // The thread keeps its share of the state: one that is stuck in a name
    // lookup or a connect ends on its own, later, without this object.
    m_shared->finishedChanged.wait_until(lock, m_shared->stopBy + std::chrono::milliseconds(kStopMarginMs),
                                         [this] { return m_shared->finished; });
}

} // namespace veloxa::broker
