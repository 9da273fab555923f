#pragma once
// Datagrams thrown at a port from sockets of the test's own, on a thread of
// their own: the test's event loop keeps running meanwhile (the fake unit
// takes in the panel's heartbeats on time, the watchdog's times stay true),
// and in a widget test the window under test drains them on the main thread.

#include <QByteArray>
#include <QHostAddress>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace veloxa::test {

// The largest UDP payload over IPv4.
inline constexpr int kLargestDatagram = 65507;

class Flood {
public:
    struct Plan {
        QList<int> sizes; // payload sizes, taken in turn
        int count = 0; // datagrams in all; below 0: until stop()
        int burst = 200; // sent back to back ...
        std::chrono::milliseconds pause{20}; // ... then this pause
    };

    // `sources`: addresses the sending sockets are bound to (port chosen by
    // the system); a null address gives a socket the system binds on its
    // first send.
    Flood(const QHostAddress &target, quint16 port, const QList<QHostAddress> &sources)
    {
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons(port);
        m_to.sin_addr.s_addr = htonl(target.toIPv4Address());
        for (const QHostAddress &source : sources) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            if (fd < 0)
                continue;
            if (!source.isNull()) {
                sockaddr_in from = {};
                from.sin_family = AF_INET;
                from.sin_addr.s_addr = htonl(source.toIPv4Address());
                if (::bind(fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0) {
                    ::close(fd);
                    continue;
                }
            }
            m_sockets.append(fd);
        }
    }

    ~Flood()
    {
        stop();
        for (int fd : std::as_const(m_sockets))
            ::close(fd);
    }

    Flood(const Flood &) = delete;
    Flood &operator=(const Flood &) = delete;

    bool ready() const { return !m_sockets.isEmpty(); }

    void start(const Plan &plan)
    {
        stop();
        m_stop = false;
        m_done = false;
        m_sent = 0;
        m_thread = std::thread([this, plan] { run(plan); });
    }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    bool done() const { return m_done; }
    int sent() const { return m_sent; }

    // The payload of the n-th datagram: a first byte that is often one of the
    // panel's own opcodes, then a pattern.
    static QByteArray payload(int n, int size)
    {
        static const char firsts[] = {'\x7F', '\x63', '\x67', '\xA5', '\x00', '\xFF', '\xC1'};
        QByteArray data(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            data[i] = static_cast<char>((n + i * 7) & 0xFF);
        if (size > 0)
            data[0] = firsts[n % int(sizeof firsts)];
        return data;
    }

private:
    // Many datagrams per system call (sendmmsg), so that one thread can
    // outrun the reader on the other side and keep its socket full.
    void run(const Plan &plan)
    {
        constexpr int kBatch = 64;
        QList<QByteArray> payloads;
        for (qsizetype i = 0; i < plan.sizes.size(); ++i)
            payloads.append(payload(int(i), plan.sizes.at(i)));
        iovec iov[kBatch];
        mmsghdr messages[kBatch];
        int n = 0;
        int socketIndex = 0;
        while (!m_stop && (plan.count < 0 || n < plan.count) && !payloads.isEmpty()) {
            for (int inBurst = 0; inBurst < plan.burst && !m_stop && (plan.count < 0 || n < plan.count);) {
                int batch = std::min(kBatch, plan.burst - inBurst);
                if (plan.count >= 0)
                    batch = std::min(batch, plan.count - n);
                for (int j = 0; j < batch; ++j) {
                    const QByteArray &data = payloads.at((n + j) % payloads.size());
                    iov[j] = {const_cast<char *>(data.constData()), static_cast<size_t>(data.size())};
                    messages[j] = {};
                    messages[j].msg_hdr.msg_name = &m_to;
                    messages[j].msg_hdr.msg_namelen = sizeof m_to;
                    messages[j].msg_hdr.msg_iov = &iov[j];
                    messages[j].msg_hdr.msg_iovlen = 1;
                }
                const int fd = m_sockets.at(socketIndex++ % m_sockets.size());
                const int sent = ::sendmmsg(fd, messages, static_cast<unsigned>(batch), 0);
                if (sent > 0)
                    m_sent += sent;
                // What the system refused is counted as gone all the same: a
                // flood is not a delivery.
                n += batch;
                inBurst += batch;
            }
            if (plan.pause.count() > 0)
                std::this_thread::sleep_for(plan.pause);
        }
        m_done = true;
    }

    sockaddr_in m_to = {};
    QList<int> m_sockets;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::atomic<int> m_sent{0};
};

} // namespace veloxa::test
