#pragma once
// Datagrams thrown at a port from sockets of the caller's own, many a system
// call (sendmmsg), so that one thread outruns the reader on the other side
// and keeps its socket full. A Flood sends on a thread of its own: the
// caller's event loop keeps running meanwhile (the fake unit takes in the
// panel's heartbeats on time, the watchdog's times stay true), and in a
// widget test or the flood benchmark the window under test drains them on
// the main thread.

#include <QByteArray>
#include <QHostAddress>
#include <QList>

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace veloxa::test {

// The largest UDP payload over IPv4.
inline constexpr int kLargestDatagram = 65507;

// One socket, connected to the target, that sends many datagrams a call.
class Burst {
public:
    static constexpr int kPerCall = 64;

    // `source`: the address the socket is bound to (port chosen by the
    // system); a null address leaves the choice to the system.
    Burst(const QHostAddress &target, quint16 port, const QHostAddress &source = {});
    ~Burst();
    Burst(const Burst &) = delete;
    Burst &operator=(const Burst &) = delete;

    bool ready() const { return m_fd >= 0; }
    // Room for `count` datagrams a call, made now rather than on the first send.
    void reserve(int count);
    // Sends `count` datagrams in one call, their payloads taken in turn from
    // `payloads` starting at index `first`; how many the system took.
    int send(const QList<QByteArray> &payloads, qsizetype first = 0, int count = kPerCall);

private:
    int m_fd = -1;
    std::vector<iovec> m_iov;
    std::vector<mmsghdr> m_messages;
};

class Flood {
public:
    struct Plan {
        QList<int> sizes; // payload sizes, taken in turn (the payloads of payload())
        int count = 0; // datagrams in all; below 0: until stop()
        int burst = 200; // sent back to back ...
        std::chrono::milliseconds pause{20}; // ... then this pause
        QList<QByteArray> payloads; // these payloads instead, taken in turn
        int perCall = Burst::kPerCall; // datagrams a system call

        // These payload sizes in turn, `count` datagrams in all (below 0:
        // until stop()), `burst` back to back, then `pause`.
        static Plan sized(const QList<int> &sizes, int count, int burst, std::chrono::milliseconds pause)
        {
            return {sizes, count, burst, pause, {}, Burst::kPerCall};
        }
    };

    // `sources`: addresses the sending sockets are bound to, one socket each
    // (see Burst); the sockets take turns.
    Flood(const QHostAddress &target, quint16 port, const QList<QHostAddress> &sources);
    ~Flood();
    Flood(const Flood &) = delete;
    Flood &operator=(const Flood &) = delete;

    bool ready() const { return !m_bursts.empty(); }

    void start(const Plan &plan)
    {
        prepare(plan);
        go();
    }
    // The thread made, with its payloads and buffers, waiting for go().
    void prepare(const Plan &plan);
    void go();
    void stop();

    bool done() const { return m_done; }
    int sent() const { return m_sent; }
    // From go() to the last datagram of a plan that has run to its end.
    std::chrono::nanoseconds duration() const { return m_duration; }

    // The payload of the n-th datagram: a first byte that is often one of the
    // panel's own opcodes, then a pattern.
    static QByteArray payload(int n, int size);

private:
    void run();

    std::vector<std::unique_ptr<Burst>> m_bursts;
    Plan m_plan; // of the thread running or waiting
    QList<QByteArray> m_payloads;
    std::thread m_thread;
    std::atomic<bool> m_go{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<int> m_sent{0};
    std::chrono::nanoseconds m_duration{0};
};

} // namespace veloxa::test
