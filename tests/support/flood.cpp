#include "support/flood.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>

namespace veloxa::test {

namespace {

sockaddr_in socketAddress(const QHostAddress &address, quint16 port)
{
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address.toIPv4Address());
    return result;
}

} // namespace

Burst::Burst(const QHostAddress &target, quint16 port, const QHostAddress &source)
    : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
{
    if (m_fd < 0)
        return;
    const sockaddr_in from = socketAddress(source, 0);
    const sockaddr_in to = socketAddress(target, port);
    // Connected: one route for every datagram, and no address in each message.
    if ((!source.isNull() && ::bind(m_fd, reinterpret_cast<const sockaddr *>(&from), sizeof from) != 0)
        || ::connect(m_fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    reserve(kPerCall);
}

Burst::~Burst()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Burst::reserve(int count)
{
    const auto size = static_cast<std::size_t>(std::max(count, 1));
    if (m_messages.size() < size) {
        m_iov.resize(size);
        m_messages.resize(size);
    }
}

int Burst::send(const QList<QByteArray> &payloads, qsizetype first, int count)
{
    if (m_fd < 0 || payloads.isEmpty() || count <= 0)
        return 0;
    reserve(count);
    for (int j = 0; j < count; ++j) {
        const QByteArray &data = payloads.at((first + j) % payloads.size());
        m_iov[std::size_t(j)] = {const_cast<char *>(data.constData()), static_cast<size_t>(data.size())};
        m_messages[std::size_t(j)] = {};
        m_messages[std::size_t(j)].msg_hdr.msg_iov = &m_iov[std::size_t(j)];
        m_messages[std::size_t(j)].msg_hdr.msg_iovlen = 1;
    }
    return std::max(0, ::sendmmsg(m_fd, m_messages.data(), static_cast<unsigned>(count), 0));
}

Flood::Flood(const QHostAddress &target, quint16 port, const QList<QHostAddress> &sources)
{
    for (const QHostAddress &source : sources) {
        auto burst = std::make_unique<Burst>(target, port, source);
        if (burst->ready())
            m_bursts.push_back(std::move(burst));
    }
}

Flood::~Flood()
{
    stop();
}

void Flood::prepare(const Plan &plan)
{
    stop();
    m_stop = false;
    m_go = false;
    m_done = false;
    m_sent = 0;
    m_duration = {};
    m_plan = plan;
    m_payloads = plan.payloads;
    if (m_payloads.isEmpty())
        for (qsizetype i = 0; i < plan.sizes.size(); ++i)
            m_payloads.append(payload(int(i), plan.sizes.at(i)));
    for (const auto &burst : m_bursts)
        burst->reserve(plan.perCall);
    // Everything the thread uses is made here, and it ends only with stop():
    // it allocates nothing and runs no exit code of the C library meanwhile,
    // so that the memory a benchmark measures meanwhile is the window's.
    m_thread = std::thread([this] {
        m_go.wait(false);
        const auto start = std::chrono::steady_clock::now();
        run();
        if (!m_stop)
            m_duration = std::chrono::steady_clock::now() - start;
        m_done = true;
        m_stop.wait(false);
    });
}

void Flood::go()
{
    m_go = true;
    m_go.notify_one();
}

void Flood::stop()
{
    m_stop = true;
    m_stop.notify_one();
    go(); // a thread still waiting for its start ends at once
    if (m_thread.joinable())
        m_thread.join();
}

QByteArray Flood::payload(int n, int size)
{
    static const char firsts[] = {'\x7F', '\x63', '\x67', '\xA5', '\x00', '\xFF', '\xC1'};
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>((n + i * 7) & 0xFF);
    if (size > 0)
        data[0] = firsts[n % int(sizeof firsts)];
    return data;
}

void Flood::run()
{
    const Plan &plan = m_plan;
    const QList<QByteArray> &payloads = m_payloads;
    const int perCall = std::max(1, plan.perCall);
    int n = 0;
    std::size_t turn = 0;
    const auto more = [&] { return !m_stop && (plan.count < 0 || n < plan.count); };
    while (more() && !payloads.isEmpty() && !m_bursts.empty()) {
        for (int inBurst = 0; inBurst < plan.burst && more();) {
            int batch = std::min(perCall, plan.burst - inBurst);
            if (plan.count >= 0)
                batch = std::min(batch, plan.count - n);
            m_sent += m_bursts[turn++ % m_bursts.size()]->send(payloads, n, batch);
            // What the system refused is counted as gone all the same: a
            // flood is not a delivery.
            n += batch;
            inBurst += batch;
        }
        if (plan.pause.count() > 0)
            std::this_thread::sleep_for(plan.pause);
    }
}

} // namespace veloxa::test
