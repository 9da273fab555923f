// Arrival flood: the real window with the real UDP channel while another
// thread sends it 100,000 datagrams as fast as sendmmsg goes.
//
// The channel binds itself with a first send to a plain socket on 127.0.0.1
// (the unit); the heartbeat timer runs as in the panel. A 10 ms timer in the
// window's thread measures how late the event loop comes round, first for a
// second without traffic (the floor), then from the first datagram sent until
// the arrivals have stopped for 300 ms. VmRSS of this process is read before
// and after the flood (the sender thread exists and has its buffers before the
// first reading). Afterwards a key goes into the frequency box and its
// frequency datagram must reach the unit's socket.

#include "support.h"

#include "core/link/clock.h"
#include "core/link/datagrams.h"
#include "core/link/udp_channel.h"
#include "core/settings/store.h"
#include "gui/window/form_main.h"

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace veloxa;
using namespace veloxa::bench;

namespace {

constexpr double kGoalLatenessMs = 50.0;
constexpr double kGoalGrowthKiB = 2048.0;
constexpr int kTickMs = 10;

const char kUsage[] = "bench_flood [--datagrams N] [--batch N] [--csv-dir DIR]\n"
                      "  N datagrams (default 100000) sent with sendmmsg in batches (default 64) at the real\n"
                      "  window's UDP channel, while a 10 ms timer measures the event loop's lateness.";

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "bench_flood: %s\n", what.c_str());
    std::exit(1);
}

// A store that keeps nothing, so the figures are the window's and the channel's.
class NullStore final : public settings::SettingsStore {
public:
    settings::ReadResult read(const QString &) const override { return {}; }
    bool write(const QString &, const QString &) override { return true; }
};

// Sends `total` 2-byte datagrams to 127.0.0.1:port in sendmmsg batches once
// started; everything it needs is allocated when it is made.
class FloodSender {
public:
    FloodSender(std::uint16_t port, long long total, int batch)
        : m_total(total)
        , m_batch(batch)
        , m_messages(std::size_t(batch))
        , m_io(std::size_t(batch))
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            fail(std::string("sender socket: ") + std::strerror(errno));
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(port);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0)
            fail(std::string("sender connect: ") + std::strerror(errno));
        for (int i = 0; i < batch; ++i) {
            m_io[std::size_t(i)] = {const_cast<char *>(m_payload), sizeof m_payload};
            m_messages[std::size_t(i)].msg_hdr.msg_iov = &m_io[std::size_t(i)];
            m_messages[std::size_t(i)].msg_hdr.msg_iovlen = 1;
        }
        m_thread = std::thread([this] { run(); });
    }
    ~FloodSender()
    {
        m_go = true;
        m_go.notify_one();
        m_thread.join();
        ::close(m_fd);
    }
    void start()
    {
        m_go = true;
        m_go.notify_one();
    }
    bool done() const { return m_done; }
    long long sent() const { return m_sent; }
    std::int64_t durationNs() const { return m_endNs - m_startNs; }

private:
    void run()
    {
        m_go.wait(false);
        m_startNs = monotonicNs();
        while (m_sent < m_total) {
            const unsigned count = unsigned(std::min<long long>(m_batch, m_total - m_sent));
            const int n = ::sendmmsg(m_fd, m_messages.data(), count, 0);
            if (n > 0)
                m_sent += n;
            else if (errno != EINTR && errno != EAGAIN && errno != ENOBUFS && errno != ECONNREFUSED)
                break;
        }
        m_endNs = monotonicNs();
        m_done = true;
    }

    int m_fd = -1;
    long long m_total;
    int m_batch;
    const char m_payload[2] = {'o', 'k'};
    std::vector<mmsghdr> m_messages;
    std::vector<iovec> m_io;
    std::atomic<bool> m_go{false};
    std::atomic<bool> m_done{false};
    std::atomic<long long> m_sent{0};
    std::int64_t m_startNs = 0, m_endNs = 0;
    std::thread m_thread;
};

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv, {{"datagrams", "100000"}, {"batch", "64"}, {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback("bench_flood");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const long long total = options.number("datagrams");
    const int batch = int(std::clamp<long long>(options.number("batch"), 1, 1024));

    Receiver unit;
    link::UdpChannel channel;
    if (!channel.setDestination(QStringLiteral("127.0.0.1"), unit.port()))
        fail("the channel refused 127.0.0.1");
    NullStore store;
    link::SteadyClock clock;
    window::FormMain form(channel, store, clock);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        fail("the window was not shown");
    form.activateWindow();
    form.controls().txtFreq.setFocus(Qt::OtherFocusReason);
    QTest::keyClick(&form.controls().txtFreq, Qt::Key_End);

    // The first send binds the channel's socket.
    if (!channel.send(link::heartbeatCommand()) || channel.localPort() == 0)
        fail("the channel did not bind on its first send");
    if (!unit.waitFor(link::opcode::Heartbeat, 2000))
        fail("the first heartbeat did not arrive");
    form.controls().tmrHB.start();

    long long arrivals = 0;
    std::int64_t lastArrivalNs = 0;
    QObject::connect(&channel, &link::Channel::arrived, [&] {
        ++arrivals;
        lastArrivalNs = monotonicNs();
    });

    // The lateness probe.
    std::vector<double> lateness;
    std::int64_t lastTickNs = 0, lastTickCpuNs = 0;
    double worstLate = -1, worstLateCpuMs = 0; // the latest tick, and the thread's CPU time in its interval
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kTickMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const std::int64_t now = monotonicNs();
        const std::int64_t cpu = threadCpuNs();
        if (lastTickNs != 0) {
            const double late = std::max(0.0, nsToMs(now - lastTickNs) - kTickMs);
            lateness.push_back(late);
            if (late > worstLate) {
                worstLate = late;
                worstLateCpuMs = nsToMs(cpu - lastTickCpuNs);
            }
        }
        lastTickNs = now;
        lastTickCpuNs = cpu;
    });

    FloodSender sender(channel.localPort(), total, batch);

    // The floor: one second of the same probe without traffic.
    probe.start();
    QTest::qWait(1000);
    const Summary idle = summarize(lateness);
    lateness.clear();
    worstLate = -1;
    unit.drain();
    const long rssBefore = statusKiB(getpid(), "VmRSS");

    // The flood, until nothing has arrived for 300 ms after the sender finished.
    arrivals = 0;
    const std::int64_t floodStart = monotonicNs();
    sender.start();
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const std::int64_t now = monotonicNs();
        const bool quiet = now - std::max(lastArrivalNs, floodStart) > 300'000'000;
        if ((sender.done() && quiet) || now - floodStart > 60'000'000'000LL)
            loop.quit();
    });
    watch.start();
    loop.exec();
    watch.stop();
    const std::int64_t floodNs = monotonicNs() - floodStart;
    probe.stop();
    const Summary flood = summarize(lateness);
    if (!sender.done())
        fail("the sender did not finish within 60 s");

    QCoreApplication::processEvents();
    const long rssAfter = statusKiB(getpid(), "VmRSS");
    const double growthKiB = double(rssAfter - rssBefore);

    // Still answering: a key, and its frequency datagram at the unit.
    unit.drain();
    const QString before = form.controls().txtFreq.text();
    QTest::keyClick(&form.controls().txtFreq, '5');
    const bool textChanged = form.controls().txtFreq.text() == before + QLatin1Char('5');
    int skipped = 0;
    const auto frequency = unit.waitFor(link::opcode::Frequency, 2000, &skipped);
    const bool answered = textChanged && frequency.has_value();

    Report report("flood",
                  std::to_string(total) + " datagrams at the window's UDP channel (sendmmsg, batches of "
                      + std::to_string(batch) + ")");
    report.addSummary("event loop lateness during flood", flood, "ms", "worst <= " + fixed(kGoalLatenessMs, 0) + " ms",
                      ratioText(flood.max, idle.max), verdict(flood.max <= kGoalLatenessMs));
    report.addValue("window thread's CPU in the worst interval", worstLateCpuMs, "ms");
    report.addSummary("floor: lateness without traffic (1 s)", idle, "ms");
    report.addValue("VmRSS growth over the flood", growthKiB, "KiB", "<= 2048 KiB", {},
                    verdict(growthKiB <= kGoalGrowthKiB));
    report.addValue("VmRSS before the flood", double(rssBefore), "KiB");
    report.addValue("VmRSS after the flood", double(rssAfter), "KiB");
    report.addValue("key afterwards -> frequency datagram", answered ? 1 : 0, "1 = yes", "answers", {},
                    verdict(answered));
    report.addValue("datagrams sent", double(sender.sent()), "datagrams");
    report.addValue("arrivals handled by the window", double(arrivals), "datagrams");
    report.addValue("sender's time for all datagrams", nsToMs(sender.durationNs()), "ms");
    report.addValue("flood phase (to 300 ms of quiet)", nsToMs(floodNs), "ms");
    report.note("the worst interval lasted " + fixed(worstLate + kTickMs, 1)
                + " ms; the window's thread ran for the CPU time above of it (the rest it waited for a core)");
    report.note("'x floor' = worst lateness with the flood / worst without; datagrams the kernel dropped because "
                "the channel's socket buffer was full never reach the window");
    const bool written = report.finish(options.text("csv-dir"));
    return written && answered ? 0 : 1;
}
