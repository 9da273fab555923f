// The broker bridge (veloxa2-gui --mqtt) on a mosquitto started here on
// 127.0.0.1 (a free port, a scratch configuration).
//
// (a) Command to datagram: a publisher (libmosquitto, its own network
//     thread) publishes set/txtFreq, alternating "12.34" and "12.345", to a
//     panel with --mqtt-commands; a sample runs from just before the publish
//     to the kernel's arrival stamp (SO_TIMESTAMPNS) of the frequency
//     datagram at a socket on 127.0.0.1:37829.
// (b) What the bridge costs: two panels side by side, one with --mqtt and one
//     without, get `click optDdsPolarity` on their control endpoints,
//     alternating 1 and 0, --changes-per-second, one panel at a time in
//     --rounds turns of --round-seconds each (with, without | without, with
//     | ...), a fresh pair each round; each click changes the option and
//     sends the polarity command. The window's CPU over its own turns is the
//     run time of the panel's main thread (/proc/<pid>/task/<pid>/schedstat);
//     the whole process's, the bridge's thread included, is shown beside it.
// (c) Idle: such pairs idle against veloxa2-unit-sim, --idle-rounds of them
//     one after the other for --idle-seconds in all, each compared from
//     --settle-seconds after its start.
// The two panels of a pair run on one CPU, the last, all their threads, and
// take turns at being started first. On a virtual machine, two like panels
// on CPUs of their own differed by up to a third over 15 to 30 s; on one CPU
// by a few per cent, the one started first mostly the cheaper.

#include "measure.h"
#include "report.h"

#include "core/broker/broker_options.h"
#include "panel_client.h"
#include "support/panel_process.h"
#include "support/unit_sim.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <mosquitto.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>

using namespace veloxa;
using namespace veloxa::bench;
using ctl::PanelConnection;

namespace {

constexpr double kGoalMedianMs = 2.0;
constexpr double kGoalP99Ms = 10.0;
constexpr double kGoalRatio = 1.10;
constexpr std::uint16_t kUnitPort = 37829;
constexpr std::uint8_t kFrequency = 0xA5;

const char kUsage[] =
    "bench_broker [--commands N] [--warmup N] [--rounds N] [--round-seconds N] [--changes-per-second N]\n"
    "             [--idle-seconds N] [--idle-rounds N] [--settle-seconds N] [--gui PATH] [--sim PATH]\n"
    "             [--csv-dir DIR]\n"
    "  (a) set/txtFreq published -> frequency datagram at 127.0.0.1:37829 (default 1000);\n"
    "  (b) the window's CPU with and without the bridge at 100 control changes/s (4 rounds of 5 s per arm);\n"
    "  (c) idle with the bridge against idle without it (60 s in 4 pairs).";

// A failure that unwinds, so that the broker and the panels started so far
// are stopped on the way out; main() reports it.
struct Failed {
    std::string what;
};
[[noreturn]] void failHere(const std::string &what)
{
    throw Failed{what};
}

// mosquitto on 127.0.0.1, anonymous, without persistence.
class Broker {
public:
    Broker()
    {
        QTcpServer probe; // a free port
        if (!probe.listen(QHostAddress::LocalHost))
            failHere("no free port on 127.0.0.1");
        m_port = probe.serverPort();
        probe.close();
        const QString config = m_folder.filePath(QStringLiteral("mosquitto.conf"));
        std::ofstream(config.toStdString()) << "listener " << m_port << " 127.0.0.1\nallow_anonymous true\n"
                                            << "persistence false\nset_tcp_nodelay true\n"
                                            << (::geteuid() == 0 ? "user root\n" : "");
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice()); // mosquitto logs every connection there
        m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config});
        for (int tries = 0; tries < 100; ++tries) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(100))
                return;
            sleepMs(50);
        }
        failHere("mosquitto did not listen within 5 s");
    }
    ~Broker() { test::stopPolitely(m_process); }
    Broker(const Broker &) = delete;
    Broker &operator=(const Broker &) = delete;

    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }
    std::uint16_t port() const { return m_port; }

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    std::uint16_t m_port = 0;
};

using Panel = LoopbackPanel;

double windowThreadSeconds(qint64 pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/schedstat");
    unsigned long long ns = 0;
    return file >> ns ? double(ns) / 1e9 : -1;
}

void connectTo(PanelConnection &client, Panel &panel)
{
    if (!panel.environment.openEndpoint(client, 10000))
        failHere("no endpoint at " + panel.environment.endpointPath().toStdString() + " within 10 s");
}

// (a)
void commandToDatagram(Report &report, const Options &options, const Broker &broker, Receiver &unit)
{
    // The panel of this machine's own unit name: its store is the one seeded.
    Panel panel(options.text("gui"), {QStringLiteral("--mqtt"), broker.url(), QStringLiteral("--mqtt-commands")});
    const std::string topic = broker::unitTopic(broker::defaultUnitName(), {}).toStdString();
    mosquitto_lib_init();
    mosquitto *publisher = mosquitto_new(nullptr, true, nullptr);
    if (publisher)
        mosquitto_int_option(publisher, MOSQ_OPT_TCP_NODELAY, 1);
    if (!publisher || mosquitto_connect(publisher, "127.0.0.1", broker.port(), 30) != MOSQ_ERR_SUCCESS
        || mosquitto_loop_start(publisher) != MOSQ_ERR_SUCCESS)
        failHere("the publisher could not connect to the broker");
    // The bridge has subscribed once a command of ours is carried out.
    bool ready = false;
    for (int tries = 0; tries < 200 && !ready; ++tries) {
        mosquitto_publish(publisher, nullptr, (topic + "click/cmdDdsReg").c_str(), 0, nullptr, 0, false);
        ready = unit.waitFor(0xB0, 100).has_value();
    }
    if (!ready)
        failHere("the panel did not carry out a command within 20 s");

    std::vector<double> samples;
    int skipped = 0;
    const long long warmup = options.number("warmup");
    for (long long i = 0; i < warmup + options.number("commands"); ++i) {
        const char *text = i % 2 == 0 ? "12.345" : "12.34";
        unit.drain();
        const std::int64_t start = realtimeNs();
        mosquitto_publish(publisher, nullptr, (topic + "set/txtFreq").c_str(), int(std::strlen(text)), text, 0, false);
        const auto frequency = unit.waitFor(kFrequency, 2000, &skipped);
        if (!frequency)
            failHere("no frequency datagram arrived within 2 s of a set/txtFreq");
        if (i >= warmup)
            samples.push_back(nsToMs(frequency->kernelNs - start));
        sleepMs(2); // the polarity repeat and the events go before the next
    }
    mosquitto_loop_stop(publisher, true);
    mosquitto_destroy(publisher);
    const Summary arrival = summarize(samples);
    report.addSummary("(a) set/txtFreq published -> frequency datagram arrival", arrival, "ms",
                      "median <= " + fixed(kGoalMedianMs, 1) + " ms; p99 <= " + fixed(kGoalP99Ms, 1) + " ms", {},
                      verdict(arrival.median <= kGoalMedianMs && arrival.p99 <= kGoalP99Ms));
}

struct Cpu {
    double window = 0, process = 0;
    void add(qint64 pid, double sign)
    {
        window += sign * windowThreadSeconds(pid);
        process += sign * threadsRunSeconds(pid);
    }
};

void compare(Report &report, const std::string &what, const Cpu &with, const Cpu &without)
{
    report.addValue(what + ": the window's CPU with the bridge", with.window, "s",
                    "<= " + fixed(kGoalRatio, 2) + " x without", ratioText(with.window, without.window),
                    verdict(without.window > 0 && with.window <= kGoalRatio * without.window));
    report.addValue(what + ": the window's CPU without (floor)", without.window, "s");
    report.addValue(what + ": the whole process with the bridge", with.process, "s", {},
                    ratioText(with.process, without.process));
    report.addValue(what + ": the whole process without", without.process, "s");
}

// A panel with the bridge and one without, on the CPU they share, started in
// the order given: of two like panels, the one started first tended to be
// measured a little cheaper, so the rounds take turns.
struct Pair {
    std::unique_ptr<Panel> bridged, plain;

    Pair(const Options &options, const QStringList &bridgedArguments, const QStringList &plainArguments,
         bool bridgedFirst)
    {
        const auto start = [&](const QStringList &arguments) {
            return std::make_unique<Panel>(options.text("gui"), arguments, comparisonCpu());
        };
        if (bridgedFirst)
            bridged = start(bridgedArguments);
        plain = start(plainArguments);
        if (!bridgedFirst)
            bridged = start(bridgedArguments);
    }
};

// (b)
void changeCost(Report &report, const Options &options, const Broker &broker, Receiver &unit)
{
    const long long perSecond = options.number("changes-per-second");
    const long long changes = perSecond * options.number("round-seconds");
    const auto arm = [&](Panel &panel, PanelConnection &client, Cpu &cpu) {
        cpu.add(panel.pid(), -1);
        const std::int64_t start = monotonicNs();
        for (long long k = 0; k < changes; ++k) {
            while (monotonicNs() < start + k * 1000000000 / perSecond)
                sleepMs(1);
            const QJsonObject click{{"name", "optDdsPolarity"}, {"index", int(k % 2 == 0)}};
            if (!std::holds_alternative<QJsonValue>(client.call(QStringLiteral("click"), click)))
                failHere("click optDdsPolarity was refused or not answered");
            unit.drain();
        }
        cpu.add(panel.pid(), 1);
    };
    // A fresh pair each round, one panel at a time: with, without | without, with | ...
    Cpu with, without;
    for (long long round = 0; round < options.number("rounds"); ++round) {
        const bool bridgedFirst = round % 2 == 0;
        const Pair pair(options, {QStringLiteral("--control"), QStringLiteral("--mqtt"), broker.url()},
                        {QStringLiteral("--control")}, bridgedFirst);
        PanelConnection toBridged, toPlain;
        connectTo(toBridged, *pair.bridged);
        connectTo(toPlain, *pair.plain);
        sleepMs(1000);
        if (bridgedFirst) {
            arm(*pair.bridged, toBridged, with);
            arm(*pair.plain, toPlain, without);
        } else {
            arm(*pair.plain, toPlain, without);
            arm(*pair.bridged, toBridged, with);
        }
    }
    compare(report,
            "(b) " + std::to_string(perSecond) + " changes/s, " + options.text("rounds") + " x "
                + options.text("round-seconds") + " s",
            with, without);
}

// (c)
void idleCost(Report &report, const Options &options, const Broker &broker)
{
    test::UnitSim sim;
    if (!sim.start(QString::fromStdString(options.text("sim")), QStringLiteral("127.0.0.1"), kUnitPort))
        failHere("veloxa2-unit-sim did not listen on 127.0.0.1:37829 within 10 s");
    const auto waitSeconds = [&sim](double seconds) {
        for (const std::int64_t end = monotonicNs() + std::int64_t(seconds * 1e9); monotonicNs() < end;) {
            sleepMs(100);
            sim.collect(); // its output never fills the pipe
        }
    };
    const long long rounds = options.number("idle-rounds");
    Cpu with, without;
    for (long long round = 0; round < rounds; ++round) {
        const Pair pair(options, {QStringLiteral("--mqtt"), broker.url()}, {}, round % 2 == 0);
        waitSeconds(double(options.number("settle-seconds")));
        with.add(pair.bridged->pid(), -1);
        without.add(pair.plain->pid(), -1);
        waitSeconds(double(options.number("idle-seconds")) / double(rounds));
        with.add(pair.bridged->pid(), 1);
        without.add(pair.plain->pid(), 1);
        if (!test::stillRunning(pair.bridged->process) || !test::stillRunning(pair.plain->process))
            failHere("a panel ended during the idle run");
    }
    compare(report, "(c) idle " + options.text("idle-seconds") + " s in " + std::to_string(rounds) + " pairs", with,
            without);
    test::stopPolitely(sim.process());
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv,
                          {{"commands", "1000"},
                           {"warmup", "50"},
                           {"rounds", "4"},
                           {"round-seconds", "5"},
                           {"changes-per-second", "100"},
                           {"idle-seconds", "60"},
                           {"idle-rounds", "4"},
                           {"settle-seconds", "3"},
                           {"gui", VELOXA_GUI_PATH},
                           {"sim", VELOXA_SIM_PATH},
                           {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback();
    if (options.number("changes-per-second") < 1 || options.number("round-seconds") < 1
        || options.number("idle-seconds") < 1 || options.number("idle-rounds") < 1)
        fail("--changes-per-second, --round-seconds, --idle-seconds and --idle-rounds must be at least 1");
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);

    Report report("broker", "the broker bridge: command -> datagram, the cost of changes, idle");
    try {
        const Broker broker;
        {
            Receiver unit(kUnitPort); // a unit that listens and never answers
            commandToDatagram(report, options, broker, unit);
            changeCost(report, options, broker, unit);
        }
        idleCost(report, options, broker);
    } catch (const Failed &failure) {
        fail(failure.what);
    }
    report.note("mosquitto on 127.0.0.1, libmosquitto " + std::to_string(LIBMOSQUITTO_MAJOR) + "."
                + std::to_string(LIBMOSQUITTO_MINOR) + "." + std::to_string(LIBMOSQUITTO_REVISION)
                + "; arrival = the kernel's receive stamp (SO_TIMESTAMPNS); CPU = run time from "
                  "/proc/<pid>/task/*/schedstat; the panels compared in (b) and (c) on CPU "
                + std::to_string(comparisonCpu()));
    return report.finish(options.text("csv-dir")) ? 0 : 1;
}
