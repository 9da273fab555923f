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

#include "measure.h"
#include "report.h"

#include "core/link/clock.h"
#include "core/link/datagrams.h"
#include "core/link/udp_channel.h"
#include "core/settings/store.h"
#include "support/flood.h"
#include "support/panel_harness.h"
#include "support/panel_process.h"

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <limits>
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

// A store that keeps nothing, so the figures are the window's and the channel's.
class NullStore final : public settings::SettingsStore {
public:
    settings::ReadResult read(const QString &) const override { return {}; }
    bool write(const QString &, const QString &) override { return true; }
};

// How late a 10 ms timer on the window's thread comes round, tick by tick,
// with the thread's CPU time in the latest interval.
class LatenessProbe {
public:
    LatenessProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(kTickMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
    }
    void start() { m_timer.start(); }
    void stop() { m_timer.stop(); }
    // The lateness so far; the probe starts over.
    Summary take()
    {
        const Summary s = summarize(m_lateness);
        m_lateness.clear();
        worstLate = -1;
        return s;
    }

    double worstLate = -1; // the latest tick's lateness, ms
    double worstLateCpuMs = 0; // the thread's CPU time in its interval

private:
    void tick()
    {
        const std::int64_t now = monotonicNs();
        const std::int64_t cpu = threadCpuNs();
        if (m_lastTickNs != 0) {
            const double late = std::max(0.0, nsToMs(now - m_lastTickNs) - kTickMs);
            m_lateness.push_back(late);
            if (late > worstLate) {
                worstLate = late;
                worstLateCpuMs = nsToMs(cpu - m_lastTickCpuNs);
            }
        }
        m_lastTickNs = now;
        m_lastTickCpuNs = cpu;
    }

    QTimer m_timer;
    std::vector<double> m_lateness;
    std::int64_t m_lastTickNs = 0, m_lastTickCpuNs = 0;
};

struct Figures {
    Summary idle, flood;
    double worstLate = 0, worstLateCpuMs = 0;
    qint64 rssBefore = 0, rssAfter = 0;
    long long arrivals = 0;
    int sent = 0;
    double senderMs = 0, floodMs = 0;
    bool answered = false;
};

bool report(const Figures &f, long long total, int batch, const std::string &csvDir)
{
    const double growthKiB = double(f.rssAfter - f.rssBefore);
    Report report("flood",
                  std::to_string(total) + " datagrams at the window's UDP channel (sendmmsg, batches of "
                      + std::to_string(batch) + ")");
    report.addSummary("event loop lateness during flood", f.flood, "ms",
                      "worst <= " + fixed(kGoalLatenessMs, 0) + " ms", ratioText(f.flood.max, f.idle.max),
                      verdict(f.flood.max <= kGoalLatenessMs));
    report.addValue("window thread's CPU in the worst interval", f.worstLateCpuMs, "ms");
    report.addSummary("floor: lateness without traffic (1 s)", f.idle, "ms");
    report.addValue("VmRSS growth over the flood", growthKiB, "KiB", "<= 2048 KiB", {},
                    verdict(growthKiB <= kGoalGrowthKiB));
    report.addValue("VmRSS before the flood", double(f.rssBefore), "KiB");
    report.addValue("VmRSS after the flood", double(f.rssAfter), "KiB");
    report.addValue("key afterwards -> frequency datagram", f.answered ? 1 : 0, "1 = yes", "answers", {},
                    verdict(f.answered));
    report.addValue("datagrams sent", double(f.sent), "datagrams");
    report.addValue("arrivals handled by the window", double(f.arrivals), "datagrams");
    report.addValue("sender's time for all datagrams", f.senderMs, "ms");
    report.addValue("flood phase (to 300 ms of quiet)", f.floodMs, "ms");
    report.note("the worst interval lasted " + fixed(f.worstLate + kTickMs, 1)
                + " ms; the window's thread ran for the CPU time above of it (the rest it waited for a core)");
    report.note("'x floor' = worst lateness with the flood / worst without; datagrams the kernel dropped because "
                "the channel's socket buffer was full never reach the window");
    return report.finish(csvDir);
}

// Runs the flood prepared in `sender` until nothing has arrived for 300 ms
// after it finished (at most 60 s), with the probe running.
void runFlood(test::Flood &sender, LatenessProbe &probe, const std::int64_t &lastArrivalNs, Figures &figures)
{
    const std::int64_t floodStart = monotonicNs();
    sender.go();
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
    figures.floodMs = nsToMs(monotonicNs() - floodStart);
    probe.stop();
    figures.worstLate = probe.worstLate;
    figures.worstLateCpuMs = probe.worstLateCpuMs;
    figures.flood = probe.take();
    if (!sender.done())
        fail("the sender did not finish within 60 s");
    figures.sent = sender.sent();
    figures.senderMs = nsToMs(sender.duration().count());
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv, {{"datagrams", "100000"}, {"batch", "64"}, {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback();
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const long long total = options.number("datagrams");
    if (total > std::numeric_limits<int>::max())
        fail("--datagrams is too large");
    const int batch = int(std::clamp<long long>(options.number("batch"), 1, 1024));

    Receiver unit;
    test::Panel<link::UdpChannel, NullStore, link::SteadyClock> panel;
    link::UdpChannel &channel = panel.channel;
    if (!channel.setDestination(QStringLiteral("127.0.0.1"), unit.port()))
        fail("the channel refused 127.0.0.1");
    window::FormMain &form = *panel.form;
    if (!panel.showForKeys(&form.controls().txtFreq))
        fail("the window was not shown");

    // The first send binds the channel's socket.
    if (!channel.send(link::heartbeatCommand()) || channel.localPort() == 0)
        fail("the channel did not bind on its first send");
    if (!unit.waitFor(link::opcode::Heartbeat, 2000))
        fail("the first heartbeat did not arrive");
    form.controls().tmrHB.start();

    Figures figures;
    std::int64_t lastArrivalNs = 0;
    QObject::connect(&channel, &link::Channel::arrived, [&] {
        ++figures.arrivals;
        lastArrivalNs = monotonicNs();
    });
    LatenessProbe probe;

    // The sender's thread and its buffers are made before the first reading
    // of the resident size; it waits for go().
    test::Flood sender(QHostAddress(QHostAddress::LocalHost), channel.localPort(), {QHostAddress()});
    if (!sender.ready())
        fail("no socket to send the flood from");
    sender.prepare({.sizes = {},
                    .count = int(total),
                    .burst = int(total),
                    .pause = {},
                    .payloads = {QByteArray("ok")},
                    .perCall = batch});

    // The floor: one second of the same probe without traffic.
    probe.start();
    QTest::qWait(1000);
    figures.idle = probe.take();
    unit.drain();
    figures.rssBefore = test::statusKiB(getpid(), "VmRSS");

    // The flood.
    figures.arrivals = 0;
    runFlood(sender, probe, lastArrivalNs, figures);

    QCoreApplication::processEvents();
    figures.rssAfter = test::statusKiB(getpid(), "VmRSS");

    // Still answering: a key, and its frequency datagram at the unit.
    unit.drain();
    const QString before = form.controls().txtFreq.text();
    QTest::keyClick(&form.controls().txtFreq, '5');
    const bool textChanged = form.controls().txtFreq.text() == before + QLatin1Char('5');
    int skipped = 0;
    figures.answered = textChanged && unit.waitFor(link::opcode::Frequency, 2000, &skipped).has_value();
    const bool written = report(figures, total, batch, options.text("csv-dir"));
    return written && figures.answered ? 0 : 1;
}
