// The control endpoint (veloxa2-gui --control) as a script meets it.
//
// (a) Request to datagram: a client on the endpoint sends `set txtFreq`,
//     alternating "12.34" and "12.345", so every request changes the box and
//     sends the frequency command (and the polarity repeat). A sample runs
//     from just before the request is written to the kernel's arrival stamp
//     (SO_TIMESTAMPNS) of the frequency datagram at a socket on
//     127.0.0.1:37829; the answer is read before the next request.
// (b) What a subscriber costs: the same panel gets `click optDdsPolarity`,
//     alternating 1 and 0, 50 a second; each sends the polarity command and
//     changes the option: a "sent" and a "changed" event, 100 events a second
//     for a subscriber (the unit here listens and never answers, so there
//     are no arrivals; the heartbeat adds one a second). Arms without and with a subscriber that reads every
//     event alternate (without, with, with, without, ...) in --rounds rounds
//     of --round-seconds each; the panel's CPU time over each arm is the sum
//     of its threads' run time (/proc/<pid>/task/*/schedstat, nanoseconds),
//     with utime + stime from /proc/<pid>/stat beside it.
// (c) Idle: three panels idle side by side against veloxa2-unit-sim on
//     127.0.0.1:37829 for --idle-seconds: one without --control (the floor),
//     one with the endpoint open and no client, one with the endpoint and an
//     idle subscriber (read by this program); their CPU times are compared
//     from --settle-seconds after the start.
//
// Every panel starts with fresh settings holding only "IP Address" =
// 127.0.0.1, on the offscreen platform. The client is veloxa2-ctl's
// (ctl::PanelConnection), as a script meets the endpoint through it.

#include "measure.h"
#include "report.h"

#include "panel_client.h"
#include "support/panel_process.h"
#include "support/unit_sim.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <poll.h>
#include <unistd.h>

using namespace veloxa;
using namespace veloxa::bench;
using ctl::PanelConnection;

namespace {

constexpr double kGoalMedianMs = 1.0;
constexpr double kGoalP99Ms = 5.0;
constexpr double kGoalSubscriberRatio = 1.05;
constexpr double kGoalIdleRatio = 1.10;
constexpr std::uint16_t kUnitPort = 37829;
constexpr std::uint8_t kFrequency = 0xA5;
constexpr std::uint8_t kPolarity = 0x70;
constexpr int kAnswerMs = 5000;

const char kUsage[] =
    "bench_control [--requests N] [--warmup N] [--rounds N] [--round-seconds N] [--clicks-per-second N]\n"
    "              [--idle-seconds N] [--settle-seconds N] [--gui PATH] [--sim PATH] [--csv-dir DIR]\n"
    "  (a) set txtFreq on the endpoint -> frequency datagram at 127.0.0.1:37829 (default 1000 requests);\n"
    "  (b) the panel's CPU with and without a subscriber at 100 events/s (4 rounds of 5 s per arm);\n"
    "  (c) idle with the endpoint and one idle subscriber against idle without --control (60 s).";

// The panel started with fresh settings holding only "IP Address" = 127.0.0.1.
using Panel = LoopbackPanel;

// Ends the program (the panel stopped first) when the endpoint does not
// take the connection within waitMs.
void connectTo(PanelConnection &client, Panel &panel, int waitMs)
{
    if (panel.environment.openEndpoint(client, waitMs))
        return;
    test::stopPolitely(panel.process);
    fail("no endpoint at " + panel.environment.endpointPath().toStdString() + " within " + std::to_string(waitMs / 1000)
         + " s");
}

// The answer to request `id`, its "result"; ends the program on an error
// answer or none.
QJsonValue resultOf(PanelConnection &client, int id, const std::string &method)
{
    const auto answer = client.answer(id, kAnswerMs);
    if (!answer)
        fail("no answer to " + method + " within 5 s");
    if (answer->contains(QLatin1String("error")))
        fail(method + " was refused: " + QJsonDocument(*answer).toJson(QJsonDocument::Compact).toStdString());
    return answer->value(QLatin1String("result"));
}

QJsonValue call(PanelConnection &client, const QString &method, const QJsonObject &params = {})
{
    return resultOf(client, client.send(method, params), method.toStdString());
}

// Reads every whole line that has come without waiting; how many (events
// for a subscriber), -1 when the panel closed the connection.
int takeEvents(PanelConnection &client)
{
    int lines = 0;
    while (client.nextMessage(0))
        ++lines;
    return client.isOpen() ? lines : -1;
}

// (a)
void requestToDatagram(Report &report, PanelConnection &client, Receiver &unit, long long requests, long long warmup)
{
    std::vector<double> toArrival, toAnswer;
    std::vector<std::uint8_t> previous;
    int skipped = 0;
    for (long long i = 0; i < warmup + requests; ++i) {
        const QString text = i % 2 == 0 ? QStringLiteral("12.345") : QStringLiteral("12.34");
        unit.drain();
        const std::int64_t start = realtimeNs();
        const int id = client.send(QStringLiteral("set"), {{"name", "txtFreq"}, {"value", text}});
        const auto frequency = unit.waitFor(kFrequency, 2000, &skipped);
        if (!frequency)
            fail("no frequency datagram arrived within 2 s of a set request");
        const QJsonValue result = resultOf(client, id, "set txtFreq");
        const std::int64_t answered = realtimeNs();
        if (result != QJsonValue(text))
            fail("set txtFreq " + text.toStdString() + " did not leave the box at " + text.toStdString());
        if (!unit.waitFor(kPolarity, 2000, &skipped))
            fail("no polarity datagram followed the frequency datagram");
        if (frequency->bytes.size() != 6 || frequency->bytes == previous)
            fail("the frequency datagram is not the 6-byte command for the new text");
        previous = frequency->bytes;
        if (i >= warmup) {
            toArrival.push_back(nsToMs(frequency->kernelNs - start));
            toAnswer.push_back(nsToMs(answered - start));
        }
    }
    const Summary arrival = summarize(toArrival);
    report.addSummary("(a) set txtFreq request -> frequency datagram arrival", arrival, "ms",
                      "median <= " + fixed(kGoalMedianMs, 1) + " ms; p99 <= " + fixed(kGoalP99Ms, 1) + " ms", {},
                      verdict(arrival.median <= kGoalMedianMs && arrival.p99 <= kGoalP99Ms));
    report.addSummary("(a) set txtFreq request -> its answer read", summarize(toAnswer), "ms");
    if (skipped > 0)
        report.note("(a) " + std::to_string(skipped) + " other datagrams (heartbeats) were dropped on the way");
}

struct Arm {
    double cpu = 0; // schedstat, s
    double statCpu = 0; // utime + stime, s
    double seconds = 0;
    long long events = 0;
};

// One arm of (b): clicks at the given rate for `seconds`, with or without a
// subscriber that reads everything.
Arm clickArm(Panel &panel, PanelConnection &client, Receiver &unit, bool subscriber, long long seconds,
             long long perSecond, int &polarity)
{
    PanelConnection watcher;
    if (subscriber) {
        connectTo(watcher, panel, 5000);
        if (call(watcher, QStringLiteral("subscribe")) != QJsonValue(true))
            fail("subscribe did not answer true");
    }
    sleepMs(200); // the subscriber counted in, or the last one's leaving done
    unit.drain();
    if (subscriber)
        takeEvents(watcher);

    Arm arm;
    const double cpuStart = threadsRunSeconds(panel.pid());
    const double statStart = cpuSeconds(panel.pid());
    const std::int64_t start = monotonicNs();
    const std::int64_t period = 1000000000 / perSecond;
    const long long clicks = seconds * perSecond;
    for (long long k = 0; k < clicks; ++k) {
        for (;;) { // until the next click is due: read the subscriber, drop what the unit got
            const std::int64_t left = start + k * period - monotonicNs();
            if (left <= 0)
                break;
            pollfd p[2] = {{unit.fd(), POLLIN, 0}, {int(watcher.descriptor()), POLLIN, 0}};
            if (::poll(p, subscriber ? 2 : 1, int((left + 999999) / 1000000)) > 0) {
                unit.drain();
                if (subscriber) {
                    const int lines = takeEvents(watcher);
                    if (lines < 0)
                        fail("the panel dropped the subscriber");
                    arm.events += lines;
                }
            }
        }
        polarity = 1 - polarity;
        if (call(client, QStringLiteral("click"), {{"name", "optDdsPolarity"}, {"index", polarity}})
            != QJsonValue(polarity))
            fail("click optDdsPolarity did not select the option");
    }
    arm.seconds = double(monotonicNs() - start) / 1e9;
    arm.cpu = threadsRunSeconds(panel.pid()) - cpuStart;
    arm.statCpu = cpuSeconds(panel.pid()) - statStart;
    if (subscriber) {
        sleepMs(50);
        const int lines = takeEvents(watcher);
        arm.events += lines > 0 ? lines : 0;
    }
    return arm;
}

// (b)
void subscriberCost(Report &report, Panel &panel, PanelConnection &client, Receiver &unit, long long rounds,
                    long long roundSeconds, long long perSecond)
{
    Arm without, with;
    int polarity = 0;
    const auto add = [](Arm &total, const Arm &arm) {
        total.cpu += arm.cpu;
        total.statCpu += arm.statCpu;
        total.seconds += arm.seconds;
        total.events += arm.events;
    };
    for (long long round = 0; round < rounds; ++round) {
        const bool subscriberFirst = round % 2 == 1; // without, with | with, without | ...
        for (const bool subscriber : {subscriberFirst, !subscriberFirst})
            add(subscriber ? with : without,
                clickArm(panel, client, unit, subscriber, roundSeconds, perSecond, polarity));
    }
    const double ratio = without.cpu > 0 ? with.cpu / without.cpu : 0;
    report.addValue("(b) panel CPU with a subscriber (run time of its threads)", with.cpu, "s",
                    "<= " + fixed(kGoalSubscriberRatio, 2) + " x without", ratioText(with.cpu, without.cpu),
                    verdict(without.cpu > 0 && ratio <= kGoalSubscriberRatio));
    report.addValue("(b) floor: panel CPU without a subscriber", without.cpu, "s");
    report.addValue("(b) the same from /proc/<pid>/stat: with", with.statCpu, "s", {},
                    ratioText(with.statCpu, without.statCpu));
    report.addValue("(b) the same from /proc/<pid>/stat: without", without.statCpu, "s");
    report.addValue("(b) events the subscriber read", double(with.events) / with.seconds, "events/s");
    report.addValue("(b) (CPU with - without) / events read",
                    with.events > 0 ? (with.cpu - without.cpu) / double(with.events) * 1e6 : 0, "us");
    report.note("(b) " + std::to_string(perSecond) + " clicks of optDdsPolarity a second, " + std::to_string(rounds)
                + " rounds of " + std::to_string(roundSeconds) + " s per arm (" + fixed(with.seconds, 1) + " s with, "
                + fixed(without.seconds, 1) + " s without)");
}

// CPU times of the three idle panels: without --control, with the endpoint
// and no client, with an idle subscriber.
struct IdleFigures {
    std::vector<double> cpu, stat;
    long long events = 0;
};

void reportIdle(Report &report, const IdleFigures &f, long long idleSeconds, long long settleSeconds)
{
    const std::string idle = "(c) idle " + std::to_string(idleSeconds) + " s ";
    report.addValue(idle + "with the endpoint and an idle subscriber: CPU", f.cpu[2], "s",
                    "<= " + fixed(kGoalIdleRatio, 2) + " x without --control", ratioText(f.cpu[2], f.cpu[0]),
                    verdict(f.cpu[0] > 0 && f.cpu[2] <= kGoalIdleRatio * f.cpu[0]));
    report.addValue(idle + "with the endpoint and no client: CPU", f.cpu[1], "s", {}, ratioText(f.cpu[1], f.cpu[0]));
    report.addValue("(c) floor: idle without --control: CPU", f.cpu[0], "s");
    report.addValue("(c) the same from /proc/<pid>/stat: subscriber", f.stat[2], "s", {},
                    ratioText(f.stat[2], f.stat[0]));
    report.addValue("(c) the same from /proc/<pid>/stat: no client", f.stat[1], "s", {},
                    ratioText(f.stat[1], f.stat[0]));
    report.addValue("(c) the same from /proc/<pid>/stat: without --control", f.stat[0], "s");
    report.addValue("(c) events the idle subscriber read", double(f.events), "events");
    report.note("(c) three panels idle side by side against veloxa2-unit-sim, measured from "
                + std::to_string(settleSeconds) + " s after their start");
}

// (c)
void idleCost(Report &report, const Options &options, long long idleSeconds, long long settleSeconds)
{
    test::UnitSim sim;
    if (!sim.start(QString::fromStdString(options.text("sim")), QStringLiteral("127.0.0.1"), kUnitPort))
        fail("veloxa2-unit-sim did not listen on 127.0.0.1:37829 within 10 s");
    const QStringList control{QStringLiteral("--control")};
    Panel plain(options.text("gui"), {}), open(options.text("gui"), control), watched(options.text("gui"), control);
    const std::vector<Panel *> panels = {&plain, &open, &watched};
    const auto stopAll = [&] {
        for (Panel *panel : panels)
            test::stopPolitely(panel->process);
        test::stopPolitely(sim.process());
    };
    PanelConnection subscriber;
    connectTo(subscriber, watched, 10000);
    if (call(subscriber, QStringLiteral("subscribe")) != QJsonValue(true))
        fail("subscribe did not answer true");

    IdleFigures figures;
    const auto readUntil = [&](std::int64_t end) {
        for (std::int64_t left = end - monotonicNs(); left > 0; left = end - monotonicNs()) {
            pollfd p{int(subscriber.descriptor()), POLLIN, 0};
            if (::poll(&p, 1, int((left + 999999) / 1000000)) > 0) {
                const int lines = takeEvents(subscriber);
                if (lines < 0)
                    fail("the panel dropped the idle subscriber");
                figures.events += lines;
            }
            sim.collect(); // its output never fills the pipe
        }
    };
    readUntil(monotonicNs() + settleSeconds * 1000000000);
    for (Panel *panel : panels)
        if (!test::stillRunning(panel->process)) {
            stopAll();
            fail("a panel ended during start-up");
        }
    figures.events = 0;
    for (Panel *panel : panels) {
        figures.cpu.push_back(-threadsRunSeconds(panel->pid()));
        figures.stat.push_back(-cpuSeconds(panel->pid()));
    }
    readUntil(monotonicNs() + idleSeconds * 1000000000);
    bool allRan = true;
    for (std::size_t i = 0; i < panels.size(); ++i) {
        figures.cpu[i] += threadsRunSeconds(panels[i]->pid());
        figures.stat[i] += cpuSeconds(panels[i]->pid());
        allRan = allRan && test::stillRunning(panels[i]->process);
    }
    subscriber.abort();
    stopAll();
    if (!allRan)
        fail("a panel ended during the idle run");
    reportIdle(report, figures, idleSeconds, settleSeconds);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options(argc, argv,
                          {{"requests", "1000"},
                           {"warmup", "50"},
                           {"rounds", "4"},
                           {"round-seconds", "5"},
                           {"clicks-per-second", "50"},
                           {"idle-seconds", "60"},
                           {"settle-seconds", "3"},
                           {"gui", VELOXA_GUI_PATH},
                           {"sim", VELOXA_SIM_PATH},
                           {"csv-dir", VELOXA_BENCH_RESULTS}},
                          kUsage);
    requireIsolatedLoopback();
    const long long perSecond = options.number("clicks-per-second");
    if (perSecond < 1 || options.number("idle-seconds") < 1 || options.number("round-seconds") < 1)
        fail("--clicks-per-second, --idle-seconds and --round-seconds must be at least 1");
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);

    Report report("control", "the control endpoint: request -> datagram, a subscriber's cost, idle");
    {
        Receiver unit(kUnitPort); // a unit that listens and never answers
        Panel panel(options.text("gui"), {QStringLiteral("--control")});
        PanelConnection client;
        connectTo(client, panel, 10000);
        requestToDatagram(report, client, unit, options.number("requests"), options.number("warmup"));
        subscriberCost(report, panel, client, unit, options.number("rounds"), options.number("round-seconds"),
                       perSecond);
        client.abort();
    }
    idleCost(report, options, options.number("idle-seconds"), options.number("settle-seconds"));
    report.note("arrival = the kernel's receive stamp (SO_TIMESTAMPNS); CPU = the run time of the panel's threads "
                "(/proc/<pid>/task/*/schedstat, ns), /proc/<pid>/stat counts in "
                + std::to_string(sysconf(_SC_CLK_TCK)) + "ths of a second");
    return report.finish(options.text("csv-dir")) ? 0 : 1;
}
